#include "RTPStreamAudioReader.h"
#include "RTPReaderDrain.h"
#include "RTPReaderEvents.h"
#include "RTPReaderFixtures.h"
#include "RTPReaderTest.h"
#include "RTPStalledServer.h"
#include "RTPToneHttpServer.h"
#include "RtpInfoSession.h"
#include "RtpPortManagerScope.h"
#include "RtpSessionFakeSources.h"
#include "RtpSessionReceiver.h"
#include "RtpSessionRecorder.h"

#include "TestLogFile.h"
#include "TestSupport.h"
#include "TestTone.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <random>

namespace {

using Kind = RTPReaderFixtures::Kind;

class RTPStreamAudioReaderTest : public RTPReaderTest
{
protected:
    void prepare(RTPStreamAudioReader* reader, const QString& url, int payloadType)
    {
        reader->setUrl(url);
        reader->setObserver(&events);
        reader->setPayloadType(payloadType);
    }

    // Time of the n-th (1-based) report of a kind; -1 when there is none.
    double timeOf(RTPReaderEvents::Kind kind, int n) const
    {
        int seen = 0;
        for (const RTPReaderEvents::Event& e : events.events()) {
            if (e.kind == kind && ++seen == n)
                return e.time;
        }
        return -1;
    }

    // Index of the first packet taken after the n-th open; the count when none was.
    size_t firstAfterOpen(const RTPReaderDrain::Takens& taken, int n) const
    {
        const double opened = timeOf(RTPReaderEvents::Opened, n);
        size_t i = 0;
        while (i < taken.size() && (opened < 0 || taken[i].time < opened))
            ++i;
        return i;
    }

    // Takes packets until 1.5 s of them have come after the second open (20 s at most).
    RTPReaderDrain::Takens drainAfterReopen(RTPStreamAudioReader* reader, bool* timedOut) const
    {
        return RTPReaderDrain::run(
            reader, 20,
            [this](const RTPReaderDrain::Takens& t) {
                const size_t from = firstAfterOpen(t, 2);
                return from < t.size() && RTPReaderDrain::duration(t, from) >= 1.5;
            },
            &events, timedOut);
    }

    // Stops the reader and returns how long that took, seconds.
    // A stop interrupts an open, a read and the 5-s retry wait: it returns within milliseconds
    // on an idle machine, and within this bound on a loaded 2-core one under sanitizers.
    static constexpr double kPromptStop = 1.0;

