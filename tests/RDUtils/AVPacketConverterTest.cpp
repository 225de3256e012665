#include "AVConverter.h"
#include "AVPacketConverter.h"

#include "TestAudio.h"
#include "TestMedia.h"
#include "TestSupport.h"
#include "TestTone.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

extern "C" {
#include <libavutil/channel_layout.h>
}

namespace {

struct PacketFree
{
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;

struct ParamsFree
{
    void operator()(AVCodecParameters* p) const { avcodec_parameters_free(&p); }
};
using ParamsPtr = std::unique_ptr<AVCodecParameters, ParamsFree>;

ParamsPtr makeParams(AVCodecID id, int rate, int channels, AVSampleFormat format, int frameSize = 0,
                     int64_t bitRate = 0)
{
    ParamsPtr p(avcodec_parameters_alloc());
    p->codec_type = AVMEDIA_TYPE_AUDIO;
    p->codec_id = id;
    p->sample_rate = rate;
    p->format = format;
    p->frame_size = frameSize;
    p->bit_rate = bitRate;
    av_channel_layout_default(&p->ch_layout, channels);
    return p;
}

ParamsPtr copyParams(const AVCodecParameters* from)
{
    ParamsPtr p(avcodec_parameters_alloc());
    avcodec_parameters_copy(p.get(), from);
    return p;
}

std::mutex g_logMutex;
QStringList g_logLines;

void captureLog(QtMsgType, const QMessageLogContext&, const QString& text)
{
    std::lock_guard<std::mutex> lock(g_logMutex);
    g_logLines.append(text);
}

struct Conversion
{
    bool opened = false;
    int inputPackets = 0;
    int errors = 0;
    std::vector<PacketPtr> packets;

    double totalSeconds() const
    {
        double sum = 0;
        for (const PacketPtr& p : packets)
            sum += double(p->duration) * av_q2d(p->time_base);
        return sum;
    }
};

void drain(AVPacketConverter& converter, Conversion& result)
{
    while (AVPacket* p = converter.pop())
        result.packets.emplace_back(p);
}

// Feeds every packet of the file through a converter to out, as a file reader does.
Conversion convertFile(const QString& path, const AVCodecParameters* out,
                       const std::function<void(int, AVPacket*)>& tamper = nullptr)
{
    Conversion result;
    TestMedia media;
    if (!media.open(path))
        return result;
    AVPacketConverter converter;
    if (!converter.init(media.parameters(), out))
        return result;
    result.opened = true;
    while (AVPacket* raw = media.next()) {
        PacketPtr packet(raw);
        if (tamper)
            tamper(result.inputPackets, packet.get());
        ++result.inputPackets;
        if (converter.push(packet.get()) < 0)
            ++result.errors;
        drain(converter, result);
    }
    EXPECT_GE(converter.flush(), 0);
    drain(converter, result);
    converter.release();
    return result;
}

QVector<float> samplesOf(const std::vector<PacketPtr>& packets)
{
    QVector<float> out;
    for (const PacketPtr& p : packets) {
        const int16_t* s = reinterpret_cast<const int16_t*>(p->data);
        for (int i = 0; i < p->size / 2; ++i)
            out.append(s[i] / 32768.0f);
    }
    return out;
}

class AVPacketConverterTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        if (!TestSupport::haveCommand(QStringLiteral("ffmpeg")))
            return;
        s_dir = new QTemporaryDir;
        const QString d = s_dir->path();
        s_ok = TestSupport::makeTone(d + "/tone.mp3", 1000, 2,
                                     {"-ar", "44100", "-ac", "2", "-c:a", "libmp3lame", "-b:a", "128k"})
               && TestSupport::makeTone(d + "/tone-alaw.wav", 1000, 2,
                                        {"-ar", "8000", "-ac", "1", "-c:a", "pcm_alaw"})
               && TestSupport::makeTone(d + "/tone-44k.wav", 1000, 2, {"-ar", "44100", "-ac", "2"})
               && TestSupport::makeTone(d + "/tone.mka", 1000, 3,
                                        {"-ar", "44100", "-ac", "1", "-c:a", "pcm_s16le"})
               && TestSupport::makeTone(d + "/tone-48k.mp3", 1000, 2,
                                        {"-ar", "48000", "-ac", "1", "-c:a", "libmp3lame"});
    }
    static void TearDownTestSuite()
    {
        delete s_dir;
        s_dir = nullptr;
    }
    void SetUp() override
    {
        SONARIS_REQUIRE_COMMANDS("ffmpeg");
        ASSERT_TRUE(s_ok) << "fixtures could not be made";
        std::lock_guard<std::mutex> lock(g_logMutex);
        g_logLines.clear();
        m_previous = qInstallMessageHandler(captureLog);
    }
    void TearDown() override { qInstallMessageHandler(m_previous); }

