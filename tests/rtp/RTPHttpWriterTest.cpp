#include "FakeEngineHost.h"
#include "RDHttpStreamServer.h"
#include "RDTcpSocketServer.h"
#include "RTPAudioEncoder.h"
#include "RTPAudioPacket.h"
#include "RTPHttpWriter.h"
#include "RtpInfo.h"
#include "TestAudio.h"
#include "TestSupport.h"

#include "../http/TestStreamListener.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

extern "C" {
#include <libavutil/samplefmt.h>
}

namespace {

using Clock = std::chrono::steady_clock;
using Packets = std::vector<std::unique_ptr<RTPAudioPacket>>;

constexpr double kTone = 1000.0;

// A channel's packets of the payload type, carrying a tone that the ffmpeg command made.
Packets tonePackets(int payloadType, double seconds)
{
    Packets packets;
    QTemporaryDir dir;
    const QString path = dir.filePath("tone.raw");
    if (!TestSupport::makeTone(path, kTone, seconds, {"-f", "s16le", "-ar", "44100", "-ac", "2"}))
        return packets;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return packets;
    const QByteArray pcm = file.readAll();
    RTPAudioEncoder encoder;
    if (!encoder.open(44100, 0, 2, AV_SAMPLE_FMT_S16, payloadType))
        return packets;
    if (encoder.encodePcm(pcm.constData(), pcm.size() / 4, pcm.size()) != 0)
        return packets;
    while (RTPAudioPacket* p = encoder.queue()->pop())
        packets.emplace_back(p);
    return packets;
}

// The channel's send loop as far as its sinks see it: each packet written when the monotonic
// clock reaches the start plus the durations before it, over and over. It records how late
// every write started and how long it took.
class PacedChannel
{
public:
    PacedChannel(RTPAudioWriter* sink, const Packets& packets) : m_sink(sink), m_packets(packets)
    {
        m_thread = std::thread([this] { run(); });
    }
    ~PacedChannel() { stop(); }
    void stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    std::vector<double> lateMicros() const { return m_late; }
    std::vector<double> writeMicros() const { return m_write; }

private:
    void run()
    {
        const auto start = Clock::now();
        double elapsed = 0;
        for (size_t i = 0; !m_stop; i = (i + 1) % m_packets.size()) {
            const auto due = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(elapsed));
            std::this_thread::sleep_until(due);
            const auto t0 = Clock::now();
            m_late.push_back(std::chrono::duration<double, std::micro>(t0 - due).count());
            m_sink->write(m_packets[i].get());
            m_write.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
            elapsed += m_packets[i]->duration;
        }
    }

    RTPAudioWriter* m_sink;
    const Packets& m_packets;
    std::atomic<bool> m_stop{false};
    std::vector<double> m_late;
    std::vector<double> m_write;
    std::thread m_thread;
};

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<size_t>(p * static_cast<double>(values.size())))];
}

RtpInfo channel(int id, int codec, int httpOutput = 1)
{
    RtpInfo info;
    info.id = id;
    info.name = "channel";
    info.address = "127.0.0.1:40000";
    info.codec = codec;
    info.httpOutput = httpOutput;
    return info;
}

std::string icyHead(int id)
{
    return "HTTP/1.1 200 OK\r\n"
           "Accept-Ranges: none\r\n"
           "Access-Control-Allow-Headers: Content-Type,X-Requested-With\r\n"
           "Access-Control-Allow-Origin: *\r\n"
           "Content-Type: audio/mp3\r\n"
           "icy-br: 128000\r\n"
           "icy-metaint: 8192\r\n"
           "icy-name: " +
           std::to_string(id) +
           "\r\n"
           "icy-pub: 1\r\n"
           "icy-sr: 44100\r\n"
           "\r\n";
}

class RTPHttpWriterTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        server = startServer(RDHttpServerConfigure());
        host.setServer(server);
    }
    void TearDown() override
    {
        writer.close();
        host.setServer(nullptr);
        for (auto& s : servers)
            s->stop();
    }
    std::shared_ptr<RDHttpStreamServer> startServer(RDHttpServerConfigure configure)
    {
        auto s = std::make_shared<RDHttpStreamServer>();
        configure.host = "127.0.0.1";
        configure.port = TestSupport::freeTcpPort();
        s->setConfigure(configure);
        EXPECT_EQ(s->start(), 0);
        // The server listens once a connection can be made.
        for (int i = 0; i < 200; ++i) {
            TestStreamListener probe(configure.port);
            if (probe.isOpen())
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        servers.push_back(s);
        return s;
    }
    std::unique_ptr<TestStreamListener> listen(const std::shared_ptr<RDHttpStreamServer>& s, int id,
                                               bool icy = false, int receiveBuffer = 0)
    {
        auto l = std::make_unique<TestStreamListener>(s->configure().port, receiveBuffer);
        EXPECT_TRUE(l->get("/stream/" + std::to_string(id), icy ? "Icy-MetaData: 1\r\n" : ""));
        const std::string head = l->readHead();
        EXPECT_NE(head.find(" 200 OK\r\n"), std::string::npos) << head;
        return l;
    }
    static void writeAll(RTPAudioWriter* sink, const Packets& packets)
    {
        for (const auto& p : packets)
            sink->write(p.get());
    }

    FakeEngineHost host;
    std::vector<std::shared_ptr<RDHttpStreamServer>> servers;
    std::shared_ptr<RDHttpStreamServer> server;
    RTPHttpWriter writer;
};

TEST_F(RTPHttpWriterTest, HttpOutputOffRegistersNothing)
{
    const RtpInfo info = channel(7, 1, 0);
    EXPECT_EQ(writer.open(&info, 8, 8000, 1), 0);
    EXPECT_FALSE(writer.isOpen());
    EXPECT_FALSE(server->hasStream("/stream/7"));
    EXPECT_EQ(writer.write(nullptr), 0);
}

TEST_F(RTPHttpWriterTest, EveryCodecIsPublishedAsTheSameMp3Stream)
{
    struct Case
    {
        int codec, payloadType, rate, channels;
    } cases[] = {{0, 0, 8000, 1}, {1, 8, 8000, 1}, {2, 9, 8000, 1}, {3, 14, 44100, 2}, {4, 11, 44100, 1},
                 {5, 10, 44100, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.codec);
        const RtpInfo info = channel(7, c.codec);
        ASSERT_EQ(writer.open(&info, c.payloadType, c.rate, c.channels), 0);
        EXPECT_TRUE(writer.isOpen());
        const RDHttpAudioStream stream = writer.stream();
        EXPECT_EQ(stream.path, "/stream/7");
        EXPECT_EQ(stream.name, "7");
        EXPECT_EQ(stream.contentType, "audio/mp3");
        EXPECT_EQ(stream.bitrate, 128000);
        EXPECT_EQ(stream.sampleRate, 44100);
        EXPECT_EQ(stream.bufferSize, 8192);
        EXPECT_TRUE(server->hasStream("/stream/7"));
        TestStreamListener listener(server->configure().port);
        ASSERT_TRUE(listener.get("/stream/7", "Icy-MetaData: 1\r\n"));
        EXPECT_EQ(listener.readHead(), icyHead(7));
        writer.close();
        EXPECT_FALSE(writer.isOpen());
        EXPECT_FALSE(server->hasStream("/stream/7"));
        std::string rest;
        EXPECT_TRUE(listener.readUntilClosed(&rest, 2000)) << "closing did not end the listener";
    }
}

TEST_F(RTPHttpWriterTest, ACodecWithoutMp3TranscodingOpensNothing)
{
    for (int codec : {6, -1, 99}) {
        const RtpInfo info = channel(8, codec);
        EXPECT_EQ(writer.open(&info, 0, 8000, 1), -1) << codec;
        EXPECT_FALSE(writer.isOpen());
        EXPECT_FALSE(server->hasStream("/stream/8"));
    }
}

