#include "RtpInfoSession.h"
#include "RtpPortManager.h"
#include "RtpSessionFakeSources.h"
#include "RtpSessionReceiver.h"
#include "RtpSessionRecorder.h"
#include "TestPulseServer.h"
#include "TestSupport.h"
#include "TestTone.h"

#include <gtest/gtest.h>

#include <QProcess>

namespace {

class RtpInfoSessionMediaTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        RtpPortManager::createInstance();
        ASSERT_TRUE(receiver.start());
    }
    void TearDown() override { RtpPortManager::destroyInstance(); }

    RtpInfo channel(int codec, int source)
    {
        RtpInfo info = RtpSessionFakeSources::channel(receiver.port(), codec);
        info.source = source;
        return info;
    }

    RtpSessionReceiver receiver;
    RtpSessionRecorder recorder;
};

} // namespace

// The sound card as a channel source: what plays on the speaker reaches the wire as the
// channel's codec, and when the card goes away the source finishes and with it the loop.
TEST_F(RtpInfoSessionMediaTest, SoundCardLoopbackPlaysUntilTheCardGoes)
{
    if (!TestSupport::haveCommand(QStringLiteral("paplay")))
        GTEST_SKIP() << "paplay is not installed";
    TestPulseServer pulse;
    TEST_START_PULSE(pulse, {QStringLiteral("module-null-sink sink_name=spk rate=48000 format=float32le channels=2")});
    const QString tone = pulse.dir() + QStringLiteral("/tone.wav");
    ASSERT_TRUE(TestSupport::makeTone(tone, 440.0, 2.0));

    RtpInfoSession session;
    session.setObserver(&recorder);
    RtpInfo info = channel(1, 6);
    info.deviceId = QStringLiteral("spk");
    info.deviceName = QStringLiteral("Speaker");
    info.deviceType = 1;
    session.setRtpInfo(info);
    ASSERT_EQ(session.startSource(6, 1), 0);
    QProcess player;
    player.start(QStringLiteral("paplay"), {QStringLiteral("-d"), QStringLiteral("spk"), tone});
    ASSERT_TRUE(player.waitForStarted(5000));
    ASSERT_TRUE(player.waitForFinished(10000));
    ASSERT_TRUE(receiver.waitFor(100, 3000));
    for (const auto& p : receiver.packets()) {
        EXPECT_EQ(p.payloadType, 8);
        EXPECT_EQ(p.payloadLength, 160);
    }
    const TestTone::Result result =
        TestTone::measure(receiver.payloadBytes(), {"-f", "alaw", "-ar", "8000", "-ac", "1"}, 8000, 440.0);
    ASSERT_TRUE(result.decoded);
    EXPECT_GT(result.samples, 8000);
    EXPECT_NEAR(result.frequency, 440.0, 5.0);

    ASSERT_TRUE(pulse.unloadModule(pulse.moduleIndex(QStringLiteral("module-null-sink"))));
    ASSERT_TRUE(RtpSessionFakeSources::waitUntil([&] { return recorder.finished.load() == 1; }, 3000));
    EXPECT_FALSE(session.isSending());
    session.stopAll(5);
    EXPECT_TRUE(receiver.waitForBye(2000));
}
