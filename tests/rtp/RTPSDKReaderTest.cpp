#include "RTPSDKReader.h"
#include "RTPAudioPacket.h"
#include "RTPAudioPacketQueue.h"
#include "RTPReaderDrain.h"
#include "RTPReaderFixtures.h"
#include "RtpInfoSession.h"
#include "RtpPortManagerScope.h"
#include "RtpSessionFakeSources.h"
#include "RtpSessionReceiver.h"

#include "../VexaSDK/FakeVexaClient.h"
#include "TestLogFile.h"
#include "TestMedia.h"
#include "TestSupport.h"
#include "TestTone.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

namespace {

using Frames = std::vector<VexaAudioPacket>;
using Takens = RTPReaderDrain::Takens;

VexaAudioPacket makeFrame(int payloadType, int channels, int sampleRate, int durationUs, const QByteArray& payload)
{
    VexaAudioPacket frame;
    frame.payloadType = payloadType;
    frame.channels = channels;
    frame.sampleRate = sampleRate;
    frame.duration = durationUs;
    frame.setPayload(payload.constData(), payload.size());
    return frame;
}

// 20-ms mono G.711 frames of a tone; encoding is "mulaw" or "alaw".
Frames g711Frames(const QDir& dir, const char* encoding, double frequency, double seconds)
{
    const int payloadType = qstrcmp(encoding, "mulaw") == 0 ? 0 : 8;
    const QString path = dir.filePath(QStringLiteral("%1-%2.raw").arg(QLatin1String(encoding)).arg(frequency));
    if (!TestSupport::makeTone(path, frequency, seconds, {"-ar", "8000", "-ac", "1", "-f", encoding}))
        return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    Frames frames;
    for (int at = 0; at + 160 <= bytes.size(); at += 160)
        frames.push_back(makeFrame(payloadType, 1, 8000, 20000, bytes.mid(at, 160)));
    return frames;
}

// The MP3 frames of a 44.1 kHz tone, as an app sends them: with the 4-byte RFC 2250 header in
// front or without.
Frames mp3Frames(const QDir& dir, double frequency, double seconds, int channels, bool header)
{
    const QString path = dir.filePath(QStringLiteral("tone-%1-%2.mp3").arg(frequency).arg(channels));
    if (!TestSupport::makeTone(path, frequency, seconds,
                               {"-ar", "44100", "-ac", QString::number(channels), "-c:a", "libmp3lame", "-b:a", "128k"}))
        return {};
    TestMedia media;
    if (!media.open(path))
        return {};
    Frames frames;
    while (AVPacket* packet = media.next()) {
        QByteArray payload(reinterpret_cast<const char*>(packet->data), packet->size);
        if (header)
            payload.prepend(QByteArray(4, '\0'));
        const int us = int(std::lround(1e6 * double(packet->duration) * av_q2d(packet->time_base)));
        frames.push_back(makeFrame(14, channels, 44100, us > 0 ? us : 26122, payload));
        av_packet_free(&packet);
    }
    return frames;
}

Frames operator+(Frames a, const Frames& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

double frameSeconds(const Frames& frames)
{
    double sum = 0;
    for (const VexaAudioPacket& f : frames)
        sum += f.duration / 1e6;
    return sum;
}

// A remote app that sends a given number of frames as fast as the reader takes them.
class FloodClient : public VexaClient
{
public:
    FloodClient(const VexaAudioPacket& frame, int count) : m_frame(frame), m_left(count) {}

    bool isConnected() const override { return true; }
    int sendData(VexaBuffer&) override { return 0; }
    int sendAudio(const VexaAudioPacket&) override { return 0; }
    int readAudio(VexaAudioPacket& packet) override
    {
        if (m_left <= 0) {
            packet.clear();
            return 0;
        }
        packet = m_frame;
        // Each frame tells its number in its first bytes, so the survivors can be named.
        const int number = m_sent++;
        packet.payload.data[size_t(packet.payload.offset)] = uint8_t(number & 0xff);
        packet.payload.data[size_t(packet.payload.offset) + 1] = uint8_t((number >> 8) & 0xff);
        --m_left;
        return packet.length();
    }
    int left() const { return m_left.load(); }

private:
    const VexaAudioPacket m_frame;
    std::atomic<int> m_left;
    int m_sent = 0;
};

class RTPSDKReaderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        dir = QDir(tmp.path());
        client = std::make_shared<FakeVexaClient>();
    }

