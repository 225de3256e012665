#include "RTPReaderFixtures.h"
#include "RTPSipAudioReader.h"
#include "RTPSipCall.h"
#include "RTPSipChannel.h"
#include "RTPSipManager.h"
#include "RtpManagerFixture.h"
#include "SipSippRunner.h"
#include "SipTestPcap.h"
#include "SipTestPeer.h"
#include "TestAudio.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <cmath>

namespace {

constexpr int kPlaylist = RtpInfo::kSourcePlaylist;

// The channel manager with the real SIP agent, answering on 127.0.0.1.
class SipEngineManager : public RtpManager
{
protected:
    std::unique_ptr<RtpManagerSip> createSip() override
    {
        auto sip = std::make_unique<RTPSipManager>(this);
        sip->setLocalIp("127.0.0.1");
        return sip;
    }
};

// The channel engine with its SIP agent on 0.0.0.0 (reached as 127.0.0.1), a SIPp registrar on
// 127.0.0.2 and SIPp callers on 127.0.0.3; the channel sends PCMU to the fixture's receiver.
class RTPSipManagerSippTest : public RtpManagerFixture
{
protected:
    void SetUp() override
    {
        SONARIS_REQUIRE_COMMANDS("sipp", "ffmpeg");
        RtpManagerFixture::SetUp();
        host.sipPortValue = SipTestPeer::freePort("0.0.0.0");
        ASSERT_GT(host.sipPortValue, 0);
    }

    // The stored channel with a SIP account at the registrar.
    RtpInfo storeSipChannel(const SipSippRunner& registrar)
    {
        RtpInfo info;
        info.name = QStringLiteral("phone");
        info.address = QStringLiteral("127.0.0.1:%1").arg(receiver.port());
        info.codec = 0;
        info.volume = 80;
        info.source = kPlaylist;
        info.sip.status = 1;
        info.sip.server = QString::fromStdString(registrar.host());
        info.sip.port = QString::number(registrar.port());
        info.sip.username = QStringLiteral("301");
        info.sip.authId = QStringLiteral("301");
        info.sip.password = QStringLiteral("secret");
        info.sip.expire = QStringLiteral("60");
        ZvDB db;
        info.id = db.insertZvRtp(ZvDB::toZvRtp(info));
        EXPECT_GT(info.id, 0);
        return info;
    }

    RtpManager* startEngine()
    {
        RtpManager* made = RtpManager::createInstance(new SipEngineManager);
        made->addObserver(&recorder);
        return made;
    }

    // A folder holding pcap/g711a.pcap (a 1 kHz A-law tone of seconds) and pcap/dtmf_2833_1.pcap
    // for SIPp's uac_pcap.
    bool makeRecording(const QTemporaryDir& dir, double seconds)
    {
        if (!QDir(dir.path()).mkpath(QStringLiteral("pcap")))
            return false;
        const QString alawPath = dir.filePath(QStringLiteral("tone.alaw"));
        if (!TestSupport::makeTone(alawPath, 1000, seconds, {"-f", "alaw", "-ar", "8000", "-ac", "1"}))
            return false;
        QFile alaw(alawPath);
        if (!alaw.open(QIODevice::ReadOnly))
            return false;
        return SipTestPcap::write(dir.filePath(QStringLiteral("pcap/g711a.pcap")), SipTestPcap::pcmaStream(alaw.readAll()))
               && SipTestPcap::write(dir.filePath(QStringLiteral("pcap/dtmf_2833_1.pcap")),
                                     SipTestPcap::telephoneEvent(1, 4));
    }

    // One letter per received 20 ms PCMU packet: 'C' the caller's 1 kHz, 'P' the playlist's
    // 440 Hz, '.' anything else; samples receives the decoded audio.
    QString classify(QVector<float>* samples)
    {
        const QString path = folder() + QStringLiteral("/wire.ulaw");
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return QString();
        file.write(receiver.payloadBytes());
        file.close();
        *samples = TestAudio::decode(path, 8000, {"-f", "mulaw", "-ar", "8000", "-ac", "1"});
        QString letters;
        for (int at = 0; at + 160 <= samples->size(); at += 160) {
            const QVector<float> frame = samples->mid(at, 160);
            const double f = TestAudio::rms(frame) > 0.02 ? TestAudio::toneFrequency(frame, 8000) : 0;
            letters += std::fabs(f - 1000) < 40 ? 'C' : std::fabs(f - 440) < 30 ? 'P' : '.';
        }
        return letters;
    }

    static double rmsOf(const QVector<float>& samples, const QString& letters, QChar kind)
    {
        QVector<float> picked;
        for (int i = 0; i < letters.size(); ++i) {
            if (letters[i] == kind)
                picked += samples.mid(i * 160, 160);
        }
        return TestAudio::rms(picked);
    }
};

} // namespace