TEST_F(RTPHttpWriterTest, PcmaChannelReachesListenersAsStereoMp3At128k)
{
    SONARIS_REQUIRE_COMMANDS("ffprobe");
    const Packets packets = tonePackets(8, 3.0);
    ASSERT_GT(packets.size(), 100u);
    const RtpInfo info = channel(7, 1);
    ASSERT_EQ(writer.open(&info, 8, 8000, 1), 0);
    auto listener = listen(server, 7);
    writeAll(&writer, packets);
    std::string mp3;
    ASSERT_TRUE(listener->read(&mp3, 40 * 1024, 5000));
    ASSERT_EQ(static_cast<unsigned char>(mp3[0]), 0xFF) << "the stream does not start on a frame";

    QTemporaryDir dir;
    const QString path = dir.filePath("stream.mp3");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(mp3.data(), static_cast<qint64>(mp3.size()));
    file.close();
    const auto probe = TestSupport::run("ffprobe", {"-v", "error", "-show_entries",
                                                    "stream=codec_name,sample_rate,channels,bit_rate", "-of",
                                                    "default=nw=1", path});
    EXPECT_TRUE(probe.out.contains("codec_name=mp3")) << probe.out.toStdString();
    EXPECT_TRUE(probe.out.contains("sample_rate=44100")) << probe.out.toStdString();
    EXPECT_TRUE(probe.out.contains("channels=2")) << probe.out.toStdString();
    EXPECT_TRUE(probe.out.contains("bit_rate=128000")) << probe.out.toStdString();
    const QVector<float> samples = TestAudio::trimSilence(TestAudio::decode(path, 44100));
    ASSERT_GT(samples.size(), 44100);
    EXPECT_NEAR(TestAudio::toneFrequency(samples, 44100), kTone, 5.0);
}

TEST_F(RTPHttpWriterTest, Mp3ChannelStreamsItsFramesWithoutTheirHeader)
{
    const Packets packets = tonePackets(14, 1.5);
    ASSERT_GT(packets.size(), 40u);
    std::string frames;
    for (const auto& p : packets) {
        ASSERT_TRUE(RTPAudioPacket::hasMp3Header(p->data, p->length));
        frames.append(reinterpret_cast<const char*>(p->data) + 4, static_cast<size_t>(p->length - 4));
    }
    const RtpInfo info = channel(9, 3);
    ASSERT_EQ(writer.open(&info, 14, 44100, 2), 0);
    auto listener = listen(server, 9);
    writeAll(&writer, packets);
    // A header-only packet and one of another payload type add nothing.
    RTPAudioPacket bare;
    bare.payloadType = 14;
    const char zeros[4] = {0, 0, 0, 0};
    bare.setData(zeros, 4);
    writer.write(&bare);
    RTPAudioPacket alien;
    alien.payloadType = 8;
    alien.setData("xxxxxxxxxxxxxxxx", 16);
    writer.write(&alien);
    const size_t whole = frames.size() / 1024 * 1024;
    std::string received;
    ASSERT_TRUE(listener->read(&received, whole, 5000));
    EXPECT_EQ(static_cast<unsigned char>(received[0]), 0xFF);
    EXPECT_EQ(static_cast<unsigned char>(received[1]) & 0xE0, 0xE0);
    EXPECT_TRUE(received == frames.substr(0, whole));
}