    void startReader(int payloadType)
    {
        reader.setClient(client);
        reader.setPayloadType(payloadType);
        ASSERT_TRUE(reader.start());
    }

    // Hands the frames to the reader as an app would, somewhat ahead of real time but never
    // further ahead of what was taken out than the output queue holds, and takes what comes
    // out, until all are in and nothing more comes for a while.
    Takens play(const Frames& frames)
    {
        Takens taken;
        size_t next = 0;
        double ahead = 0;   // seconds fed and not yet taken out
        double quietSince = RDThread::tickTime();
        const double deadline = quietSince + 30;
        while (RDThread::tickTime() < deadline) {
            const double now = RDThread::tickTime();
            // Frames that are dropped never come out: after a quiet spell the next ones go in.
            while (next < frames.size() && client->receivedQueued() < 10
                   && (ahead < 0.25 || now - quietSince > 0.05)) {
                ahead += frames[next].duration / 1e6;
                client->receive(frames[next++]);
                quietSince = now;
            }
            if (RTPAudioPacket* p = reader.read()) {
                ahead -= p->duration;
                taken.push_back(RTPReaderDrain::Taken{std::unique_ptr<RTPAudioPacket>(p), RDThread::tickTime(), 0});
                quietSince = RDThread::tickTime();
                continue;
            }
            if (next >= frames.size() && client->receivedQueued() == 0 && now - quietSince > 0.3)
                break;
            RDThread::msleep(1);
        }
        return taken;
    }

    bool waitFinished(double seconds)
    {
        const double deadline = RDThread::tickTime() + seconds;
        while (!reader.isFinished() && RDThread::tickTime() < deadline)
            RDThread::msleep(1);
        return reader.isFinished();
    }

    QTemporaryDir tmp;
    QDir dir;
    TestLogFile log;
    std::shared_ptr<FakeVexaClient> client;
    RTPSDKReader reader;
};

struct HeaderCase
{
    const char* name;
    int payloadType;
    int channels;
    int sampleRate;
    int durationUs;
    int bytes;
    bool taken;
    double seconds;   // the duration the frame counts for
    int rate;         // and its format
    int outChannels;
};

void PrintTo(const HeaderCase& c, std::ostream* os)
{
    *os << c.name;
}

class RTPSDKReaderHeaderTest : public ::testing::TestWithParam<HeaderCase>
{
};

TEST_P(RTPSDKReaderHeaderTest, FrameIsTakenOrDropped)
{
    const HeaderCase& c = GetParam();
    const VexaAudioPacket frame =
        makeFrame(c.payloadType, c.channels, c.sampleRate, c.durationUs, QByteArray(c.bytes, '\x55'));
    RTPSDKReaderInput::Format format;
    double seconds = -1;
    QString why;
    ASSERT_EQ(RTPSDKReaderInput::check(frame, &format, &seconds, &why), c.taken) << why.toStdString();
    EXPECT_EQ(why.isEmpty(), c.taken);
    if (!c.taken)
        return;
    EXPECT_NEAR(seconds, c.seconds, 1e-9);
    EXPECT_EQ(format.payloadType, c.payloadType);
    EXPECT_EQ(format.sampleRate, c.rate);
    EXPECT_EQ(format.channels, c.outChannels);
}

