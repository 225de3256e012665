#include "LayerTestUdp.h"
#include "RDThread.h"
#include "RtpPortManager.h"
#include "SipCall.h"
#include "SipChannel.h"
#include "SipRtpSession.h"
#include "SipSippRunner.h"
#include "SipTestCapture.h"
#include "SipTestManager.h"
#include "SipTestPcap.h"
#include "SipTestPeer.h"
#include "SipTestWait.h"
#include "TestLogFile.h"
#include "TestSupport.h"
#include "TestTone.h"
#include "RtpPortManagerScope.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

namespace {

constexpr int kAccount = 12;

// Calls from SIPp (127.0.0.2, a second caller on 127.0.0.3) to the agent on 0.0.0.0, reached as
// 127.0.0.1, on a registration-off account with id 12: SIPp's "-s 12" at the agent's own address
// routes there.
class SipCallSippTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SONARIS_REQUIRE_COMMANDS("sipp");
        RtpPortManager::createInstance();
        RtpPortManagerScope::spread();
        m_manager = std::make_unique<SipTestManager>();
        m_manager->setLocalIp("127.0.0.1");
        m_manager->setT1(50);
    }

    void TearDown() override
    {
        m_manager.reset();
        RtpPortManager::destroyInstance();
    }

    // Starts the agent and adds the account; the data time-outs apply to its calls.
    void startAgent(double audioTimeout = SipCall::kAudioDataTimeout)
    {
        m_manager->setDataTimeouts(audioTimeout, SipCall::kVideoDataTimeout);
        for (int attempt = 0; attempt < 5 && !m_port; ++attempt) {
            const int port = SipTestPeer::freePort("0.0.0.0");
            if (m_manager->init(port, 0) == 0)
                m_port = port;
        }
        ASSERT_GT(m_port, 0);
        SipAccountInfo info = SipTestManager::account(kAccount, "127.0.0.6", 5060, "desk");
        info.mode = SipAccountInfo::kModeRegistrationOff;
        m_channel = m_manager->addChannel(info);
        ASSERT_TRUE(m_channel);
    }

    QString target() const { return "127.0.0.1:" + QString::number(m_port); }

    // The one call that reached the channel.
    std::shared_ptr<SipCall> onlyCall() const
    {
        const auto calls = m_manager->incomingCalls();
        return calls.size() == 1 ? calls[0] : nullptr;
    }

    static std::string text(const SipSippRunner::Run& run) { return run.describe(); }

    std::unique_ptr<SipTestManager> m_manager;
    std::shared_ptr<SipChannel> m_channel;
    int m_port = 0;
};

std::vector<std::string> withoutDtmf(std::vector<std::string> history)
{
    history.erase(std::remove(history.begin(), history.end(), "dtmf"), history.end());
    return history;
}

} // namespace