    static QString file(const char* name) { return s_dir->path() + "/" + name; }
    static QStringList logLines()
    {
        std::lock_guard<std::mutex> lock(g_logMutex);
        return g_logLines;
    }

    static QTemporaryDir* s_dir;
    static bool s_ok;
    QtMessageHandler m_previous = nullptr;
};

QTemporaryDir* AVPacketConverterTest::s_dir = nullptr;
bool AVPacketConverterTest::s_ok = false;

struct FrameCase
{
    const char* name;
    const char* input;
    AVCodecID codec;
    int rate;
    int channels;
    AVSampleFormat format;
    int frameSizeParam;
    int frameSamples;   // expected samples per packet
    int frameBytes;     // expected bytes per packet (0: any)
};

void PrintTo(const FrameCase& c, std::ostream* os)
{
    *os << c.name;
}

class AVPacketConverterFrameTest : public AVPacketConverterTest,
                                   public ::testing::WithParamInterface<FrameCase>
{
};

TEST_P(AVPacketConverterFrameTest, EveryPacketHasTheEncodersFrameSize)
{
    const FrameCase& c = GetParam();
    ParamsPtr out = makeParams(c.codec, c.rate, c.channels, c.format, c.frameSizeParam,
                               c.codec == AV_CODEC_ID_MP3 ? 128000 : 0);
    Conversion conv = convertFile(file(c.input), out.get());
    ASSERT_TRUE(conv.opened);
    EXPECT_EQ(conv.errors, 0);
    ASSERT_GT(conv.packets.size(), 10u);
    for (size_t i = 0; i < conv.packets.size(); ++i) {
        const AVPacket* p = conv.packets[i].get();
        EXPECT_EQ(p->time_base.num, 1);
        EXPECT_EQ(p->time_base.den, c.rate);
        // libmp3lame may shorten its very last packet to the real end of the audio.
        if (c.codec == AV_CODEC_ID_MP3 && i + 1 == conv.packets.size())
            continue;
        EXPECT_EQ(p->duration, c.frameSamples) << "packet " << i;
        if (c.frameBytes > 0) {
            EXPECT_EQ(p->size, c.frameBytes) << "packet " << i;
        }
        if (c.codec == AV_CODEC_ID_MP3) {
            ASSERT_GE(p->size, 4);
            EXPECT_EQ(p->data[0], 0xFF);
            EXPECT_EQ(p->data[1] & 0xE0, 0xE0);
        }
    }
    // Nothing lost and nothing invented beyond the last frame's padding (and MP3's priming).
    const double frame = double(c.frameSamples) / c.rate;
    EXPECT_NEAR(conv.totalSeconds(), 2.0, 2 * frame + 0.01);
    EXPECT_TRUE(logLines().isEmpty()) << logLines().join("\n").toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Codecs, AVPacketConverterFrameTest,
    ::testing::Values(
        FrameCase{"mp3_to_pcma", "tone.mp3", AV_CODEC_ID_PCM_ALAW, 8000, 1, AV_SAMPLE_FMT_S16, 0, 160, 160},
        FrameCase{"mp3_to_g722", "tone.mp3", AV_CODEC_ID_ADPCM_G722, 16000, 1, AV_SAMPLE_FMT_S16, 0, 320, 160},
        FrameCase{"mp3_to_l16_stereo", "tone.mp3", AV_CODEC_ID_PCM_S16BE, 44100, 2, AV_SAMPLE_FMT_S16, 220, 220, 880},
        FrameCase{"wav_to_pcmu", "tone-44k.wav", AV_CODEC_ID_PCM_MULAW, 8000, 1, AV_SAMPLE_FMT_S16, 0, 160, 160},
        FrameCase{"pcma_to_mp3", "tone-alaw.wav", AV_CODEC_ID_MP3, 44100, 2, AV_SAMPLE_FMT_FLTP, 0, 1152, 0}),
    [](const ::testing::TestParamInfo<FrameCase>& info) { return std::string(info.param.name); });