INSTANTIATE_TEST_SUITE_P(
    Headers, RTPSDKReaderHeaderTest,
    ::testing::Values(
        // Good frames. Sample-based types count their bytes, whatever the header claims.
        HeaderCase{"Pcmu20ms", 0, 1, 8000, 20000, 160, true, 0.02, 8000, 1},
        HeaderCase{"PcmuClaiming1us", 0, 1, 8000, 1, 160, true, 0.02, 8000, 1},
        HeaderCase{"PcmuWrongRate", 0, 1, 44100, 20000, 160, true, 0.02, 8000, 1},
        HeaderCase{"PcmaStereo", 8, 2, 8000, 20000, 320, true, 0.02, 8000, 2},
        HeaderCase{"G722", 9, 1, 16000, 20000, 160, true, 0.02, 16000, 1},
        HeaderCase{"L16Stereo", 10, 2, 44100, 10000, 1764, true, 0.01, 44100, 2},
        HeaderCase{"L16StereoSaysMono", 10, 1, 44100, 5000, 884, true, 884.0 / 176400, 44100, 2},
        HeaderCase{"L16Mono", 11, 1, 44100, 5000, 442, true, 442.0 / 88200, 44100, 1},
        HeaderCase{"L16MonoSaysStereo", 11, 2, 44100, 5000, 442, true, 442.0 / 88200, 44100, 1},
        HeaderCase{"Mp3", 14, 2, 44100, 26122, 418, true, 0.026122, 44100, 2},
        HeaderCase{"Mp3At22k", 14, 1, 22050, 26122, 200, true, 0.026122, 22050, 1},
        HeaderCase{"Mp3OddRate", 14, 2, 12345, 26122, 418, true, 0.026122, 44100, 2},
        HeaderCase{"OneSecond", 0, 1, 8000, 1000000, 8000, true, 1.0, 8000, 1},
        HeaderCase{"Mp3OneSecond", 14, 2, 44100, 1000000, 4000, true, 1.0, 44100, 2},
        // Hostile ones.
        HeaderCase{"UnknownType99", 99, 1, 8000, 20000, 160, false, 0, 0, 0},
        HeaderCase{"UnknownType1", 1, 1, 8000, 20000, 160, false, 0, 0, 0},
        HeaderCase{"NegativeType", -1, 1, 8000, 20000, 160, false, 0, 0, 0},
        HeaderCase{"NoChannels", 0, 0, 8000, 20000, 160, false, 0, 0, 0},
        HeaderCase{"ThreeChannels", 14, 3, 44100, 26122, 418, false, 0, 0, 0},
        HeaderCase{"ManyChannels", 8, 255, 8000, 20000, 160, false, 0, 0, 0},
        HeaderCase{"NoDuration", 0, 1, 8000, 0, 160, false, 0, 0, 0},
        HeaderCase{"NegativeDuration", 14, 2, 44100, -26122, 418, false, 0, 0, 0},
        HeaderCase{"TwoSeconds", 14, 2, 44100, 2000000, 418, false, 0, 0, 0},
        HeaderCase{"JustOverASecond", 0, 1, 8000, 1000001, 160, false, 0, 0, 0},
        HeaderCase{"BytesOverASecond", 0, 1, 8000, 20000, 8001, false, 0, 0, 0},
        HeaderCase{"HalfAStereoSample", 8, 2, 8000, 20000, 321, false, 0, 0, 0},
        HeaderCase{"HalfAnL16Sample", 11, 1, 44100, 5000, 441, false, 0, 0, 0},
        HeaderCase{"HalfAStereoL16Sample", 10, 2, 44100, 5000, 882, false, 0, 0, 0},
        HeaderCase{"NoPayload", 0, 1, 8000, 20000, 0, false, 0, 0, 0}),
    [](const ::testing::TestParamInfo<HeaderCase>& info) { return std::string(info.param.name); });

struct ConvertCase
{
    const char* name;
    int input;   // 0 PCMU, 8 PCMA, 14 MP3 with header, 15 MP3 without
    int channels;
    int output;
};

void PrintTo(const ConvertCase& c, std::ostream* os)
{
    *os << c.name;
}

class RTPSDKReaderConvertTest : public RTPSDKReaderTest, public ::testing::WithParamInterface<ConvertCase>
{
};