TEST_F(RTPHttpWriterTest, StreamFollowsTheServerThroughARestart)
{
    const Packets packets = tonePackets(14, 1.0);
    ASSERT_FALSE(packets.empty());
    const RtpInfo info = channel(5, 3);

    // No server when the sink opens: it writes nothing, and the channel plays on.
    host.setServer(nullptr);
    ASSERT_EQ(writer.open(&info, 14, 44100, 2), 0);
    EXPECT_TRUE(writer.isOpen());
    writeAll(&writer, packets);
    EXPECT_FALSE(server->hasStream("/stream/5"));
    writer.close();

    host.setServer(server);
    ASSERT_EQ(writer.open(&info, 14, 44100, 2), 0);
    EXPECT_TRUE(server->hasStream("/stream/5"));
    {
        auto l = listen(server, 5);
        writeAll(&writer, packets);
        std::string got;
        EXPECT_TRUE(l->read(&got, 8192, 3000));
    }

    // A restart of the same server (stop, configure, start) keeps the stream.
    server->stop();
    RDHttpServerConfigure configure = server->configure();
    configure.port = TestSupport::freeTcpPort();
    server->setConfigure(configure);
    ASSERT_EQ(server->start(), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    {
        auto l = listen(server, 5);
        writeAll(&writer, packets);
        std::string got;
        EXPECT_TRUE(l->read(&got, 8192, 3000)) << "no audio after the restart";
    }

    // Closing while the host hands out no server still takes the stream away.
    host.setServer(nullptr);
    writer.close();
    EXPECT_FALSE(server->hasStream("/stream/5"));
}

TEST_F(RTPHttpWriterTest, HostGoingAwayWhileTheChannelWrites)
{
    const Packets packets = tonePackets(14, 0.5);
    ASSERT_FALSE(packets.empty());
    const RtpInfo info = channel(6, 3);
    ASSERT_EQ(writer.open(&info, 14, 44100, 2), 0);
    std::atomic<bool> stop{false};
    std::thread channelThread([&] {
        for (size_t i = 0; !stop; i = (i + 1) % packets.size())
            writer.write(packets[i].get());
    });
    for (int i = 0; i < 50; ++i) {
        auto other = std::make_shared<RDHttpStreamServer>();
        host.setServer(i % 3 == 0 ? nullptr : (i % 2 ? other : server));
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    {
        // A second host registers and unregisters while writes go on.
        FakeEngineHost other;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    stop = true;
    channelThread.join();
    writer.close();
    EXPECT_FALSE(server->hasStream("/stream/6"));
}

// The done-when checks for a channel with HTTP output, driven by a paced feeder of real MP3
// packets in place of a channel session.
TEST_F(RTPHttpWriterTest, FfmpegDecodesTheToneFromAChannelStreamPlainAndWithIcy)
{
    SONARIS_REQUIRE_COMMANDS("ffmpeg", "ffprobe");
    const Packets packets = tonePackets(14, 12.0);
    ASSERT_GT(packets.size(), 400u);
    const RtpInfo info = channel(7, 3);
    ASSERT_EQ(writer.open(&info, 14, 44100, 2), 0);
    PacedChannel paced(&writer, packets);
    const QString url = QString("http://127.0.0.1:%1/stream/7").arg(server->configure().port);
    for (const char* icy : {"1", "0"}) {
        SCOPED_TRACE(icy);
        const QVector<float> samples = TestAudio::decode(url, 44100, {"-icy", icy, "-t", "2"}, 30000);
        ASSERT_GT(samples.size(), 44100);
        EXPECT_NEAR(TestAudio::toneFrequency(TestAudio::trimSilence(samples), 44100), kTone, 5.0);
    }
    const auto probe = TestSupport::run("ffprobe", {"-hide_banner", "-v", "error", "-icy", "1", "-show_entries",
                                                    "format_tags:stream=codec_name,sample_rate", "-of",
                                                    "default=nw=1", url},
                                        30000);
    EXPECT_EQ(probe.exitCode, 0) << probe.err.toStdString();
    const QString text = QString::fromUtf8(probe.out);
    for (const char* tag : {"icy-br=128000", "icy-name=7", "icy-sr=44100", "icy-pub=1", "codec_name=mp3"})
        EXPECT_TRUE(text.contains(tag)) << tag << "\n" << text.toStdString();
}

TEST_F(RTPHttpWriterTest, PacingIsUnchangedByTwentyListenersAndOneThatStopsReading)
{
    // Smaller limits than the application's, so that the stalled listener is dropped within the
    // run (by default after about 15 s); the rules are the same.
    RDHttpServerConfigure configure;
    configure.maxClients = 21;
    configure.streamQueueLimit = 32 * 1024;
    configure.streamSendBuffer = 8 * 1024;
    configure.streamWriteTimeoutMs = 2000;
    auto limited = startServer(configure);
    host.setServer(limited);
    const Packets packets = tonePackets(14, 3.0);
    ASSERT_GT(packets.size(), 100u);
    const RtpInfo info = channel(7, 3);
    ASSERT_EQ(writer.open(&info, 14, 44100, 2), 0);

    std::vector<double> alone, aloneWrites;
    {
        PacedChannel paced(&writer, packets);
        std::this_thread::sleep_for(std::chrono::seconds(3));
        paced.stop();
        alone = paced.lateMicros();
        aloneWrites = paced.writeMicros();
    }

    std::vector<std::unique_ptr<TestStreamListener>> listeners;
    for (int i = 0; i < 20; ++i)
        listeners.push_back(listen(limited, 7, i % 2 == 1));
    auto stalled = listen(limited, 7, false, 4096);
    std::vector<std::string> received(listeners.size());
    std::vector<std::thread> readers;
    for (size_t i = 0; i < listeners.size(); ++i)
        readers.emplace_back([&, i] { listeners[i]->readUntilClosed(&received[i], 30000); });

    std::vector<double> busy, writes;
    const auto t0 = Clock::now();
    double droppedAfterMs = -1;
    {
        PacedChannel paced(&writer, packets);
        while (TestSupport::msSince(t0) < 6000) {
            if (droppedAfterMs < 0 && limited->clientCount() == 20)
                droppedAfterMs = TestSupport::msSince(t0);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        paced.stop();
        busy = paced.lateMicros();
        writes = paced.writeMicros();
    }
    writer.close();
    for (auto& r : readers)
        r.join();

    const double p99Alone = percentile(alone, 0.99) / 1000.0;
    const double p99Busy = percentile(busy, 0.99) / 1000.0;
    RecordProperty("p99_late_alone_us", static_cast<int>(p99Alone * 1000));
    RecordProperty("p99_late_busy_us", static_cast<int>(p99Busy * 1000));
    RecordProperty("p99_write_us", static_cast<int>(percentile(writes, 0.99)));
    RecordProperty("stalled_dropped_ms", static_cast<int>(droppedAfterMs));
    std::printf("pacing p99 lateness: alone %.3f ms, 20 listeners + 1 stalled %.3f ms; write p50/p99: alone %.0f/%.0f "
                "us, with listeners %.0f/%.0f us; stalled listener dropped after %.0f ms\n",
                p99Alone, p99Busy, percentile(aloneWrites, 0.5), percentile(aloneWrites, 0.99),
                percentile(writes, 0.5), percentile(writes, 0.99), droppedAfterMs);
    // The target is 1 ms (bench/http measures it). The bound allows for a loaded 2-core machine
    // under ThreadSanitizer, where the two runs see different loads (57 ms apart was seen with a
    // second full test run beside this one); a writer that waited for a listener would be late
    // by the send time-out (2 s here), one that encoded for every listener by tens of
    // milliseconds more with every packet, seconds by the end of the run.
    EXPECT_LT(p99Busy - p99Alone, 300.0);

    EXPECT_GE(droppedAfterMs, 0) << "the stalled listener was never dropped";
    std::string rest;
    EXPECT_TRUE(stalled->readUntilClosed(&rest, 5000));
    // Everyone else got the stream for the whole run: 128 kbit/s for about 6 s.
    for (size_t i = 0; i < received.size(); ++i)
        EXPECT_GT(received[i].size(), 16000u * 4) << i;
}

} // namespace
