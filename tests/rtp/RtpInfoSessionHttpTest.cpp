#include "FakeEngineHost.h"
#include "RDHttpStreamServer.h"
#include "RTPReaderFixtures.h"
#include "RTPToneHttpServer.h"
#include "RtpInfoSession.h"
#include "RtpPortManagerScope.h"
#include "RtpSessionFakeSources.h"
#include "RtpSessionLateness.h"
#include "RtpSessionReceiver.h"
#include "TestAudio.h"
#include "TestSupport.h"
#include "TestTone.h"

#include "../http/TestStreamListener.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <future>
#include <memory>
#include <thread>
#include <vector>

namespace {

constexpr double kTone = 1000.0;
constexpr const char* kPath = "/stream/7";

// A listener that reads whatever comes as fast as it comes, counting the bytes, until the
// server ends its connection.
class FullSpeedReader
{
public:
    explicit FullSpeedReader(std::unique_ptr<TestStreamListener> listener) : m_listener(std::move(listener))
    {
        m_thread = std::thread([this] {
            for (;;) {
                std::string chunk;
                const bool whole = m_listener->read(&chunk, 512, 10000);
                m_bytes += chunk.size();
                if (!whole)
                    break;
            }
            m_ended = true;
        });
    }
    ~FullSpeedReader() { join(); }
    void join()
    {
        if (m_thread.joinable())
            m_thread.join();
    }
    size_t bytes() const { return m_bytes; }
    bool ended() const { return m_ended; }

private:
    std::unique_ptr<TestStreamListener> m_listener;
    std::atomic<size_t> m_bytes{0};
    std::atomic<bool> m_ended{false};
    std::thread m_thread;
};

class RtpInfoSessionHttpTest : public ::testing::Test
{
protected:
    // Declared first, so it outlives the sessions and the server of the test.
    RtpPortManagerScope ports;

    void SetUp() override
    {
        ASSERT_TRUE(receiver.start());
        music = RTPReaderFixtures::tone(QDir(dir.path()), QStringLiteral("music"), kTone, 12.0,
                                        RTPReaderFixtures::Mp3);
        ASSERT_FALSE(music.isEmpty());
    }
    void TearDown() override
    {
        host.setServer(nullptr);
        if (server)
            server->stop();
    }

    void startServer(RDHttpServerConfigure configure = RDHttpServerConfigure())
    {
        server = std::make_shared<RDHttpStreamServer>();
        configure.host = "127.0.0.1";
        configure.port = RTPToneHttpServer::freePort();
        server->setConfigure(configure);
        ASSERT_EQ(server->start(), 0);
        // The server listens once a connection can be made.
        bool listening = false;
        for (int i = 0; i < 400 && !listening; ++i) {
            listening = TestStreamListener(configure.port).isOpen();
            if (!listening)
                RtpSessionFakeSources::sleepMs(5);
        }
        ASSERT_TRUE(listening);
        host.setServer(server);
    }

    // A channel playing the tone's playlist with HTTP output, sending to the receiver.
    RtpInfo channel(int codec)
    {
        RtpInfo info = RtpSessionFakeSources::channel(receiver.port(), codec);
        info.source = RtpInfo::kSourcePlaylist;
        info.playlist = {music};
        info.httpOutput = 1;
        return info;
    }

    std::unique_ptr<TestStreamListener> listen(bool icy, int receiveBuffer = 0)
    {
        auto listener = std::make_unique<TestStreamListener>(server->configure().port, receiveBuffer);
        EXPECT_TRUE(listener->get(kPath, icy ? "Icy-MetaData: 1\r\n" : ""));
        const std::string head = listener->readHead();
        EXPECT_NE(head.find(" 200 OK\r\n"), std::string::npos) << head;
        return listener;
    }

    QString url() const { return QStringLiteral("http://127.0.0.1:%1%2").arg(server->configure().port).arg(kPath); }

    FakeEngineHost host;
    std::shared_ptr<RDHttpStreamServer> server;
    RtpSessionReceiver receiver;
    QTemporaryDir dir;
    QString music;
};

} // namespace