TEST_F(AVPacketConverterTest, IdenticalFormatsPassPacketsThroughUnchanged)
{
    TestMedia media;
    ASSERT_TRUE(media.open(file("tone.mp3")));
    ParamsPtr out = copyParams(media.parameters());
    AVPacketConverter converter;
    ASSERT_TRUE(converter.init(media.parameters(), out.get()));
    EXPECT_FALSE(converter.isTranscoding());
    int n = 0;
    while (AVPacket* raw = media.next()) {
        PacketPtr in(raw);
        ASSERT_EQ(converter.push(in.get()), 0);
        PacketPtr copy(converter.pop());
        ASSERT_TRUE(copy);
        ASSERT_EQ(copy->size, in->size);
        EXPECT_EQ(std::memcmp(copy->data, in->data, size_t(in->size)), 0);
        EXPECT_EQ(copy->duration, in->duration);
        EXPECT_EQ(av_cmp_q(copy->time_base, in->time_base), 0);
        EXPECT_EQ(converter.pop(), nullptr);
        ++n;
    }
    EXPECT_GT(n, 50);
}

TEST_F(AVPacketConverterTest, IdenticalPcmFormatsAreRecutIntoFramesByteForByte)
{
    TestMedia media;
    ASSERT_TRUE(media.open(file("tone-alaw.wav")));
    ParamsPtr out = copyParams(media.parameters());
    AVPacketConverter converter;
    ASSERT_TRUE(converter.init(media.parameters(), out.get()));
    EXPECT_FALSE(converter.isTranscoding());
    QByteArray in, outBytes;
    Conversion conv;
    while (AVPacket* raw = media.next()) {
        PacketPtr p(raw);
        in.append(reinterpret_cast<const char*>(p->data), p->size);
        ASSERT_EQ(converter.push(p.get()), 0);
        drain(converter, conv);
    }
    ASSERT_EQ(converter.flush(), 0);
    drain(converter, conv);
    ASSERT_FALSE(conv.packets.empty());
    for (size_t i = 0; i < conv.packets.size(); ++i) {
        const AVPacket* p = conv.packets[i].get();
        outBytes.append(reinterpret_cast<const char*>(p->data), p->size);
        if (i + 1 < conv.packets.size()) {
            EXPECT_EQ(p->size, 160);
            EXPECT_EQ(p->duration, 160);
        }
        EXPECT_EQ(p->duration, p->size);
        EXPECT_EQ(av_cmp_q(p->time_base, AVRational{1, 8000}), 0);
    }
    EXPECT_EQ(outBytes, in);
    EXPECT_NEAR(conv.totalSeconds(), 2.0, 0.001);
}

// Resampling a clean tone in small packets must give a clean tone: a resampler flushed after
// every packet loses its look-ahead and jumps at each packet boundary.
TEST_F(AVPacketConverterTest, ResamplerKeepsItsStateAcrossPackets)
{
    ParamsPtr in = makeParams(AV_CODEC_ID_PCM_S16LE, 44100, 1, AV_SAMPLE_FMT_S16);
    ParamsPtr out = makeParams(AV_CODEC_ID_PCM_S16LE, 8000, 1, AV_SAMPLE_FMT_S16);
    AVPacketConverter converter;
    ASSERT_TRUE(converter.init(in.get(), out.get()));
    Conversion conv;
    const int perPacket = 441;
    for (int k = 0; k < 100; ++k) {
        PacketPtr p(av_packet_alloc());
        ASSERT_EQ(av_new_packet(p.get(), perPacket * 2), 0);
        int16_t* s = reinterpret_cast<int16_t*>(p->data);
        for (int i = 0; i < perPacket; ++i)
            s[i] = int16_t(std::lround(16384 * std::sin(2 * M_PI * 1000.0 * (k * perPacket + i) / 44100)));
        ASSERT_EQ(converter.push(p.get()), 0);
        drain(converter, conv);
    }
    // 1 s of input is 50 whole frames before any flush, give or take the resampler's delay.
    EXPECT_GE(conv.packets.size(), 49u);
    for (const PacketPtr& p : conv.packets)
        EXPECT_EQ(p->size, 320);
    QVector<float> x = samplesOf(conv.packets);
    x = x.mid(80, x.size() - 160);
    double residual = 0;
    const double amplitude = TestTone::fitSine(x, 1000, 8000, &residual);
    EXPECT_NEAR(amplitude, 0.5, 0.01);
    EXPECT_LT(residual, 0.01);
}

