#include "RTPPacketTone.h"
#include "RTPReaderFixtures.h"
#include "RtpInfoSession.h"
#include "RtpPortManager.h"
#include "RtpSessionFakeSources.h"
#include "RtpSessionReceiver.h"
#include "RtpSessionRecorder.h"
#include "TestAudio.h"
#include "TestPulseServer.h"
#include "TestSupport.h"
#include "TestTone.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <future>
#include <thread>

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

    QString tone(const QString& name, double frequency, double seconds,
                 RTPReaderFixtures::Kind kind = RTPReaderFixtures::Mp3)
    {
        return RTPReaderFixtures::tone(QDir(dir.path()), name, frequency, seconds, kind);
    }

    // The tone in packets [from, to) of what the receiver got.
    TestTone::Result measure(int payloadType, double frequency, size_t from = 0, size_t to = SIZE_MAX)
    {
        return TestTone::measure(receiver.payloadBytes(from, to), RTPPacketTone::decodeArguments(payloadType),
                                 RTPPacketTone::decodeRate(payloadType), frequency);
    }

    // The index of the first packet that arrived after time.
    size_t firstAfter(double time)
    {
        const auto packets = receiver.packets();
        size_t i = 0;
        while (i < packets.size() && packets[i].arrival < time)
            ++i;
        return i;
    }

    RtpInfo channel(int codec, int source)
    {
        RtpInfo info = RtpSessionFakeSources::channel(receiver.port(), codec);
        info.source = source;
        return info;
    }

    QTemporaryDir dir;
    RtpSessionReceiver receiver;
    RtpSessionRecorder recorder;
};

} // namespace

// The sound card as a channel source: what plays on the speaker reaches the wire as the
// channel's codec, and when the card goes away the source finishes and with it the loop.
TEST_F(RtpInfoSessionMediaTest, SoundCardLoopbackPlaysUntilTheCardGoes)
{
    SONARIS_REQUIRE_COMMANDS("paplay");
    TestPulseServer pulse;
    TEST_START_PULSE(pulse, {QStringLiteral("module-null-sink sink_name=spk rate=48000 format=float32le channels=2")});
    const QString tone = pulse.dir() + QStringLiteral("/tone.wav");
    ASSERT_TRUE(TestSupport::makeTone(tone, 440.0, 2.0));

    RtpInfoSession session;
    session.setObserver(&recorder);
    RtpInfo info = channel(1, 6);
    info.deviceId = QStringLiteral("spk");
    info.deviceName = QStringLiteral("Speaker");
    info.deviceType = RtpInfo::kDeviceLoopback;
    session.setRtpInfo(info);
    ASSERT_EQ(session.startSource(RtpInfo::kSourceDevice, RtpInfo::kTriggerManual), 0);
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
    session.stopAll(RtpInfo::kTriggerApi);
    EXPECT_TRUE(receiver.waitForBye(2000));
}

// A channel with a playlist sends 20 ms PCMU packets that ffmpeg, told of the stream by an SDP,
// decodes to the playlist's tone, whole; the BYE at the stop ends ffmpeg's stream.
TEST_F(RtpInfoSessionMediaTest, PlaylistToneDecodesThroughAnSdp)
{
    SONARIS_REQUIRE_COMMANDS("ffmpeg");
    const QString file = tone(QStringLiteral("tone"), 1000.0, 10.0);
    ASSERT_FALSE(file.isEmpty());
    const int port = LayerTestUdp::freeEvenPair();
    ASSERT_NE(port, 0);
    const QString sdp = dir.filePath(QStringLiteral("channel.sdp"));
    {
        QFile out(sdp);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(QStringLiteral("v=0\r\no=- 0 0 IN IP4 127.0.0.1\r\ns=channel\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\n"
                                 "m=audio %1 RTP/AVP 0\r\na=rtpmap:0 PCMU/8000\r\n")
                      .arg(port)
                      .toLatin1());
    }
    QVector<float> decoded;
    std::thread decoder([&] { decoded = TestAudio::decode(sdp, 8000, {"-protocol_whitelist", "file,udp,rtp"}); });
    ASSERT_TRUE(RtpSessionFakeSources::waitUntil([&] { return !LayerTestUdp::isFree(port); }, 15000));

    RtpInfoSession session;
    RtpInfo info = channel(0, 1);
    info.address = QStringLiteral("127.0.0.1:%1").arg(port);
    info.playlist = {file};
    session.setRtpInfo(info);
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(session.startSource(RtpInfo::kSourcePlaylist, RtpInfo::kTriggerManual), 0);
    RtpSessionFakeSources::sleepMs(3000);
    session.stopAll(RtpInfo::kTriggerApiStop);
    // What a loaded machine oversleeps is played too: the channel plays in real time for as long
    // as it ran, less the moment its file takes to open, and never more.
    const double ran = TestSupport::msSince(started) / 1000.0;
    decoder.join();

    const QVector<float> played = TestAudio::trimSilence(decoded);
    EXPECT_LE(played.size() / 8000.0, ran + 0.1);
    EXPECT_GE(played.size() / 8000.0, ran - 0.5);
    EXPECT_NEAR(TestAudio::toneFrequency(played, 8000), 1000.0, 2.0);
    EXPECT_GT(TestAudio::rms(played), 0.05);
    EXPECT_LT(TestAudio::maxStep(played), 1.5 * TestTone::sineStep(1000.0, 0.125, 8000)) << "no gap or click";
}