// A PCMA channel with HTTP output is published as MP3 under its id: the ffmpeg command reads the
// URL and decodes the channel's tone, plainly and with ICY metadata, and ffprobe shows the ICY
// fields. The stop takes the stream off the server.
TEST_F(RtpInfoSessionHttpTest, FfmpegDecodesTheChannelFromItsStreamUrlPlainAndWithIcy)
{
    SONARIS_REQUIRE_COMMANDS("ffmpeg", "ffprobe");
    startServer();
    RtpInfoSession session;
    session.setRtpInfo(channel(1));
    ASSERT_EQ(session.startSource(RtpInfo::kSourcePlaylist, RtpInfo::kTriggerManual), 0);
    ASSERT_TRUE(server->hasStream(kPath));
    ASSERT_TRUE(receiver.waitFor(5, 3000));

    // All three at once: each takes the stream in real time.
    const QString address = url();
    auto decodeWith = [address](const char* icy) {
        return std::async(std::launch::async, [address, icy] {
            return TestAudio::decode(address, 44100, {"-icy", icy, "-t", "2"}, 30000);
        });
    };
    auto plain = decodeWith("0");
    auto icy = decodeWith("1");
    auto probe = std::async(std::launch::async, [address] {
        return TestSupport::run(QStringLiteral("ffprobe"),
                                {"-hide_banner", "-v", "error", "-icy", "1", "-show_entries",
                                 "format_tags:stream=codec_name,sample_rate,channels", "-of", "default=nw=1", address},
                                30000);
    });
    const QVector<float> plainSamples = plain.get();
    const QVector<float> icySamples = icy.get();
    const TestSupport::Result probed = probe.get();
    session.stopAll(RtpInfo::kTriggerApiStop);
    EXPECT_FALSE(server->hasStream(kPath));

    for (const QVector<float>* samples : {&plainSamples, &icySamples}) {
        SCOPED_TRACE(samples == &plainSamples ? "plain" : "icy");
        const QVector<float> played = TestAudio::trimSilence(*samples);
        EXPECT_GT(played.size(), 44100 * 3 / 2);
        EXPECT_NEAR(TestAudio::toneFrequency(played, 44100), kTone, 5.0);
        EXPECT_GT(TestAudio::rms(played), 0.05);
    }
    EXPECT_EQ(probed.exitCode, 0) << probed.err.toStdString();
    const QString text = QString::fromUtf8(probed.out);
    for (const char* field : {"icy-br=128000", "icy-name=7", "icy-sr=44100", "icy-pub=1", "codec_name=mp3",
                              "sample_rate=44100", "channels=2"})
        EXPECT_TRUE(text.contains(QLatin1String(field))) << field << "\n" << text.toStdString();
}