// SIPp's uac_pcap plays a recording of a 1 kHz PCMA tone (made here: ffmpeg encodes the tone to
// A-law, SipTestPcap wraps it into RTP packets of 20 ms in a pcap file, SIPp replays their RTP
// to the port our answer named) and then a DTMF "1". The call is answered with PCMA and the
// event type, the tone reaches the call's device, the "1" is reported, and what the call sends
// back is PCMA silence (0xD5) every 20 ms, as tshark dissects it on the wire. The BYE ends the
// call: closed, stopped, removed.
TEST_F(SipCallSippTest, PcapCallAudioInSilenceOut)
{
    SONARIS_REQUIRE_COMMANDS("ffmpeg", "tshark");
    startAgent();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(QDir(dir.path()).mkpath("pcap"));
    const QString alawPath = dir.filePath("tone.alaw");
    ASSERT_TRUE(TestSupport::makeTone(alawPath, 1000, 3.0, {"-f", "alaw", "-ar", "8000", "-ac", "1"}));
    QFile alaw(alawPath);
    ASSERT_TRUE(alaw.open(QIODevice::ReadOnly));
    const QByteArray tone = alaw.readAll();
    ASSERT_GE(tone.size(), 24000);
    ASSERT_TRUE(SipTestPcap::write(dir.filePath("pcap/g711a.pcap"), SipTestPcap::pcmaStream(tone)));
    ASSERT_TRUE(SipTestPcap::write(dir.filePath("pcap/dtmf_2833_1.pcap"), SipTestPcap::telephoneEvent(1, 4)));

    SipTestCapture capture;
    ASSERT_TRUE(capture.start("udp and host 127.0.0.2")) << capture.error().toStdString();
    SipSippRunner caller;
    caller.setWorkingDirectory(dir.path());
    ASSERT_TRUE(caller.start({"-sn", "uac_pcap", "-s", QString::number(kAccount), target()}, 1));
    const SipSippRunner::Run run = caller.finish();
    EXPECT_EQ(run.exitCode, 0) << text(run);
    ASSERT_TRUE(m_manager->waitFor("removed", 1, 5000));
    capture.stop();

    const auto call = onlyCall();
    ASSERT_TRUE(call);
    EXPECT_EQ(withoutDtmf(m_manager->callHistory(call->cid)),
              std::vector<std::string>({"incoming", "started", "ack", "closed", "stopped", "removed"}));
    EXPECT_EQ(call->state, SipCall::Terminated);
    EXPECT_TRUE(m_channel->calls().empty());
    const auto media = call->audioMedia();
    EXPECT_EQ(media->sendPayload->payloadType, 8);
    EXPECT_EQ(media->recvPayload->payloadType, 8);

    // The caller's tone, as the call handed it on.
    const auto devices = m_manager->devices();
    ASSERT_EQ(devices.size(), 1u);
    const QByteArray received = devices[0]->audio();
    EXPECT_NEAR(received.size() / 8000.0, tone.size() / 8000.0, 0.1) << "every 20 ms frame arrived";
    const TestTone::Result measured = TestTone::measure(received, {"-f", "alaw", "-ar", "8000", "-ac", "1"}, 8000, 1000);
    ASSERT_TRUE(measured.decoded);
    EXPECT_NEAR(measured.frequency, 1000.0, 5.0);
    EXPECT_NEAR(measured.rms, 0.125 / std::sqrt(2.0), 0.01) << "ffmpeg's sine has amplitude 1/8";
    EXPECT_GE(m_manager->count("dtmf"), 1);
    bool ended = false;
    for (const auto& record : m_manager->records())
        ended |= record.what == "dtmf" && record.detail == "1/1";
    EXPECT_TRUE(ended) << "the end of DTMF 1";

    // Our RTP to SIPp's media port: PCMA silence, 20 ms apart.
    const QString port = QString::number(caller.mediaPort());
    const QStringList packets =
        capture.fields({"udp.port==" + port + ",rtp"}, "udp.dstport==" + port,
                       {"frame.time_relative", "rtp.p_type", "rtp.timestamp", "rtp.seq", "rtp.payload", "_ws.malformed"});
    ASSERT_GT(packets.size(), 300) << "about 9 s of the call";
    double first = -1;
    double last = -1;
    double previous = -1;
    double worstGap = 0;
    qint64 previousTimestamp = -1;
    int previousSequence = -1;
    const QString silence = QString("d5").repeated(160);
    for (const QString& line : packets) {
        const QStringList f = line.split(';');
        ASSERT_EQ(f.size(), 6) << line.toStdString();
        EXPECT_EQ(f[1], "8") << line.toStdString();
        EXPECT_TRUE(f[5].isEmpty()) << "malformed: " << line.toStdString();
        EXPECT_EQ(QString(f[4]).remove(':'), silence) << line.toStdString();
        const qint64 timestamp = f[2].toLongLong();
        const int sequence = f[3].toInt();
        if (previousTimestamp >= 0) {
            EXPECT_EQ((timestamp - previousTimestamp) & 0xFFFFFFFF, 160);
            EXPECT_EQ((sequence - previousSequence) & 0xFFFF, 1);
        }
        previousTimestamp = timestamp;
        previousSequence = sequence;
        const double time = f[0].toDouble();
        if (first < 0)
            first = time;
        if (previous >= 0)
            worstGap = std::max(worstGap, time - previous);
        previous = last = time;
    }
    const double interval = (last - first) / (packets.size() - 1);
    EXPECT_NEAR(interval, 0.020, 0.001) << "mean spacing of " << packets.size() << " packets";
    EXPECT_LT(worstGap, 0.1) << "a gap in the stream";
    std::printf("%d packets back to the caller, mean spacing %.3f ms, largest gap %.1f ms\n", int(packets.size()),
                interval * 1000, worstGap * 1000);

    // How quickly the agent answers and starts its media (loopback, for the record).
    const QStringList sip = capture.fields({}, "sip", {"frame.time_relative", "sip.Method", "sip.Status-Code", "sip.CSeq.method"});
    double invite = -1, answered = -1, ack = -1;
    for (const QString& line : sip) {
        const QStringList f = line.split(';');
        if (f.size() < 4)
            continue;
        if (f[1] == "INVITE" && invite < 0)
            invite = f[0].toDouble();
        if (f[2] == "200" && f[3] == "INVITE" && answered < 0)
            answered = f[0].toDouble();
        if (f[1] == "ACK" && ack < 0)
            ack = f[0].toDouble();
    }
    if (invite >= 0 && answered >= 0 && ack >= 0)
        std::printf("INVITE -> 200: %.1f ms; ACK -> first RTP: %.1f ms\n", (answered - invite) * 1000,
                    (first - ack) * 1000);
}