// A playlist on every codec: the payload type, the packet size and the timestamp step of the
// codec, and the tone in the payloads.
TEST_F(RtpInfoSessionMediaTest, PlaylistOnEveryCodec)
{
    const QString file = tone(QStringLiteral("tone"), 1000.0, 10.0);
    ASSERT_FALSE(file.isEmpty());
    struct Row
    {
        int codec, payloadType, bytes;
        uint32_t step;
    };
    const Row rows[] = {{0, 0, 160, 160},  {1, 8, 160, 160},  {2, 9, 160, 160},
                        {3, 14, -1, 1152}, {4, 11, 440, 220}, {5, 10, 880, 220}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.codec);
        receiver.clear();
        RtpInfoSession session;
        RtpInfo info = channel(row.codec, 1);
        info.playlist = {file};
        session.setRtpInfo(info);
        ASSERT_EQ(session.startSource(RtpInfo::kSourcePlaylist, RtpInfo::kTriggerManual), 0);
        RtpSessionFakeSources::sleepMs(1200);
        session.stopAll(RtpInfo::kTriggerApiStop);
        const auto packets = receiver.packets();
        ASSERT_GT(packets.size(), 20u);
        for (size_t i = 0; i < packets.size(); ++i) {
            EXPECT_EQ(packets[i].payloadType, row.payloadType);
            if (row.bytes > 0)
                EXPECT_EQ(packets[i].payloadLength, row.bytes);
            else
                EXPECT_EQ(packets[i].payload[0] | packets[i].payload[1], 0) << "the MP3 header of RFC 2250";
            if (i > 0) {
                EXPECT_EQ(uint16_t(packets[i].sequence - packets[i - 1].sequence), 1);
                EXPECT_EQ(packets[i].timestamp - packets[i - 1].timestamp, row.step);
            }
        }
        const TestTone::Result result = measure(row.payloadType, 1000.0);
        ASSERT_TRUE(result.decoded);
        EXPECT_NEAR(result.frequency, 1000.0, 5.0);
    }
}

// A playlist and a bell: only the playlist is heard; once it stops, the bell is heard from where
// it has got to meanwhile, to its end, and the channel ends with it.
TEST_F(RtpInfoSessionMediaTest, PlaylistOverBellThenTheRestOfTheBell)
{
    const QString music = tone(QStringLiteral("music"), 1000.0, 10.0);
    const QString bell = tone(QStringLiteral("bell"), 440.0, 3.0, RTPReaderFixtures::Pcm16Wav);
    ASSERT_FALSE(music.isEmpty());
    ASSERT_FALSE(bell.isEmpty());
    RtpInfoSession session;
    session.setObserver(&recorder);
    RtpInfo info = channel(0, 1);
    info.playlist = {music};
    info.bellPath = bell;
    session.setRtpInfo(info);
    ASSERT_EQ(session.startSource(RtpInfo::kSourcePlaylist, RtpInfo::kTriggerManual), 0);
    const double bellStarted = RtpSessionReceiver::now();
    ASSERT_EQ(session.startSource(RtpInfo::kSourceBell, RtpInfo::kTriggerSchedule), 0);
    RtpSessionFakeSources::sleepMs(1500);
    const double stopped = RtpSessionReceiver::now();
    session.stopSource(RtpInfo::kSourcePlaylist, RtpInfo::kTriggerApiStop);
    ASSERT_TRUE(RtpSessionFakeSources::waitUntil([&] { return recorder.finished.load() == 1; }, 5000));
    session.stopAll(RtpInfo::kTriggerApi);

    const size_t split = firstAfter(stopped + 0.01);
    const TestTone::Result before = measure(0, 1000.0, 0, split);
    ASSERT_TRUE(before.decoded);
    EXPECT_NEAR(before.frequency, 1000.0, 5.0) << "the bell is not mixed in";
    const TestTone::Result after = measure(0, 440.0, split);
    ASSERT_TRUE(after.decoded);
    EXPECT_NEAR(after.frequency, 440.0, 5.0);
    // The bell runs on in real time under the playlist, from its first packet on: what is left
    // is its length less the time it ran, or somewhat more where its start waited for a core
    // (a loaded machine under sanitizers); never all of it.
    const double rest = double(receiver.count() - int(split)) * 0.02;
    const double ran = stopped - bellStarted;
    EXPECT_GT(rest, 3.0 - ran - 0.3) << "the rest of the bell";
    EXPECT_LT(rest, 3.0 - ran + 0.8) << "the rest of the bell, not all of it";
    EXPECT_EQ(recorder.changed, 1);
    EXPECT_EQ(recorder.filesOpened, 1);
    EXPECT_EQ(recorder.filesFinished, 1);
}