// The channel's account registers from its record; SIPp's uac_pcap calls it; the caller's PCMA
// tone leaves the channel as PCMU RTP that ffmpeg decodes to the tone at the recording's level;
// the hang-up stops the SIP source and, with no other source, the session ends. The action log
// holds the start and stop of the SIP source by the SIP trigger, stored as 64 and 4.
TEST_F(RTPSipManagerSippTest, CallPlaysOnItsChannel)
{
    SipSippRunner registrar("127.0.0.2");
    ASSERT_TRUE(registrar.start({"-sf", SipSippRunner::scenario("reg_plain.xml")}, 1));
    const RtpInfo info = storeSipChannel(registrar);
    RtpManager* manager = startEngine();
    ASSERT_TRUE(waitUntil([&] { return manager->sipManager()->channelState(info.id) == SipChannel::Registered; }, 10000));
    const SipSippRunner::Run registered = registrar.finish();
    EXPECT_EQ(registered.exitCode, 0) << registered.describe();

    QTemporaryDir dir;
    ASSERT_TRUE(makeRecording(dir, 3.0));
    SipSippRunner caller("127.0.0.3");
    caller.setWorkingDirectory(dir.path());
    ASSERT_TRUE(caller.start({"-sn", "uac_pcap", "-s", "301", "127.0.0.1:" + QString::number(host.sipPortValue)}, 1));
    ASSERT_TRUE(waitUntil([&] { return recorder.count('S', info.id) == 1; }, 10000)) << recorder.sequence(info.id);
    const SipSippRunner::Run run = caller.finish();
    EXPECT_EQ(run.exitCode, 0) << run.describe();

    ASSERT_TRUE(waitUntil([&] { return recorder.count('P', info.id) == 1 && manager->sessionCount() == 0; }, 10000))
        << recorder.sequence(info.id);
    EXPECT_TRUE(receiver.waitForBye(3000));
    EXPECT_EQ(logRows(info.id), (QStringList{"0,64,4", "1,64,4"}));
    EXPECT_TRUE(recorder.wellOrdered(info.id)) << recorder.sequence(info.id);

    QVector<float> samples;
    const QString letters = classify(&samples);
    const int caller1k = letters.count('C');
    EXPECT_NEAR(caller1k * 0.02, 3.0, 0.2) << letters.toStdString();
    EXPECT_NEAR(rmsOf(samples, letters, 'C'), 0.125 / std::sqrt(2.0), 0.01) << "the recording's level";
    for (const auto& packet : receiver.packets())
        ASSERT_EQ(packet.payloadType, 0);
}

// A playlist playing on the channel is silenced while a call plays and comes back after it:
// 440 Hz, then only the caller's 1 kHz (nothing at all while the caller is silent), then 440 Hz
// again, on one session that keeps running.
TEST_F(RTPSipManagerSippTest, PlaylistSilencedDuringCall)
{
    SipSippRunner registrar("127.0.0.2");
    ASSERT_TRUE(registrar.start({"-sf", SipSippRunner::scenario("reg_plain.xml")}, 1));
    RtpInfo info = storeSipChannel(registrar);
    RtpManager* manager = startEngine();
    ASSERT_TRUE(waitUntil([&] { return manager->sipManager()->channelState(info.id) == SipChannel::Registered; }, 10000));
    registrar.finish();

    info.playlist = {RTPReaderFixtures::tone(QDir(folder()), QStringLiteral("music"), 440, 30.0,
                                             RTPReaderFixtures::MulawWav)};
    ASSERT_EQ(manager->startRtpInfo(info, kPlaylist, RtpInfo::kTriggerManual), 0);
    ASSERT_TRUE(receiver.waitFor(50, 5000));

    QTemporaryDir dir;
    ASSERT_TRUE(makeRecording(dir, 2.0));
    SipSippRunner caller("127.0.0.3");
    caller.setWorkingDirectory(dir.path());
    ASSERT_TRUE(caller.start({"-sn", "uac_pcap", "-s", "301", "127.0.0.1:" + QString::number(host.sipPortValue)}, 1));
    const SipSippRunner::Run run = caller.finish();
    EXPECT_EQ(run.exitCode, 0) << run.describe();
    ASSERT_TRUE(waitUntil([&] { return logRows(info.id).size() == 3; }, 10000));
    const int afterCall = receiver.count();
    ASSERT_TRUE(receiver.waitFor(afterCall + 50, 5000)) << "the playlist is back";
    EXPECT_EQ(manager->sessionCount(), 1);
    EXPECT_EQ(logRows(info.id), (QStringList{"0,1,1", "0,64,4", "1,64,4"}));

    QVector<float> samples;
    const QString letters = classify(&samples);
    const int first = letters.indexOf('C');
    const int last = letters.lastIndexOf('C');
    ASSERT_GT(first, 40) << letters.toStdString();
    EXPECT_NEAR((last - first + 1) * 0.02, 2.0, 0.2) << letters.toStdString();
    EXPECT_EQ(letters.mid(first, last - first + 1).count('P'), 0) << "the playlist heard during the call";
    EXPECT_GT(letters.mid(last + 1).count('P'), 40) << letters.toStdString();
    // Nothing went out while the caller was silent: the call's source keeps the playlist off
    // the wire until the hang-up.
    const auto packets = receiver.packets();
    ASSERT_LT(size_t(last + 1), packets.size());
    EXPECT_GT(packets[last + 1].arrival - packets[last].arrival, 4.0) << "uac_pcap pauses 8 s after its recording starts";
    EXPECT_EQ(manager->stopRtpInfo(info, RtpInfo::kSourceAll, RtpInfo::kTriggerManual), 0);
}

// A call to the agent's own address that names no channel is refused with 404 and never makes
// a session or an action-log row (for channel id 0 or any other).
TEST_F(RTPSipManagerSippTest, CallToNoChannelIsNotFound)
{
    RtpManager* manager = startEngine();
    SipSippRunner caller("127.0.0.3");
    ASSERT_TRUE(caller.start({"-sn", "uac", "-s", "abc", "127.0.0.1:" + QString::number(host.sipPortValue)}, 1));
    const SipSippRunner::Run run = caller.finish();
    EXPECT_NE(run.exitCode, 0);
    EXPECT_TRUE(run.messages.contains("SIP/2.0 404")) << run.describe();
    EXPECT_FALSE(run.messages.contains("SIP/2.0 200")) << run.describe();
    sleepMs(300);
    EXPECT_EQ(manager->sessionCount(), 0);
    EXPECT_TRUE(logRows().isEmpty()) << logRows().join(' ').toStdString();
    EXPECT_EQ(recorder.count('S', 0), 0);
}