// A second caller on a busy channel hears 486 and the running call goes on to its own BYE.
TEST_F(SipCallSippTest, BusyChannelRefusesSecondCall)
{
    startAgent();
    SipSippRunner first;
    ASSERT_TRUE(first.start({"-sn", "uac", "-s", QString::number(kAccount), "-d", "3000", target()}, 1));
    ASSERT_TRUE(m_manager->waitFor("started", 1, 10000));
    const auto running = onlyCall();
    ASSERT_TRUE(running);

    SipSippRunner second("127.0.0.3");
    ASSERT_TRUE(second.start({"-sf", SipSippRunner::scenario("uac_refused.xml"), "-s", QString::number(kAccount),
                              "-key", "host", "127.0.0.1", target()},
                             1));
    const SipSippRunner::Run refused = second.finish();
    EXPECT_EQ(refused.exitCode, 0) << text(refused);
    EXPECT_TRUE(refused.logs.contains("answered 486")) << text(refused);
    EXPECT_TRUE(running->isMediaRunning());
    EXPECT_EQ(m_channel->calls().size(), 1u);
    EXPECT_EQ(m_manager->count("incoming"), 1);
    EXPECT_EQ(m_manager->count("stopped"), 0);

    const SipSippRunner::Run run = first.finish();
    EXPECT_EQ(run.exitCode, 0) << text(run);
    ASSERT_TRUE(m_manager->waitFor("removed", 1, 5000));
    EXPECT_EQ(m_manager->callHistory(running->cid),
              std::vector<std::string>({"incoming", "started", "ack", "closed", "stopped", "removed"}));
}

// A caller who cancels while it rings: 200 and 487, and the call leaves the channel.
TEST_F(SipCallSippTest, CancelEndsRingingCall)
{
    m_manager->setCallMode(SipTestManager::CallMode::RingOnly);
    startAgent();
    SipSippRunner caller;
    ASSERT_TRUE(caller.start({"-sf", SipSippRunner::scenario("uac_cancel.xml"), "-s", QString::number(kAccount),
                              target()},
                             1));
    const SipSippRunner::Run run = caller.finish();
    EXPECT_EQ(run.exitCode, 0) << text(run);
    ASSERT_TRUE(m_manager->waitFor("removed", 1, 5000));
    const auto call = onlyCall();
    ASSERT_TRUE(call);
    EXPECT_EQ(m_manager->callHistory(call->cid),
              std::vector<std::string>({"incoming", "cancelled", "stopped", "removed"}));
    EXPECT_TRUE(m_channel->calls().empty());
    EXPECT_TRUE(m_manager->devices().empty()) << "no media for a call never answered";
}