    static double timedStop(RTPStreamAudioReader* reader)
    {
        const double began = RDThread::tickTime();
        reader->stop();
        return RDThread::tickTime() - began;
    }
};

TEST(RTPStreamAudioReaderUrlTest, OnlyNetworkProtocolsAreAllowed)
{
    const struct
    {
        const char* url;
        bool allowed;
    } cases[] = {
        {"http://radio.example/stream", true},
        {"https://radio.example:8443/live.mp3", true},
        {"HTTP://radio.example/stream", true},
        {"hls+http://radio.example/live.m3u8", true},
        {"rtsp://camera.example/audio", true},
        {"rtmp://radio.example/live", true},
        {"rtp://239.1.2.3:5004", true},
        {"udp://0.0.0.0:5004", true},
        {"tcp://radio.example:8000", true},
        {"tls://radio.example:8443", true},
        {"mmsh://radio.example/live", true},
        {"mmst://radio.example/live", true},
        {"", false},
        {"/etc/hostname", false},
        {"radio.mp3", false},
        {"C:\\music\\radio.mp3", false},
        {"file:///etc/hostname", false},
        {"FILE:/etc/hostname", false},
        {"concat:/a.mp3|/b.mp3", false},
        {"subfile,,start,0,end,0,,:/etc/hostname", false},
        {"pipe:0", false},
        {"fd:3", false},
        {"data:audio/mp3;base64,AAAA", false},
        {"hls+file:///tmp/list.m3u8", false},
        {"crypto+file:///tmp/a.mp3", false},
        {"ftp://radio.example/a.mp3", false},
        {"gopher://radio.example/a.mp3", false},
        {"http", false},
    };
    for (const auto& c : cases) {
        QString why;
        EXPECT_EQ(RTPStreamAudioReader::isAllowedUrl(QString::fromUtf8(c.url), &why), c.allowed) << c.url;
        EXPECT_EQ(why.isEmpty(), c.allowed) << c.url;
    }
}

// Local forms of a real, readable tone: none of them may play, each is refused with a line of its
// own, and the reader keeps trying (and can be stopped) as for any URL that does not open.
TEST_F(RTPStreamAudioReaderTest, LocalFilesAreRefusedWithALogLine)
{
    const QString path = RTPReaderFixtures::tone(dir, "tone", 440, 1, Kind::Mp3);
    ASSERT_FALSE(path.isEmpty());
    const QStringList refused{path,
                              QStringLiteral("file:") + path,
                              QStringLiteral("file://") + path,
                              QStringLiteral("concat:") + path + QStringLiteral("|") + path,
                              QStringLiteral("subfile,,start,0,end,0,,:") + path,
                              QStringLiteral("hls+file://") + path};
    for (const QString& url : refused) {
        RTPReaderEvents reports;
        RTPStreamAudioReader reader;
        prepare(&reader, url, 14);
        reader.setObserver(&reports);
        ASSERT_TRUE(reader.start());
        ASSERT_TRUE(reports.waitFor(RTPReaderEvents::Failed, 1, 5)) << url.toStdString();
        RDThread::msleep(100);
        EXPECT_EQ(reader.read(), nullptr) << url.toStdString();
        EXPECT_EQ(reports.trace(), QStringLiteral("F")) << url.toStdString();
        EXPECT_FALSE(reader.isFinished());
        EXPECT_LT(timedStop(&reader), kPromptStop);
        EXPECT_TRUE(reader.isFinished());
        EXPECT_EQ(log.count(QStringLiteral("refused stream URL %1: ").arg(url)), 1) << url.toStdString();
        EXPECT_EQ(log.count(QStringLiteral("open %1 fail, retry open after 5s\n").arg(url)), 1)
            << url.toStdString();
    }
}

// A server's playlist that points at a local file does not reach it either.
TEST_F(RTPStreamAudioReaderTest, ServedPlaylistOfALocalFileDoesNotPlay)
{
    const QString path = RTPReaderFixtures::tone(dir, "tone", 440, 2, Kind::Mp3);
    ASSERT_FALSE(path.isEmpty());
    const QByteArray playlist = QStringLiteral("#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:2\n"
                                               "#EXT-X-MEDIA-SEQUENCE:0\n#EXTINF:2.0,\nfile://%1\n"
                                               "#EXT-X-ENDLIST\n")
                                    .arg(path)
                                    .toUtf8();
    RTPStalledServer server("HTTP/1.0 200 OK\r\nContent-Type: application/vnd.apple.mpegurl\r\nContent-Length: "
                            + QByteArray::number(playlist.size()) + "\r\n\r\n" + playlist);
    ASSERT_GT(server.port(), 0);
    RTPStreamAudioReader reader;
    prepare(&reader, QStringLiteral("http://127.0.0.1:%1/live.m3u8").arg(server.port()), 14);
    ASSERT_TRUE(reader.start());
    const double deadline = RDThread::tickTime() + 3;
    int packets = 0;
    while (RDThread::tickTime() < deadline && !log.contains(QStringLiteral("retry open after 5s"))) {
        if (RTPAudioPacket* p = reader.read()) {
            ++packets;
            delete p;
        }
        RDThread::msleep(5);
    }
    EXPECT_EQ(packets, 0);
    EXPECT_TRUE(log.waitFor(QStringLiteral("retry open after 5s"))) << events.trace().toStdString();
    reader.stop();
}

// Nothing listens: every open fails at once, and the reader tries again every 5 seconds until it
// is stopped.
TEST_F(RTPStreamAudioReaderTest, UnreachableUrlIsRetriedEveryFiveSeconds)
{
    const int port = RTPToneHttpServer::freePort();
    ASSERT_GT(port, 0);
    const QString url = QStringLiteral("http://127.0.0.1:%1/radio.mp3").arg(port);
    RTPStreamAudioReader reader;
    prepare(&reader, url, 0);
    ASSERT_TRUE(reader.start());
    ASSERT_TRUE(events.waitFor(RTPReaderEvents::Failed, 2, 10));
    const double gap = timeOf(RTPReaderEvents::Failed, 2) - timeOf(RTPReaderEvents::Failed, 1);
    EXPECT_GT(gap, 4.9);
    EXPECT_LT(gap, 6.0);
    EXPECT_EQ(events.trace(), QStringLiteral("F F"));
    // The reader logs its retry just after it reports the failure.
    const QString retry = QStringLiteral("open %1 fail, retry open after 5s\n").arg(url);
    EXPECT_TRUE(log.waitFor(retry, 2));
    EXPECT_EQ(log.count(retry), 2);
    EXPECT_FALSE(reader.isFinished());
    EXPECT_EQ(reader.read(), nullptr);
    // Stopped in the middle of its wait.
    RDThread::msleep(500);
    EXPECT_LT(timedStop(&reader), kPromptStop);
    EXPECT_TRUE(reader.isFinished());
}

TEST_F(RTPStreamAudioReaderTest, StopDuringAHangingOpenReturnsPromptly)
{
    RTPStalledServer server;
    ASSERT_GT(server.port(), 0);
    RTPStreamAudioReader reader;
    prepare(&reader, QStringLiteral("http://127.0.0.1:%1/radio.mp3").arg(server.port()), 14);
    const double took = server.timeStopDuringOpen(&reader);
    EXPECT_GE(took, 0.0);
    EXPECT_LT(took, 0.2);
    EXPECT_TRUE(reader.isFinished());
}

// Left alone, the hanging open gives up after its 10-second time-out and is retried.
TEST_F(RTPStreamAudioReaderTest, HangingOpenGivesUpAfterItsTimeOutAndIsRetried)
{
    RTPStalledServer server;
    ASSERT_GT(server.port(), 0);
    const QString url = QStringLiteral("http://127.0.0.1:%1/radio.mp3").arg(server.port());
    RTPStreamAudioReader reader;
    prepare(&reader, url, 14);
    const double began = RDThread::tickTime();
    ASSERT_TRUE(reader.start());
    ASSERT_TRUE(events.waitFor(RTPReaderEvents::Failed, 1, 20));
    const double took = RDThread::tickTime() - began;
    EXPECT_GT(took, 9.0);
    EXPECT_LT(took, 15.0);
    EXPECT_FALSE(reader.isFinished());
    RDThread::msleep(50);
    EXPECT_EQ(log.count(QStringLiteral("open %1 fail, retry open after 5s\n").arg(url)), 1);
    EXPECT_LT(timedStop(&reader), kPromptStop);
}

class RTPStreamAudioReaderPlayTest : public RTPStreamAudioReaderTest, public ::testing::WithParamInterface<int>
{
};

// A live MP3 radio over HTTP plays in the channel's codec, in real time and in tune.
TEST_P(RTPStreamAudioReaderPlayTest, PlaysALiveHttpStream)
{
    const int payloadType = GetParam();
    RTPToneHttpServer server;
    ASSERT_TRUE(server.start(RTPToneHttpServer::freePort(), 440));
    RTPStreamAudioReader reader;
    prepare(&reader, server.url(), payloadType);
    ASSERT_TRUE(reader.start());
    bool timedOut = false;
    const RTPReaderDrain::Takens taken = RTPReaderDrain::run(
        &reader, 20, [](const RTPReaderDrain::Takens& t) { return RTPReaderDrain::duration(t) >= 2.5; }, &events,
        &timedOut);
    ASSERT_FALSE(timedOut) << events.trace().toStdString();
    EXPECT_EQ(events.trace(), QStringLiteral("O"));
    EXPECT_FALSE(reader.isFinished());
    for (const auto& t : taken) {
        EXPECT_EQ(t.packet->payloadType, payloadType);
        EXPECT_GT(t.packet->duration, 0.0);
    }
    // Handed out no faster than real time.
    const double span = taken.back().time - taken.front().time;
    EXPECT_GT(span, RTPReaderDrain::duration(taken) - taken.back().packet->duration - 0.05);
    const int rate = RTPPacketTone::decodeRate(payloadType);
    const QVector<float> samples = RTPReaderDrain::decode(taken, payloadType);
    EXPECT_NEAR(RTPReaderDrain::frequency(samples, rate, 0.5, 2.2), 440, 5);
    EXPECT_LT(timedStop(&reader), kPromptStop);
    EXPECT_EQ(log.count(QStringLiteral("open file %1 success\n").arg(server.url())), 1);
}

INSTANTIATE_TEST_SUITE_P(Codecs, RTPStreamAudioReaderPlayTest, ::testing::Values(0, 9, 11, 14));

// The radio's stream ends: onEnd, the eof line, and after 5 seconds it plays what the server
// sends anew.
TEST_F(RTPStreamAudioReaderTest, EndOfStreamReopensAfterFiveSeconds)
{
    RTPToneHttpServer server;
    const int port = RTPToneHttpServer::freePort();
    ASSERT_TRUE(server.start(port, 440, 1.0));
    RTPStreamAudioReader reader;
    prepare(&reader, server.url(), 0);
    ASSERT_TRUE(reader.start());
    ASSERT_TRUE(events.waitFor(RTPReaderEvents::End, 1, 10)) << events.trace().toStdString();
    ASSERT_TRUE(server.waitForExit(5000));
    ASSERT_TRUE(server.start(port, 880));
    bool timedOut = false;
    const RTPReaderDrain::Takens taken = drainAfterReopen(&reader, &timedOut);
    ASSERT_FALSE(timedOut) << events.trace().toStdString();
    EXPECT_EQ(events.trace(), QStringLiteral("O E O"));
    EXPECT_EQ(log.count(QStringLiteral("read %1 eof, retry open after 5s\n").arg(server.url())), 1);
    const double gap = timeOf(RTPReaderEvents::Opened, 2) - timeOf(RTPReaderEvents::End, 1);
    EXPECT_GT(gap, 4.9);
    EXPECT_LT(gap, 7.0);
    const size_t from = firstAfterOpen(taken, 2);
    const QVector<float> before = RTPReaderDrain::decode(taken, 0, 0, from);
    const QVector<float> after = RTPReaderDrain::decode(taken, 0, from);
    EXPECT_NEAR(RTPReaderDrain::frequency(before, 8000, 0.2, 0.8), 440, 5);
    EXPECT_NEAR(RTPReaderDrain::frequency(after, 8000, 0.3, 1.4), 880, 5);
    EXPECT_FALSE(reader.isFinished());
    EXPECT_LT(timedStop(&reader), kPromptStop);
}

// The server dies mid-stream and comes back: the reader notices, waits 5 seconds and plays the
// new stream.
TEST_F(RTPStreamAudioReaderTest, ServerKilledAndBackPlaysAgain)
{
    RTPToneHttpServer server;
    const int port = RTPToneHttpServer::freePort();
    ASSERT_TRUE(server.start(port, 440));
    RTPStreamAudioReader reader;
    prepare(&reader, server.url(), 14);
    ASSERT_TRUE(reader.start());
    RTPReaderDrain::Takens taken = RTPReaderDrain::run(
        &reader, 20, [](const RTPReaderDrain::Takens& t) { return RTPReaderDrain::duration(t) >= 1.0; });
    ASSERT_GE(RTPReaderDrain::duration(taken), 1.0);
    server.kill();
    const double killed = RDThread::tickTime();
    RDThread::msleep(500);
    ASSERT_TRUE(server.start(port, 660));
    bool timedOut = false;
    taken = drainAfterReopen(&reader, &timedOut);
    ASSERT_FALSE(timedOut) << events.trace().toStdString();
    const QString url = server.url();
    EXPECT_EQ(log.count(QStringLiteral("read %1 eof, retry open after 5s\n").arg(url))
                  + log.count(QStringLiteral("read %1 error, retry open after 5s\n").arg(url)),
              1);
    EXPECT_EQ(events.count(RTPReaderEvents::Opened), 2) << events.trace().toStdString();
    EXPECT_EQ(events.count(RTPReaderEvents::Failed), 0) << events.trace().toStdString();
    const double reopened = timeOf(RTPReaderEvents::Opened, 2) - killed;
    EXPECT_GT(reopened, 4.9);
    EXPECT_LT(reopened, 8.0);
    const size_t from = firstAfterOpen(taken, 2);
    const QVector<float> after = RTPReaderDrain::decode(taken, 14, from);
    EXPECT_NEAR(RTPReaderDrain::frequency(after, 44100, 0.3, 1.4), 660, 5);
    EXPECT_LT(timedStop(&reader), kPromptStop);
}

// Under ThreadSanitizer: the owner starts, resets and stops while the send loop reads.
TEST_F(RTPStreamAudioReaderTest, StartResetStopWhileAnotherThreadReads)
{
    RTPStalledServer server;
    ASSERT_GT(server.port(), 0);
    RTPStreamAudioReader reader;
    prepare(&reader, QStringLiteral("http://127.0.0.1:%1/radio.mp3").arg(server.port()), 0);
    RTPReaderDrain::Background consumer(&reader);
    std::mt19937 random(11);
    for (int i = 0; i < 20; ++i) {
        EXPECT_TRUE(reader.start());
        RDThread::msleep(random() % 30);
        if (i % 2 == 0)
            reader.reset();
        RDThread::msleep(random() % 10);
        EXPECT_LT(timedStop(&reader), kPromptStop);
        EXPECT_TRUE(reader.isFinished());
    }
    EXPECT_EQ(consumer.finish(), 0);
    EXPECT_GT(server.accepted(), 10);
}

// A channel whose source is an internet radio: its RTP output is the radio's tone; when the
// radio's server dies the channel stays on, silent, and plays the server's new stream once it is
// back, 5 seconds after the loss.
TEST_F(RTPStreamAudioReaderTest, ChannelPlaysARadioThatGoesAndComesBack)
{
    RtpPortManagerScope ports;
    RtpSessionReceiver receiver;
    ASSERT_TRUE(receiver.start());
    RtpSessionRecorder recorder;
    RTPToneHttpServer server;
    const int port = RTPToneHttpServer::freePort();
    ASSERT_TRUE(server.start(port, 440));
    RtpInfoSession session;
    session.setObserver(&recorder);
    RtpInfo info = RtpSessionFakeSources::channel(receiver.port(), 0);
    info.source = RtpInfo::kSourceStream;
    info.streamUrl = server.url();
    session.setRtpInfo(info);
    ASSERT_EQ(session.startSource(RtpInfo::kSourceStream, RtpInfo::kTriggerManual), 0);
    ASSERT_TRUE(receiver.waitFor(100, 15000));
    EXPECT_EQ(recorder.streamsOpened, 1);
    const TestTone::Result first = TestTone::measure(receiver.payloadBytes(), RTPPacketTone::decodeArguments(0), 8000, 440);
    ASSERT_TRUE(first.decoded);
    EXPECT_NEAR(first.frequency, 440, 5);

    server.kill();
    const double killed = RtpSessionReceiver::now();
    RtpSessionFakeSources::sleepMs(500);
    ASSERT_TRUE(server.start(port, 660));
    ASSERT_TRUE(RtpSessionFakeSources::waitUntil([&] { return recorder.streamsOpened.load() == 2; }, 15000));
    const size_t reopened = size_t(receiver.count());
    ASSERT_TRUE(receiver.waitFor(int(reopened) + 75, 10000));
    EXPECT_TRUE(session.isSending());
    EXPECT_EQ(recorder.finished, 0);

    // Nothing was sent between the loss and the reopen, apart from what was queued.
    const auto packets = receiver.packets();
    size_t resumed = 0;
    double gap = 0;
    for (size_t i = 1; i < packets.size(); ++i) {
        if (packets[i].arrival > killed && packets[i].arrival - packets[i - 1].arrival > gap) {
            gap = packets[i].arrival - packets[i - 1].arrival;
            resumed = i;
        }
    }
    EXPECT_GT(packets[resumed].arrival - killed, 4.9);
    EXPECT_LT(packets[resumed].arrival - killed, 8.0);
    const TestTone::Result second =
        TestTone::measure(receiver.payloadBytes(resumed), RTPPacketTone::decodeArguments(0), 8000, 660);
    ASSERT_TRUE(second.decoded);
    EXPECT_NEAR(second.frequency, 660, 5);
    for (const auto& p : packets)
        EXPECT_EQ(p.payloadType, 0);

    session.stopAll(RtpInfo::kTriggerApiStop);
    EXPECT_TRUE(receiver.waitForBye(2000));
}

} // namespace
