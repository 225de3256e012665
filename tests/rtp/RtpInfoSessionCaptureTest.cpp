#include "RtpInfoSession.h"
#include "RtpPortManagerScope.h"
#include "RtpSessionFakeSources.h"
#include "RtpSessionRecorder.h"
#include "TestAudio.h"
#include "TestLogFile.h"
#include "TestPulseServer.h"
#include "TestSupport.h"
#include "TestTone.h"
#include "layer/LayerTestUdp.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <thread>

namespace {

constexpr double kTone = 440.0;
constexpr double kToneSeconds = 2.0;

class RtpInfoSessionCaptureTest : public ::testing::Test
{
protected:
    RtpPortManagerScope ports;

    // An SDP that tells the ffmpeg command of a PCMA stream to 127.0.0.1:port.
    static bool writeSdp(const QString& path, int port)
    {
        QFile out(path);
        if (!out.open(QIODevice::WriteOnly))
            return false;
        out.write(QStringLiteral("v=0\r\no=- 0 0 IN IP4 127.0.0.1\r\ns=channel\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\n"
                                 "m=audio %1 RTP/AVP 8\r\na=rtpmap:8 PCMA/8000\r\n")
                      .arg(port)
                      .toLatin1());
        return true;
    }
};

} // namespace

// A channel whose source is the sound card, looping back the speaker: a tone played into the
// speaker reaches the wire, where the ffmpeg command decodes it whole from the RTP; when the
// speaker goes away the capture ends, the send loop with it, and the channel is reported
// finished within a second.
TEST_F(RtpInfoSessionCaptureTest, SpeakerToneDecodesFromTheWireAndLosingTheSpeakerEndsTheChannel)
{
    SONARIS_REQUIRE_COMMANDS("paplay", "ffmpeg");
    TestPulseServer pulse;
    TEST_START_PULSE(pulse, {QStringLiteral("module-null-sink sink_name=spk rate=48000 format=float32le channels=2")});
    const QString tone = pulse.dir() + QStringLiteral("/tone.wav");
    ASSERT_TRUE(TestSupport::makeTone(tone, kTone, kToneSeconds));
    const int sinkModule = pulse.moduleIndex(QStringLiteral("module-null-sink"));
    ASSERT_GE(sinkModule, 0);

    QTemporaryDir dir;
    const int port = LayerTestUdp::freeEvenPair();
    ASSERT_NE(port, 0);
    const QString sdp = dir.filePath(QStringLiteral("channel.sdp"));
    ASSERT_TRUE(writeSdp(sdp, port));
    QVector<float> decoded;
    std::thread decoder([&] { decoded = TestAudio::decode(sdp, 8000, {"-protocol_whitelist", "file,udp,rtp"}, 30000); });
    struct Join
    {
        std::thread& thread;
        ~Join()
        {
            if (thread.joinable())
                thread.join();
        }
    } join{decoder};
    ASSERT_TRUE(RtpSessionFakeSources::waitUntil([&] { return !LayerTestUdp::isFree(port); }, 15000))
        << "ffmpeg did not open the RTP port";

    TestLogFile log;
    RtpSessionRecorder recorder;
    RtpInfoSession session;
    session.setObserver(&recorder);
    RtpInfo info = RtpSessionFakeSources::channel(port, 1);
    info.source = RtpInfo::kSourceDevice;
    info.deviceId = QStringLiteral("spk");
    info.deviceName = QStringLiteral("Speaker");
    info.deviceType = RtpInfo::kDeviceLoopback;
    session.setRtpInfo(info);
    ASSERT_EQ(session.startSource(RtpInfo::kSourceDevice, RtpInfo::kTriggerManual), 0);
    ASSERT_TRUE(RtpSessionFakeSources::waitUntil([&] { return recorder.started.load() == 1; }, 3000));

    QProcess player;
    player.start(QStringLiteral("paplay"), {QStringLiteral("-d"), QStringLiteral("spk"), tone});
    ASSERT_TRUE(player.waitForStarted(5000));
    ASSERT_TRUE(player.waitForFinished(15000));
    EXPECT_EQ(player.exitCode(), 0) << player.readAllStandardError().toStdString();
    // The tail of the tone is still on its way through the capture and the send loop.
    RtpSessionFakeSources::sleepMs(300);
    EXPECT_TRUE(session.isSending());
    EXPECT_EQ(recorder.finished.load(), 0);

    ASSERT_TRUE(pulse.unloadModule(sinkModule));
    QElapsedTimer timer;
    timer.start();
    const bool ended = RtpSessionFakeSources::waitUntil([&] { return recorder.finished.load() == 1; }, 5000);
    const qint64 endedMs = timer.elapsed();
    std::printf("channel finished %lld ms after the speaker went away\n", static_cast<long long>(endedMs));
    RecordProperty("finished_after_ms", static_cast<int>(endedMs));
    ASSERT_TRUE(ended) << "the channel played on without its sound card";
    // A second is the target; the bound allows for a loaded machine under sanitizers.
    EXPECT_LT(endedMs, 2500);
    EXPECT_FALSE(session.isSending());
    EXPECT_TRUE(log.waitFor(QStringLiteral("capture of spk ended: the endpoint went away"))) << log.text().toStdString();

    // The stop sends the BYE that ends ffmpeg's stream.
    session.stopAll(RtpInfo::kTriggerApi);
    decoder.join();
    const QVector<float> played = TestAudio::trimSilence(decoded);
    ASSERT_FALSE(played.isEmpty()) << "ffmpeg decoded nothing from the wire";
    EXPECT_NEAR(played.size() / 8000.0, kToneSeconds, 0.25);
    EXPECT_NEAR(TestAudio::toneFrequency(played, 8000), kTone, 2.0);
    EXPECT_GT(TestAudio::rms(played), 0.05);
    // When a stream joins, the sink rewinds what it had mixed ahead, so its monitor may miss the
    // tone's first milliseconds: the breaks are looked for between the edges.
    const int edge = 8000 * 30 / 1000;
    ASSERT_GT(played.size(), 4 * edge);
    EXPECT_LT(TestAudio::maxStep(played.mid(edge, played.size() - 2 * edge)),
              1.5 * TestTone::sineStep(kTone, 0.125, 8000))
        << "a gap or a click";
}