// A caller that sends no RTP is hung up after the (lowered) data time-out: the agent sends BYE.
TEST_F(SipCallSippTest, SilentCallerHungUp)
{
    TestLogFile log;
    startAgent(1.0);
    SipSippRunner caller;
    ASSERT_TRUE(caller.start({"-sf", SipSippRunner::scenario("uac_silent.xml"), "-s", QString::number(kAccount),
                              target()},
                             1));
    ASSERT_TRUE(m_manager->waitFor("started", 1, 10000));
    const double started = RDThread::tickTime();
    ASSERT_TRUE(m_manager->waitFor("removed", 1, 10000));
    const double ended = RDThread::tickTime() - started;
    const SipSippRunner::Run run = caller.finish();
    EXPECT_EQ(run.exitCode, 0) << text(run);
    EXPECT_TRUE(run.logs.contains("bye received")) << text(run);
    EXPECT_GE(ended, 0.95);
    EXPECT_LT(ended, 5.0);
    EXPECT_TRUE(log.waitFor("audio data timeout"));
    const auto call = onlyCall();
    ASSERT_TRUE(call);
    EXPECT_EQ(m_manager->callHistory(call->cid), std::vector<std::string>({"incoming", "started", "ack", "stopped", "removed"}));
}

// A re-INVITE moving the caller's media and holding the call (sendonly) is answered 200 with the
// running port and recvonly; the media go on to the new port.
TEST_F(SipCallSippTest, ReinviteKeepsPortFollowsCaller)
{
    startAgent();
    LayerTestUdp moved;
    ASSERT_TRUE(moved.bindTo("127.0.0.2", LayerTestUdp::freeEvenPair()));
    SipSippRunner caller;
    ASSERT_TRUE(caller.start({"-sf", SipSippRunner::scenario("uac_reinvite.xml"), "-s", QString::number(kAccount),
                              "-key", "newport", QString::number(moved.port()), target()},
                             1));
    ASSERT_TRUE(m_manager->waitFor("reinvite", 1, 10000));
    const std::vector<uint8_t> packet = moved.receive(2000);
    ASSERT_EQ(packet.size(), 12u + 160u) << "no RTP at the new port";
    EXPECT_EQ(packet[1] & 0x7F, 8);
    const SipSippRunner::Run run = caller.finish();
    EXPECT_EQ(run.exitCode, 0) << text(run);
    ASSERT_TRUE(m_manager->waitFor("removed", 1, 5000));

    // Both answers name the same port; the second answers the hold.
    const QRegularExpression audioLine("m=audio (\\d+) RTP/AVP 8 0");
    QStringList ports;
    for (auto it = audioLine.globalMatch(run.messages); it.hasNext();)
        ports << it.next().captured(1);
    ASSERT_GE(ports.size(), 2) << text(run);
    const auto call = onlyCall();
    ASSERT_TRUE(call);
    EXPECT_EQ(std::count(ports.begin(), ports.end(), QString::number(call->audioMedia()->localPort)), 2)
        << ports.join(",").toStdString();
    EXPECT_TRUE(run.messages.contains("a=recvonly")) << text(run);
    EXPECT_EQ(call->audioMedia()->remotePort, moved.port());
    EXPECT_EQ(m_manager->count("started"), 1) << "the media were not restarted";
}

// Inside a call: INFO and OPTIONS answered 200, an UPDATE offering media 488, BYE 200.
TEST_F(SipCallSippTest, InDialogRequests)
{
    startAgent();
    SipSippRunner caller;
    ASSERT_TRUE(caller.start({"-sf", SipSippRunner::scenario("uac_info.xml"), "-s", QString::number(kAccount),
                              target()},
                             1));
    const SipSippRunner::Run run = caller.finish();
    EXPECT_EQ(run.exitCode, 0) << text(run);
    ASSERT_TRUE(m_manager->waitFor("removed", 1, 5000));
    std::vector<std::string> methods;
    for (const auto& record : m_manager->records()) {
        if (record.what == "call message")
            methods.push_back(record.detail);
    }
    EXPECT_EQ(methods, std::vector<std::string>({"INFO", "OPTIONS", "UPDATE"}));
}