// What the app says comes out in the channel's codec, in tune and as long as it was.
TEST_P(RTPSDKReaderConvertTest, AppAudioPlaysInTheChannelCodec)
{
    SONARIS_REQUIRE_COMMANDS("ffmpeg");
    const ConvertCase& c = GetParam();
    const Frames frames = c.input == 0   ? g711Frames(dir, "mulaw", 440, 1.0)
                          : c.input == 8 ? g711Frames(dir, "alaw", 440, 1.0)
                                         : mp3Frames(dir, 440, 1.0, c.channels, c.input == 14);
    ASSERT_FALSE(frames.empty());
    startReader(c.output);
    const Takens taken = play(frames);
    ASSERT_FALSE(taken.empty());
    EXPECT_FALSE(reader.isFinished());
    EXPECT_EQ(reader.dropped(), 0);
    for (const auto& t : taken) {
        EXPECT_EQ(t.packet->payloadType, c.output);
        if (c.output == RTPAudioPacket::kMp3PayloadType) {
            ASSERT_TRUE(RTPAudioPacket::hasMp3Header(t.packet->data, t.packet->length));
            EXPECT_FALSE(RTPAudioPacket::hasMp3Header(t.packet->data + 4, t.packet->length - 4));
        }
    }
    if (c.input == c.output || (c.input == 15 && c.output == 14)) {
        EXPECT_EQ(taken.size(), frames.size());
    }
    // A conversion holds back a frame or so of either codec; the MP3 encoder a few more.
    EXPECT_NEAR(RTPReaderDrain::duration(taken), frameSeconds(frames), c.output == 14 ? 0.15 : 0.06);
    const QVector<float> samples = RTPReaderDrain::decode(taken, c.output);
    EXPECT_NEAR(RTPReaderDrain::frequency(samples, RTPPacketTone::decodeRate(c.output), 0.2, 0.8), 440, 5);
}

INSTANTIATE_TEST_SUITE_P(Conversions, RTPSDKReaderConvertTest,
                         ::testing::Values(ConvertCase{"PcmuThrough", 0, 1, 0}, ConvertCase{"PcmaToPcmu", 8, 1, 0},
                                           ConvertCase{"PcmuToMp3", 0, 1, 14}, ConvertCase{"PcmuToL16", 0, 1, 11},
                                           ConvertCase{"PcmaToG722", 8, 1, 9},
                                           ConvertCase{"Mp3WithHeaderToPcmu", 14, 2, 0},
                                           ConvertCase{"Mp3MonoToL16Stereo", 14, 1, 10},
                                           ConvertCase{"Mp3WithoutHeaderThrough", 15, 2, 14}),
                         [](const ::testing::TestParamInfo<ConvertCase>& info) { return std::string(info.param.name); });

// The app changes its payload type, then its channel count: each change sets the conversion up
// anew, and each part is converted from what it really is.
TEST_F(RTPSDKReaderTest, FormatChangesAreConvertedAfterAReopen)
{
    SONARIS_REQUIRE_COMMANDS("ffmpeg");
    const Frames frames = g711Frames(dir, "alaw", 440, 1.0) + g711Frames(dir, "mulaw", 880, 1.0)
                          + mp3Frames(dir, 660, 1.0, 2, true) + mp3Frames(dir, 550, 1.0, 1, true);
    ASSERT_GT(frames.size(), 100u);
    startReader(11);
    const Takens taken = play(frames);
    EXPECT_EQ(reader.dropped(), 0);
    const QVector<float> samples = RTPReaderDrain::decode(taken, 11);
    const int rate = 44100;
    EXPECT_NEAR(RTPReaderDrain::frequency(samples, rate, 0.2, 0.8), 440, 5);
    EXPECT_NEAR(RTPReaderDrain::frequency(samples, rate, 1.2, 1.8), 880, 5);
    EXPECT_NEAR(RTPReaderDrain::frequency(samples, rate, 2.2, 2.8), 660, 5);
    EXPECT_NEAR(RTPReaderDrain::frequency(samples, rate, 3.2, 3.8), 550, 5);
}