// The playlist's place: its item, position and duration; a seek within the item and a jump to
// another, each reported as an opened item.
TEST_F(RtpInfoSessionMediaTest, PlaylistStatusSeekAndJump)
{
    const QString first = tone(QStringLiteral("first"), 1000.0, 4.0);
    const QString second = tone(QStringLiteral("second"), 440.0, 4.0);
    RtpInfoSession session;
    session.setObserver(&recorder);
    int index = -1;
    double position = -1, duration = -1;
    EXPECT_EQ(session.playlistStatus(&index, &position, &duration), -1);
    EXPECT_EQ(index, -1) << "nothing written without a playlist";
    RtpInfo info = channel(0, 1);
    info.playlist = {first, second};
    session.setRtpInfo(info);
    ASSERT_EQ(session.startSource(RtpInfo::kSourcePlaylist, RtpInfo::kTriggerManual), 0);
    ASSERT_TRUE(RtpSessionFakeSources::waitUntil([&] { return recorder.itemsOpened.load() >= 1; }, 3000));
    EXPECT_EQ(recorder.lastItem, 0);
    EXPECT_EQ(session.playlistStatus(&index, &position, &duration), 0);
    EXPECT_EQ(index, 0);
    EXPECT_NEAR(duration, 4.0, 0.1);

    session.seekPlaylist(0.5);
    ASSERT_TRUE(RtpSessionFakeSources::waitUntil([&] { return recorder.itemsOpened.load() >= 2; }, 3000));
    session.playlistStatus(&index, &position, &duration);
    EXPECT_EQ(index, 0);
    EXPECT_NEAR(position, 2.0, 0.3);

    session.changePlaylistFile(1);
    ASSERT_TRUE(RtpSessionFakeSources::waitUntil([&] { return recorder.lastItem.load() == 1; }, 3000));
    const double jumped = RtpSessionReceiver::now();
    RtpSessionFakeSources::sleepMs(800);
    session.stopAll(RtpInfo::kTriggerApiStop);
    const TestTone::Result result = measure(0, 440.0, firstAfter(jumped + 0.1));
    ASSERT_TRUE(result.decoded);
    EXPECT_NEAR(result.frequency, 440.0, 5.0);
}

// Real readers started and stopped from two threads while their callbacks come in and the
// session's own ends are queued to an event thread, as the channel manager does it.
TEST_F(RtpInfoSessionMediaTest, ReadersStartAndStopFromTwoThreads)
{
    const QString music = tone(QStringLiteral("music"), 1000.0, 5.0);
    const QString bell = tone(QStringLiteral("bell"), 440.0, 0.3, RTPReaderFixtures::Pcm16Wav);
    struct Queueing : RtpSessionRecorder
    {
        std::atomic<int> pending{0};
        void onSessionFinished(RtpInfoSession* session) override
        {
            RtpSessionRecorder::onSessionFinished(session);
            ++pending;
        }
    } observer;
    RtpInfoSession session;
    session.setObserver(&observer);
    RtpInfo info = channel(0, 1);
    info.playlist = {music};
    info.bellPath = bell;
    session.setRtpInfo(info);
    std::mutex listMutex;
    std::atomic<bool> done{false};
    std::thread events([&] {
        while (!done) {
            if (observer.pending.exchange(0) > 0) {
                std::lock_guard<std::mutex> lock(listMutex);
                if (session.currentSource() == 0 || !session.isSending())
                    session.stopAll(RtpInfo::kTriggerApi);
            }
            RtpSessionFakeSources::sleepMs(1);
        }
    });
    auto worker = [&](int kind) {
        for (int i = 0; i < 60; ++i) {
            {
                std::lock_guard<std::mutex> lock(listMutex);
                if (session.hasSource(kind))
                    session.stopSource(kind, RtpInfo::kTriggerManual);
                session.startSource(kind, RtpInfo::kTriggerManual);
            }
            RtpSessionFakeSources::sleepMs(i % 7);
            std::lock_guard<std::mutex> lock(listMutex);
            if (i % 3 == 0) {
                session.stopAll(RtpInfo::kTriggerApiStop);
            } else {
                session.stopSource(kind, RtpInfo::kTriggerApiStop);
                if (session.currentSource() == 0)
                    session.stopSend();
            }
        }
    };
    auto run = std::async(std::launch::async, [&] {
        std::thread a(worker, 1), b(worker, 32);
        a.join();
        b.join();
    });
    ASSERT_EQ(run.wait_for(std::chrono::seconds(120)), std::future_status::ready) << "deadlock";
    done = true;
    events.join();
    session.stopAll(RtpInfo::kTriggerApiStop);
    EXPECT_EQ(observer.started.load(), observer.finished.load());
    EXPECT_GT(observer.itemsOpened.load(), 0);
    EXPECT_GT(receiver.count(), 0);
}