// A channel's RTP pacing with its HTTP stream alone and then with 20 listeners reading at full
// speed, one that stops reading and one more client, refused. The stalled listener is ended (its
// send times out, or its queue reaches the cap, which bounds the server's memory for it), which
// frees a slot for the next client; the readers never stall; the pacing does not change.
TEST_F(RtpInfoSessionHttpTest, PacingHoldsWithTwentyListenersAStalledOneAndARefusedOne)
{
    // Smaller limits than the application's, so that the stalled listener is ended within the
    // run; the rules are the same. The stalled listener holds the last slot.
    RDHttpServerConfigure configure;
    configure.maxClients = 21;
    configure.streamQueueLimit = 32 * 1024;
    configure.streamSendBuffer = 8 * 1024;
    configure.streamWriteTimeoutMs = 1000;
    startServer(configure);

    // A second channel with HTTP output that nobody listens to runs beside it: the run without
    // listeners, on the same machine at the same time, so that what a loaded machine does to
    // every thread's wake-ups shows on both.
    RtpSessionReceiver control;
    ASSERT_TRUE(control.start());
    RtpInfo quiet = channel(1);
    quiet.id = 8;
    quiet.address = QStringLiteral("127.0.0.1:%1").arg(control.port());
    RtpInfoSession session, quietSession;
    session.setRtpInfo(channel(1));
    quietSession.setRtpInfo(quiet);
    ASSERT_EQ(session.startSource(RtpInfo::kSourcePlaylist, RtpInfo::kTriggerManual), 0);
    ASSERT_EQ(quietSession.startSource(RtpInfo::kSourcePlaylist, RtpInfo::kTriggerManual), 0);
    ASSERT_TRUE(receiver.waitFor(1, 3000));
    ASSERT_TRUE(control.waitFor(1, 3000));
    // The first half second settles the playlists' decoding; then two seconds without listeners.
    const double aloneFrom = RtpSessionReceiver::now() + 0.5;
    RtpSessionFakeSources::sleepMs(2500);

    const double busyFrom = RtpSessionReceiver::now();
    std::vector<std::unique_ptr<FullSpeedReader>> readers;
    // Stopping the channels ends every listener, so that the readers can be joined also when
    // an assertion leaves early.
    struct StopAtExit
    {
        std::function<void()> stop;
        ~StopAtExit() { stop(); }
    } stopChannels{[&] {
        session.stopAll(RtpInfo::kTriggerApiStop);
        quietSession.stopAll(RtpInfo::kTriggerApiStop);
    }};
    for (int i = 0; i < 20; ++i)
        readers.push_back(std::make_unique<FullSpeedReader>(listen(i % 2 == 1)));
    auto stalled = listen(false, 4096);
    TestStreamListener refused(server->configure().port);
    ASSERT_TRUE(refused.get(kPath));
    std::string refusal;
    EXPECT_TRUE(refused.readUntilClosed(&refusal, 5000));
    EXPECT_EQ(refusal.rfind("HTTP/1.1 503 ", 0), 0u) << "a client was served beyond the limit: " << refusal;

    // Meanwhile every reader keeps getting the stream: an ICY listener gets it in whole
    // intervals of 8192 bytes, one every half second.
    std::vector<size_t> before;
    for (const auto& r : readers)
        before.push_back(r->bytes());
    RtpSessionFakeSources::sleepMs(1200);
    for (size_t i = 0; i < readers.size(); ++i)
        EXPECT_GE(readers[i]->bytes(), before[i] + 8192) << "reader " << i << " stalled";

    // The stalled listener is ended (it is not read meanwhile); the next client gets its slot
    // and the stream.
    EXPECT_TRUE(TestSupport::waitUntil([&] { return server->listenerCount() < 21; }, 15000))
        << "the stalled listener was not ended";
    const double slotFreedAfter = RtpSessionReceiver::now() - busyFrom;
    std::string stalledRest;
    EXPECT_TRUE(stalled->readUntilClosed(&stalledRest, 5000));
    auto waiting = listen(false);
    std::string waited;
    EXPECT_TRUE(waiting->read(&waited, 16000, 5000)) << "the client in the freed slot got no stream";
    FullSpeedReader waiter(std::move(waiting));
    const double busyTo = RtpSessionReceiver::now();

    // p99 lateness in ms of the packets that arrived in [from, to).
    auto p99 = [](RtpSessionReceiver& far, double from, double to) {
        const auto packets = far.packets();
        const std::vector<double> late = RtpSessionLateness::lateness(packets, 0.02);
        std::vector<double> window;
        for (size_t i = 0; i < packets.size(); ++i) {
            if (packets[i].arrival >= from && packets[i].arrival < to)
                window.push_back(late[i]);
        }
        EXPECT_GT(window.size(), size_t((to - from) / 0.02 * 0.9));
        return RtpSessionLateness::percentile(window, 0.99) * 1000;
    };
    const double p99Alone = p99(receiver, aloneFrom, busyFrom);
    const double p99QuietAlone = p99(control, aloneFrom, busyFrom);
    const double p99Busy = p99(receiver, busyFrom, busyTo);
    const double p99Quiet = p99(control, busyFrom, busyTo);
    std::printf("channel pacing p99 lateness: before listeners %.3f ms (the other channel %.3f ms); with 20 "
                "listeners + 1 stalled + 1 refused %.3f ms (the other channel, without listeners, %.3f ms); "
                "slot freed after %.0f ms\n",
                p99Alone, p99QuietAlone, p99Busy, p99Quiet, slotFreedAfter * 1000);
    RecordProperty("p99_late_alone_us", static_cast<int>(p99Alone * 1000));
    RecordProperty("p99_late_busy_us", static_cast<int>(p99Busy * 1000));
    RecordProperty("p99_late_without_listeners_us", static_cast<int>(p99Quiet * 1000));
    RecordProperty("slot_freed_ms", static_cast<int>(slotFreedAfter * 1000));
    // The target is 1 ms; the bound allows for a loaded 2-core machine under sanitizers (a sink
    // that waited for a listener would make the loop late by the send time-out, seconds). A p99
    // of a few hundred packets is one or two wake-ups, which a loaded machine may delay by tens
    // of milliseconds on either channel: a difference beyond the bound is measured again with the
    // listeners still there, as a listener's effect on the loop would show every time.
    double difference = p99Busy - p99Quiet;
    constexpr double kBoundMs = 25.0;
    if (difference >= kBoundMs) {
        const double againFrom = RtpSessionReceiver::now();
        RtpSessionFakeSources::sleepMs(2000);
        const double againTo = RtpSessionReceiver::now();
        const double p99Again = p99(receiver, againFrom, againTo);
        const double p99QuietAgain = p99(control, againFrom, againTo);
        std::printf("again: with listeners %.3f ms, without %.3f ms\n", p99Again, p99QuietAgain);
        difference = std::min(difference, p99Again - p99QuietAgain);
    }
    EXPECT_LT(difference, kBoundMs);
    for (const auto& r : readers)
        EXPECT_FALSE(r->ended()) << "a reading listener was ended";
    // Every reader got the stream throughout: 128 kbit/s, of which a reader thread starved on a
    // loaded 2-core machine under a sanitizer still reads more than half.
    for (size_t i = 0; i < readers.size(); ++i)
        EXPECT_GT(double(readers[i]->bytes()), 0.5 * 16000.0 * (busyTo - busyFrom)) << "reader " << i;

    stopChannels.stop();
    for (auto& r : readers)
        r->join();
    waiter.join();

    // What the client that took the freed slot got is the channel's tone.
    const TestTone::Result tone = TestTone::measure(QByteArray(waited.data(), int(waited.size())), {"-f", "mp3"},
                                                    44100, kTone);
    EXPECT_TRUE(tone.decoded);
    EXPECT_NEAR(tone.frequency, kTone, 5.0);
}