// Hostile frames among good ones: each is dropped, the good ones pass untouched and in order, and
// the log tells about it without a line per frame.
TEST_F(RTPSDKReaderTest, HostileFramesAreDroppedAndTheRestPlays)
{
    const QByteArray samples(160, '\x11');
    const Frames hostile{
        makeFrame(99, 1, 8000, 20000, samples),      makeFrame(0, 0, 8000, 20000, samples),
        makeFrame(0, 3, 8000, 20000, samples),       makeFrame(0, 1, 8000, 0, samples),
        makeFrame(0, 1, 8000, 2000000, samples),     makeFrame(0, 1, 8000, 20000, QByteArray(16000, '\x11')),
        makeFrame(14, 2, 44100, -1, QByteArray(400, '\x22')),
    };
    Frames frames;
    for (int i = 0; i < 50; ++i) {
        QByteArray good = samples;
        good[0] = char(i);
        frames.push_back(makeFrame(0, 1, 8000, 20000, good));
        frames.push_back(hostile[size_t(i) % hostile.size()]);
    }
    startReader(0);
    const Takens taken = play(frames);
    ASSERT_EQ(taken.size(), 50u);
    for (size_t i = 0; i < taken.size(); ++i) {
        ASSERT_EQ(taken[i].packet->length, 160);
        EXPECT_EQ(taken[i].packet->data[0], i);
        EXPECT_NEAR(taken[i].packet->duration, 0.02, 1e-9);
    }
    EXPECT_EQ(reader.dropped(), 50);
    EXPECT_EQ(log.count(QStringLiteral("remote audio frame dropped: ")), 1);
    EXPECT_FALSE(reader.isFinished());
}

// A format that cannot reach the channel's codec is tried once, not for every frame; the next
// format that can plays.
TEST_F(RTPSDKReaderTest, UnconvertibleFormatIsTriedOnceUntilItChanges)
{
    const struct
    {
        int channelType;
        VexaAudioPacket frame;
    } cases[] = {
        {0, makeFrame(11, 1, 44100, 5000, QByteArray(441 * 2, '\x01'))},   // L16 cannot be decoded
        {0, makeFrame(0, 2, 8000, 20000, QByteArray(320, '\x01'))},        // stereo G.711 on a mono channel
        {-1, makeFrame(0, 1, 8000, 20000, QByteArray(160, '\x01'))},       // a channel without a codec
    };
    for (const auto& c : cases) {
        reader.stop();
        const int before = log.count(QStringLiteral("cannot be converted"));
        startReader(c.channelType);
        const Takens taken = play(Frames(60, c.frame));
        EXPECT_TRUE(taken.empty());
        EXPECT_EQ(reader.dropped(), 60);
        EXPECT_EQ(log.count(QStringLiteral("cannot be converted")), before + 1);
        EXPECT_FALSE(reader.isFinished());
    }
    // The mono channel takes PCMA again after the stereo frames.
    reader.stop();
    startReader(0);
    EXPECT_TRUE(play(Frames(10, makeFrame(0, 2, 8000, 20000, QByteArray(320, '\x01')))).empty());
    EXPECT_EQ(play(Frames(10, makeFrame(8, 1, 8000, 20000, QByteArray(160, '\x01')))).size(), 10u);
}

TEST_F(RTPSDKReaderTest, DisconnectEndsTheSourceAtOnce)
{
    startReader(0);
    client->receive(makeFrame(0, 1, 8000, 20000, QByteArray(160, '\x01')));
    RDThread::msleep(50);
    EXPECT_FALSE(reader.isFinished());
    const double began = RDThread::tickTime();
    client->setConnected(false);
    ASSERT_TRUE(waitFinished(2));
    EXPECT_LT(RDThread::tickTime() - began, 0.1);
    EXPECT_TRUE(log.waitFor(QStringLiteral("remote talker disconnected")));
    // What was converted before is still handed out.
    RTPAudioPacket* packet = reader.read();
    ASSERT_NE(packet, nullptr);
    delete packet;
    reader.stop();
    EXPECT_EQ(reader.read(), nullptr);
}