TEST_F(AVPacketConverterTest, CorruptPacketIsLoggedOnceAndLaterPacketsConvert)
{
    ParamsPtr out = makeParams(AV_CODEC_ID_PCM_S16LE, 8000, 1, AV_SAMPLE_FMT_S16);
    Conversion conv = convertFile(file("tone.mp3"), out.get(), [](int index, AVPacket* p) {
        if (index == 20)
            std::memset(p->data, 0, size_t(p->size));
    });
    ASSERT_TRUE(conv.opened);
    EXPECT_EQ(conv.errors, 1);
    const QStringList errors =
        logLines().filter(QRegularExpression(QStringLiteral(" [0-9a-f]{8} = \\S")));
    EXPECT_EQ(errors.size(), 1) << logLines().join("\n").toStdString();
    // One MP3 frame (and the bit reservoir of the next) is lost, the rest comes through.
    EXPECT_NEAR(conv.totalSeconds(), 2.0, 0.1);
    // Packet 20 is about half a second in; the second after it is a clean tone again.
    const QVector<float> x = samplesOf(conv.packets);
    EXPECT_NEAR(TestAudio::toneFrequency(x.mid(6000, 8000), 8000), 1000, 5);
}

TEST_F(AVPacketConverterTest, TruncatedFileGivesAnErrorForItsLastFrameOnly)
{
    QFile full(file("tone.mp3"));
    ASSERT_TRUE(full.open(QIODevice::ReadOnly));
    const QByteArray bytes = full.readAll();
    const QString cut = file("cut.mp3");
    QFile truncated(cut);
    ASSERT_TRUE(truncated.open(QIODevice::WriteOnly));
    truncated.write(bytes.left(bytes.size() / 2 + 100));
    truncated.close();

    ParamsPtr out = makeParams(AV_CODEC_ID_PCM_MULAW, 8000, 1, AV_SAMPLE_FMT_S16);
    Conversion conv = convertFile(cut, out.get());
    ASSERT_TRUE(conv.opened);
    EXPECT_LE(conv.errors, 1);
    EXPECT_NEAR(conv.totalSeconds(), 1.0, 0.1);
}

TEST_F(AVPacketConverterTest, FormatChangeInTheMiddleOfAStreamIsFollowed)
{
    // Internet radio may change rate and layout between frames.
    QFile a(file("tone.mp3")), b(file("tone-48k.mp3"));
    ASSERT_TRUE(a.open(QIODevice::ReadOnly));
    ASSERT_TRUE(b.open(QIODevice::ReadOnly));
    const QString joined = file("joined.mp3");
    QFile j(joined);
    ASSERT_TRUE(j.open(QIODevice::WriteOnly));
    j.write(a.readAll());
    j.write(b.readAll());
    j.close();

    ParamsPtr out = makeParams(AV_CODEC_ID_PCM_S16LE, 8000, 1, AV_SAMPLE_FMT_S16);
    Conversion conv = convertFile(joined, out.get());
    ASSERT_TRUE(conv.opened);
    EXPECT_NEAR(conv.totalSeconds(), 4.0, 0.15);
    const QVector<float> x = samplesOf(conv.packets);
    EXPECT_NEAR(TestAudio::toneFrequency(x.mid(800, 8000), 8000), 1000, 5);
    EXPECT_NEAR(TestAudio::toneFrequency(x.mid(x.size() - 12000, 8000), 8000), 1000, 5);
}

TEST_F(AVPacketConverterTest, UnusableSetUpsFailWithoutCrashing)
{
    AVPacketConverter converter;
    PacketPtr p(av_packet_alloc());
    ASSERT_EQ(av_new_packet(p.get(), 16), 0);
    EXPECT_LT(converter.push(p.get()), 0);
    EXPECT_LT(converter.flush(), 0);
    EXPECT_EQ(converter.pop(), nullptr);
    EXPECT_EQ(converter.outputFormat(nullptr, nullptr, nullptr), 0);

    ParamsPtr pcm = makeParams(AV_CODEC_ID_PCM_S16LE, 8000, 1, AV_SAMPLE_FMT_S16);
    EXPECT_FALSE(converter.init(nullptr, pcm.get()));
    EXPECT_FALSE(converter.init(pcm.get(), nullptr));

    ParamsPtr none = makeParams(AV_CODEC_ID_NONE, 0, 0, AV_SAMPLE_FMT_NONE);
    EXPECT_FALSE(converter.init(none.get(), pcm.get()));
    EXPECT_LT(converter.push(p.get()), 0);

    // Planar output of more than two channels has no ring buffer to go to.
    ParamsPtr planar = makeParams(AV_CODEC_ID_PCM_S16LE_PLANAR, 8000, 6, AV_SAMPLE_FMT_S16P);
    EXPECT_FALSE(converter.init(pcm.get(), planar.get()));
    converter.release();
    converter.release();

    ParamsPtr mulaw = makeParams(AV_CODEC_ID_PCM_MULAW, 8000, 1, AV_SAMPLE_FMT_S16);
    ASSERT_TRUE(converter.init(pcm.get(), mulaw.get()));
    int rate = 0, channels = 0, format = -1;
    EXPECT_EQ(converter.outputFormat(&rate, &channels, &format), 3);
    EXPECT_EQ(rate, 8000);
    EXPECT_EQ(channels, 1);
    EXPECT_EQ(format, AV_SAMPLE_FMT_S16);
    // An empty packet is not the end of the stream.
    PacketPtr empty(av_packet_alloc());
    EXPECT_EQ(converter.push(empty.get()), 0);
    ASSERT_EQ(converter.push(p.get()), 0);
}