// Frames keep the source alive; when they stop for the silence limit it ends. Frames that are
// dropped as malformed do not count as sound.
TEST_F(RTPSDKReaderTest, SilenceEndsTheSource)
{
    EXPECT_EQ(RTPSDKReader::kSilenceLimit, 20.0);
    reader.setSilenceLimit(0.3);
    startReader(0);
    const double began = RDThread::tickTime();
    double lastGood = 0;
    for (int i = 0; i < 10; ++i) {
        client->receive(makeFrame(0, 1, 8000, 20000, QByteArray(160, '\x01')));
        lastGood = RDThread::tickTime();
        RDThread::msleep(100);
        EXPECT_FALSE(reader.isFinished()) << i;
    }
    for (int i = 0; i < 20 && !reader.isFinished(); ++i) {
        client->receive(makeFrame(0, 9, 8000, 20000, QByteArray(160, '\x01')));
        RDThread::msleep(20);
    }
    ASSERT_TRUE(waitFinished(3));
    const double ended = RDThread::tickTime();
    EXPECT_GT(ended - began, 1.0);
    EXPECT_GT(ended - lastGood, 0.25);
    EXPECT_LT(ended - lastGood, 1.5);
    EXPECT_TRUE(log.waitFor(QStringLiteral("no audio from the remote talker")));
}

struct FloodCase
{
    const char* name;
    VexaAudioPacket frame;
    int channelType;
    bool taken;
};

void PrintTo(const FloodCase& c, std::ostream* os)
{
    *os << c.name;
}

class RTPSDKReaderFloodTest : public RTPSDKReaderTest, public ::testing::WithParamInterface<FloodCase>
{
};

// 10,000 frames as fast as the app can send them, and nobody reading: at most 100 packets wait,
// the newest; dropped frames are told in a line or two.
TEST_P(RTPSDKReaderFloodTest, FloodKeepsMemoryBounded)
{
    const FloodCase& c = GetParam();
    auto flood = std::make_shared<FloodClient>(c.frame, 10000);
    reader.setClient(flood);
    reader.setPayloadType(c.channelType);
    ASSERT_TRUE(reader.start());
    const double deadline = RDThread::tickTime() + 60;
    while (flood->left() > 0 && RDThread::tickTime() < deadline)
        RDThread::msleep(5);
    ASSERT_EQ(flood->left(), 0);
    RDThread::msleep(20);
    std::vector<std::unique_ptr<RTPAudioPacket>> kept;
    while (RTPAudioPacket* p = reader.read())
        kept.emplace_back(p);
    EXPECT_LE(kept.size(), size_t(RTPAudioPacketQueue::kLiveLimit));
    if (!c.taken) {
        EXPECT_TRUE(kept.empty());
        EXPECT_EQ(reader.dropped(), 10000);
        EXPECT_LE(log.count(QStringLiteral("remote audio frame dropped: ")), 3);
        return;
    }
    EXPECT_EQ(reader.dropped(), 0);
    ASSERT_FALSE(kept.empty());
    if (c.channelType == c.frame.payloadType) {
        // Passed through: the newest 100 survive, in order.
        ASSERT_EQ(kept.size(), size_t(RTPAudioPacketQueue::kLiveLimit));
        for (size_t i = 0; i < kept.size(); ++i) {
            const int number = kept[i]->data[0] | (kept[i]->data[1] << 8);
            EXPECT_EQ(number, 9900 + int(i));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Floods, RTPSDKReaderFloodTest,
    ::testing::Values(FloodCase{"PassedThrough", makeFrame(0, 1, 8000, 20000, QByteArray(160, '\x7f')), 0, true},
                      FloodCase{"Transcoded", makeFrame(8, 1, 8000, 20000, QByteArray(160, '\x55')), 0, true},
                      FloodCase{"Hostile", makeFrame(0, 7, 8000, 20000, QByteArray(160, '\x55')), 0, false}),
    [](const ::testing::TestParamInfo<FloodCase>& info) { return std::string(info.param.name); });

TEST_F(RTPSDKReaderTest, StartWithoutAClientFails)
{
    RTPSDKReader lonely;
    EXPECT_EQ(lonely.payloadType(), -1);
    EXPECT_TRUE(lonely.isLive());
    EXPECT_FALSE(lonely.start());
    EXPECT_TRUE(lonely.isFinished());
    EXPECT_EQ(lonely.read(), nullptr);
    lonely.stop();
}

// Under ThreadSanitizer: the send loop reads and resets while frames flow and the owner
// restarts the source.
TEST_F(RTPSDKReaderTest, ReadResetAndRestartWhileFramesFlow)
{
    std::atomic<bool> done{false};
    std::thread app([&] {
        int i = 0;
        while (!done) {
            client->receive(makeFrame(i % 3 == 0 ? 8 : 0, 1, 8000, 20000, QByteArray(160, char(i))));
            ++i;
            RDThread::msleep(1);
        }
    });
    std::thread sendLoop([&] {
        int i = 0;
        while (!done) {
            delete reader.read();
            if (++i % 50 == 0)
                reader.reset();
            reader.isFinished();
            RDThread::msleep(1);
        }
    });
    std::mt19937 random(5);
    for (int i = 0; i < 20; ++i) {
        startReader(i % 2 == 0 ? 14 : 0);
        RDThread::msleep(random() % 40);
        reader.stop();
    }
    done = true;
    app.join();
    sendLoop.join();
}

// A remote app talks on a channel that plays its playlist: the channel's RTP output carries the
// app's voice, converted to the channel's codec, for as long as it talks, and the playlist again
// once the talk ends.
TEST_F(RTPSDKReaderTest, AppTalksOverAChannelsPlaylist)
{
    SONARIS_REQUIRE_COMMANDS("ffmpeg");
    RtpPortManagerScope ports;
    RtpSessionReceiver receiver;
    ASSERT_TRUE(receiver.start());
    const QString playlist = RTPReaderFixtures::tone(dir, "music", 440, 30, RTPReaderFixtures::Mp3);
    ASSERT_FALSE(playlist.isEmpty());
    const Frames voice = g711Frames(dir, "alaw", 880, 2.0);
    ASSERT_EQ(voice.size(), 100u);

    RtpInfoSession session;
    RtpInfo info = RtpSessionFakeSources::channel(receiver.port(), 0);
    info.source = RtpInfo::kSourcePlaylist;
    info.playlist = {playlist};
    session.setRtpInfo(info);
    ASSERT_EQ(session.startSource(RtpInfo::kSourcePlaylist, RtpInfo::kTriggerManual), 0);
    ASSERT_TRUE(receiver.waitFor(50, 10000));

    session.lock();
    const int talking = session.startTalk(client);
    session.unlock();
    ASSERT_EQ(talking, 0);
    EXPECT_EQ(session.currentSource(), RtpInfo::kSourceSdk);
    const double talkBegan = RtpSessionReceiver::now();
    // The app speaks in real time.
    for (size_t i = 0; i < voice.size(); ++i) {
        client->receive(voice[i]);
        RtpSessionFakeSources::sleepMs(int(std::lround((talkBegan + (i + 1) * 0.02 - RtpSessionReceiver::now()) * 1000)));
    }
    RtpSessionFakeSources::sleepMs(300);
    const double talkEnded = RtpSessionReceiver::now();
    session.lock();
    session.stopTalk();
    session.unlock();
    EXPECT_EQ(session.currentSource(), RtpInfo::kSourcePlaylist);
    const size_t after = size_t(receiver.count());
    ASSERT_TRUE(receiver.waitFor(int(after) + 75, 5000));
    session.stopAll(RtpInfo::kTriggerApiStop);

    const auto packets = receiver.packets();
    size_t from = 0;
    while (from < packets.size() && packets[from].arrival < talkBegan)
        ++from;
    size_t to = from;
    while (to < packets.size() && packets[to].arrival < talkEnded)
        ++to;
    // About the voice's two seconds went out during the talk (the rest of that time nothing).
    EXPECT_NEAR(double(to - from), 100.0, 10.0);
    const TestTone::Result talk =
        TestTone::measure(receiver.payloadBytes(from, to), RTPPacketTone::decodeArguments(0), 8000, 880);
    ASSERT_TRUE(talk.decoded);
    EXPECT_NEAR(talk.frequency, 880, 5);
    const TestTone::Result music =
        TestTone::measure(receiver.payloadBytes(after), RTPPacketTone::decodeArguments(0), 8000, 440);
    ASSERT_TRUE(music.decoded);
    EXPECT_NEAR(music.frequency, 440, 5);
}

} // namespace