TEST_F(AVPacketConverterTest, QueueLimitDropsTheOldestPackets)
{
    ParamsPtr mp3 = makeParams(AV_CODEC_ID_MP3, 44100, 2, AV_SAMPLE_FMT_FLTP);
    AVPacketConverter converter;
    converter.setQueueLimit(3);
    ASSERT_TRUE(converter.init(mp3.get(), mp3.get()));
    for (int i = 0; i < 5; ++i) {
        PacketPtr p(av_packet_alloc());
        ASSERT_EQ(av_new_packet(p.get(), 4), 0);
        p->data[0] = uint8_t(i);
        ASSERT_EQ(converter.push(p.get()), 0);
    }
    EXPECT_EQ(converter.count(), 3);
    PacketPtr first(converter.pop());
    ASSERT_TRUE(first);
    EXPECT_EQ(first->data[0], 2);
    converter.clear();
    EXPECT_EQ(converter.count(), 0);
    EXPECT_EQ(converter.pop(), nullptr);
}

TEST_F(AVPacketConverterTest, OneThreadPushesWhileAnotherPops)
{
    TestMedia media;
    ASSERT_TRUE(media.open(file("tone.mp3")));
    ParamsPtr out = makeParams(AV_CODEC_ID_PCM_MULAW, 8000, 1, AV_SAMPLE_FMT_S16);
    AVPacketConverter converter;
    ASSERT_TRUE(converter.init(media.parameters(), out.get()));
    std::atomic<bool> done{false};
    std::thread reader([&] {
        while (AVPacket* raw = media.next()) {
            PacketPtr p(raw);
            converter.push(p.get());
        }
        converter.flush();
        done = true;
    });
    int64_t samples = 0;
    for (;;) {
        const bool finished = done;
        PacketPtr p(converter.pop());
        if (p)
            samples += p->duration;
        else if (finished)
            break;
        else
            std::this_thread::yield();
    }
    reader.join();
    EXPECT_NEAR(samples / 8000.0, 2.0, 0.05);
}

// ---------------------------------------------------------------------------------------------
// AVConverter::duration

double probeDuration(const QString& path)
{
    TestSupport::Result r = TestSupport::run(
        QStringLiteral("ffprobe"), {"-v", "error", "-show_entries", "format=duration", "-of",
                                    "default=noprint_wrappers=1:nokey=1", path});
    return r.out.trimmed().toDouble();
}

TEST_F(AVPacketConverterTest, DurationMatchesFfprobe)
{
    for (const char* name : {"tone.mp3", "tone-alaw.wav", "tone-44k.wav"}) {
        const double expected = probeDuration(file(name));
        ASSERT_GT(expected, 1.5) << name;
        EXPECT_NEAR(AVConverter::duration(file(name)), expected, 0.05) << name;
    }
}

TEST_F(AVPacketConverterTest, DurationFallsBackToTheContainer)
{
    // Matroska leaves the stream's own duration unknown.
    EXPECT_NEAR(AVConverter::duration(file("tone.mka")), 3.0, 0.05);
}

TEST_F(AVPacketConverterTest, DurationOfUnreadableMediaIsZero)
{
    EXPECT_EQ(AVConverter::duration(QString()), 0.0);
    EXPECT_EQ(AVConverter::duration(file("missing.mp3")), 0.0);
    QFile junk(file("junk.mp3"));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(37, '\x5a'));
    junk.close();
    EXPECT_EQ(AVConverter::duration(file("junk.mp3")), 0.0);
}

TEST_F(AVPacketConverterTest, DurationGivesUpOnASilentServer)
{
    // A listener that never accepts: connections complete in the kernel and then hear nothing.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(::listen(fd, 4), 0);
    socklen_t length = sizeof(address);
    ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const QString url = QStringLiteral("http://127.0.0.1:%1/stream.mp3").arg(ntohs(address.sin_port));

    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(AVConverter::duration(url), 0.0);
    EXPECT_LT(timer.elapsed(), 25000);
    ::close(fd);
}

} // namespace
