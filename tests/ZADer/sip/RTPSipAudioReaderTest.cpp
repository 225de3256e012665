#include "RTPAudioPacket.h"
#include "RTPPacketTone.h"
#include "RTPSipAudioReader.h"
#include "RtpManagerQueue.h"
#include "SipPacket.h"
#include "SipPayload.h"
#include "TestMedia.h"
#include "TestSupport.h"
#include "TestTone.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <mutex>
#include <vector>

namespace {

// Records what the reader asks of the channel manager.
class RecordingQueue : public RtpManagerQueue
{
public:
    struct Request
    {
        char kind; // 'S' start, 'P' stop
        int id;
        int source;
        int startedType;
    };

    int queueStartRtpInfo(const RtpInfo& info, int source, int startedType) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_requests.push_back({'S', info.id, source, startedType});
        return 0;
    }
    int queueStopRtpInfo(const RtpInfo& info, int source, int startedType) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_requests.push_back({'P', info.id, source, startedType});
        return 0;
    }
    std::string kinds()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::string text;
        for (const Request& r : m_requests)
            text += r.kind;
        return text;
    }
    std::vector<Request> requests()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_requests;
    }

private:
    std::mutex m_mutex;
    std::vector<Request> m_requests;
};

std::shared_ptr<SipPayload> payload(const char* name, int type, int rate, int channels = 1)
{
    auto made = std::make_shared<SipPayload>();
    made->name = name;
    made->payloadType = type;
    made->clockRate = rate;
    made->channels = channels;
    made->type = SipPayload::Audio;
    return made;
}

// A reader of channel 7 with codec index codec, reporting to queue; ended says whether the
// call it belongs to has ended.
std::unique_ptr<RTPSipAudioReader> makeReader(int codec, RecordingQueue* queue, const bool* ended)
{
    auto reader = std::make_unique<RTPSipAudioReader>();
    RtpInfo info;
    info.id = 7;
    info.codec = codec;
    reader->setRtpInfo(info);
    reader->setPayloadType(RTPSipAudioReader::payloadTypeForCodec(codec));
    reader->setQueue(queue);
    reader->setCallEnded([ended] { return *ended; });
    return reader;
}

// raw G.711 bytes of a tone, made by ffmpeg.
QByteArray g711Tone(const QTemporaryDir& dir, const char* format, double frequency, double seconds)
{
    const QString path = dir.filePath(QStringLiteral("tone.") + format);
    if (!TestSupport::makeTone(path, frequency, seconds, {"-f", format, "-ar", "8000", "-ac", "1"}))
        return QByteArray();
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Feeds bytes as 20 ms RTP payloads, reading out as it goes; returns what came out.
std::vector<std::unique_ptr<RTPAudioPacket>> feed(RTPSipAudioReader& reader, const QByteArray& bytes, int frame = 160)
{
    std::vector<std::unique_ptr<RTPAudioPacket>> out;
    for (int at = 0; at + frame <= bytes.size(); at += frame) {
        reader.writeAudio(reinterpret_cast<const uint8_t*>(bytes.constData()) + at, frame, uint32_t(at));
        while (RTPAudioPacket* packet = reader.read())
            out.emplace_back(packet);
    }
    return out;
}

double totalDuration(const std::vector<std::unique_ptr<RTPAudioPacket>>& packets)
{
    double total = 0;
    for (const auto& p : packets)
        total += p->duration;
    return total;
}

} // namespace

// The caller's audio in the channel's codec, timed as fed, the tone kept: PCMU converted to a
// PCMA channel, PCMU passed to a PCMU channel in 20 ms frames, PCMA made MP3 with its header.
TEST(RTPSipAudioReaderTest, ConvertsToTheChannelCodec)
{
    SONARIS_REQUIRE_COMMANDS("ffmpeg");
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray mulaw = g711Tone(dir, "mulaw", 440, 2.0);
    const QByteArray alaw = g711Tone(dir, "alaw", 440, 2.0);
    ASSERT_EQ(mulaw.size(), 16000);
    ASSERT_EQ(alaw.size(), 16000);

    struct Case
    {
        const char* name;
        int pt;
        int codec;
        int outPt;
        int rate;
        int channels;
    } cases[] = {
        {"PCMU", 0, 1, 8, 8000, 1},
        {"PCMU", 0, 0, 0, 8000, 1},
        {"PCMA", 8, 3, 14, 44100, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " on codec " + std::to_string(c.codec));
        RecordingQueue queue;
        bool ended = false;
        auto reader = makeReader(c.codec, &queue, &ended);
        reader->setAudioRecvPayload(payload(c.name, c.pt, 8000));
        const auto out = feed(*reader, c.pt == 0 ? mulaw : alaw);
        ASSERT_FALSE(out.empty());
        for (const auto& p : out) {
            ASSERT_EQ(p->payloadType, c.outPt);
            ASSERT_EQ(p->sampleRate, c.rate);
            ASSERT_EQ(p->channels, c.channels);
            ASSERT_GT(p->duration, 0.0);
        }
        if (c.outPt == c.pt) {
            for (const auto& p : out) {
                EXPECT_EQ(p->length, 160);
                EXPECT_DOUBLE_EQ(p->duration, 0.02);
            }
        }
        // The encoder may keep its last partial frame.
        EXPECT_NEAR(totalDuration(out), 2.0, 0.1);
        const bool mp3 = c.outPt == RTPAudioPacket::kMp3PayloadType;
        if (mp3) {
            for (const auto& p : out)
                ASSERT_TRUE(RTPAudioPacket::hasMp3Header(p->data, p->length));
        }
        const TestTone::Result tone = TestTone::measure(RTPPacketTone::payload(out), RTPPacketTone::decodeArguments(c.outPt),
                                                        RTPPacketTone::decodeRate(c.outPt), 440, 0.1);
        ASSERT_TRUE(tone.decoded);
        EXPECT_NEAR(tone.frequency, 440.0, 3.0);
        // Mono spread over two channels comes out 3 dB lower in each (FFmpeg's rematrixing).
        const double level = (c.channels == 2 ? 0.125 / 2 : 0.125 / std::sqrt(2.0));
        EXPECT_NEAR(tone.rms, level, 0.01);
        EXPECT_EQ(queue.kinds(), "S");
    }
}

// A softphone sending Opus (48 kHz, stereo as its description says) to an MP3 channel: every
// 20 ms Opus packet is decoded and the tone comes out at the channel's rate, timed as sent.
TEST(RTPSipAudioReaderTest, OpusCallOnAnMp3Channel)
{
    SONARIS_REQUIRE_COMMANDS("ffmpeg");
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("tone.ogg"));
    ASSERT_TRUE(TestSupport::makeTone(path, 440, 2.0,
                                      {"-ar", "48000", "-ac", "2", "-c:a", "libopus", "-b:a", "64k",
                                       "-frame_duration", "20"}));
    TestMedia media;
    ASSERT_TRUE(media.open(path));

    RecordingQueue queue;
    bool ended = false;
    auto reader = makeReader(3, &queue, &ended);
    reader->setAudioRecvPayload(payload("opus", 111, 48000, 2));
    std::vector<std::unique_ptr<RTPAudioPacket>> out;
    uint32_t timestamp = 0;
    int fed = 0;
    while (AVPacket* packet = media.next()) {
        reader->writeAudio(packet->data, packet->size, timestamp);
        timestamp += 960;
        ++fed;
        av_packet_free(&packet);
        while (RTPAudioPacket* converted = reader->read())
            out.emplace_back(converted);
    }
    ASSERT_GT(fed, 90);
    ASSERT_FALSE(out.empty());
    for (const auto& p : out) {
        ASSERT_EQ(p->payloadType, RTPAudioPacket::kMp3PayloadType);
        ASSERT_EQ(p->sampleRate, 44100);
        ASSERT_EQ(p->channels, 2);
        ASSERT_TRUE(RTPAudioPacket::hasMp3Header(p->data, p->length));
    }
    // The decoder's pre-skip and the encoder's last partial frame may each keep a little.
    EXPECT_NEAR(totalDuration(out), 2.0, 0.1);
    const TestTone::Result tone = TestTone::measure(RTPPacketTone::payload(out), {"-f", "mp3"}, 44100, 440, 0.1);
    ASSERT_TRUE(tone.decoded);
    EXPECT_NEAR(tone.frequency, 440.0, 3.0);
    EXPECT_GT(tone.rms, 0.05);
    EXPECT_EQ(queue.kinds(), "S");
}

// Hanging up finishes the source and queues exactly one stop of the SIP source by the SIP trigger; a call
// whose audio never came up queues nothing; a payload reset while the call goes on (the caller
// switched codec) keeps the source and queues neither a stop nor a second start.
TEST(RTPSipAudioReaderTest, StartsAndStopsThroughTheQueue)
{
    RecordingQueue queue;
    bool ended = false;
    auto reader = makeReader(1, &queue, &ended);
    reader->setAudioRecvPayload(payload("PCMA", 8, 8000));
    ASSERT_EQ(queue.kinds(), "S");
    const auto start = queue.requests()[0];
    EXPECT_EQ(start.id, 7);
    EXPECT_EQ(start.source, RtpInfo::kSourceSip);
    EXPECT_EQ(start.startedType, RtpInfo::kTriggerSip);
    EXPECT_FALSE(reader->isFinished());

    reader->resetAudioRecvPayload();
    reader->setAudioRecvPayload(payload("PCMU", 0, 8000));
    EXPECT_EQ(queue.kinds(), "S");
    EXPECT_FALSE(reader->isFinished());
    const std::vector<uint8_t> frame(160, 0xFF);
    reader->writeAudio(frame.data(), int(frame.size()), 0);
    std::unique_ptr<RTPAudioPacket> packet(reader->read());
    ASSERT_TRUE(packet) << "converting the new codec";
    EXPECT_EQ(packet->payloadType, 8);

    ended = true;
    reader->resetAudioRecvPayload();
    EXPECT_TRUE(reader->isFinished());
    reader->resetAudioRecvPayload();
    ASSERT_EQ(queue.kinds(), "SP");
    const auto stop = queue.requests()[1];
    EXPECT_EQ(stop.id, 7);
    EXPECT_EQ(stop.source, RtpInfo::kSourceSip);
    EXPECT_EQ(stop.startedType, RtpInfo::kTriggerSip);
    // Nothing comes out once the call is over.
    reader->writeAudio(frame.data(), int(frame.size()), 0);
    EXPECT_EQ(reader->read(), nullptr);

    RecordingQueue silentQueue;
    auto never = makeReader(0, &silentQueue, &ended);
    never->resetAudioRecvPayload();
    EXPECT_EQ(silentQueue.kinds(), "");

    // A source the channel stopped itself (which ends the call) is not stopped again.
    RecordingQueue stoppedQueue;
    auto stopped = makeReader(0, &stoppedQueue, &ended);
    stopped->setAudioRecvPayload(payload("PCMU", 0, 8000));
    stopped->forgetStart();
    stopped->resetAudioRecvPayload();
    EXPECT_EQ(stoppedQueue.kinds(), "S");
    EXPECT_TRUE(stopped->isFinished());
}

// A payload the reader cannot decode still starts and stops the channel's SIP source, and
// yields nothing; so does a channel codec nothing can be converted to.
TEST(RTPSipAudioReaderTest, UnconvertibleCallIsSilent)
{
    RecordingQueue queue;
    bool ended = false;
    auto reader = makeReader(0, &queue, &ended);
    reader->setAudioRecvPayload(payload("GSM", 3, 8000));
    const std::vector<uint8_t> frame(33, 0x55);
    reader->writeAudio(frame.data(), int(frame.size()), 0);
    EXPECT_EQ(reader->read(), nullptr);
    ended = true;
    reader->resetAudioRecvPayload();
    EXPECT_EQ(queue.kinds(), "SP");
}

// What the call sends back: 20 ms of real silence in the send codec, nothing for a codec
// without a silence of its own, nothing before the send payload is set.
TEST(RTPSipAudioReaderTest, SilenceSentBack)
{
    RecordingQueue queue;
    bool ended = false;
    auto reader = makeReader(0, &queue, &ended);
    EXPECT_EQ(reader->readAudio(), nullptr);
    struct Case
    {
        const char* name;
        int pt;
        int rate;
        int bytes;
        int fill; // -1: any content
    } cases[] = {
        {"PCMU", 0, 8000, 160, 0xFF},
        {"PCMA", 8, 8000, 160, 0xD5},
        {"G722", 9, 8000, 160, -1},
        {"G729", 18, 8000, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        reader->setAudioSendPayload(payload(c.name, c.pt, c.rate));
        std::unique_ptr<SipPacket> packet(reader->readAudio());
        if (c.bytes == 0) {
            EXPECT_EQ(packet, nullptr);
            continue;
        }
        ASSERT_TRUE(packet);
        EXPECT_EQ(packet->payloadType, c.pt);
        EXPECT_EQ(packet->size, c.bytes);
        EXPECT_DOUBLE_EQ(packet->duration, 0.02);
        if (c.fill >= 0) {
            for (int i = 0; i < packet->size; ++i)
                ASSERT_EQ(packet->data[i], c.fill);
        }
        reader->resetAudioSendPayload();
    }
}

// The payload type of every channel codec.
TEST(RTPSipAudioReaderTest, CodecPayloadTypes)
{
    const int expected[][2] = {{0, 0}, {1, 8}, {2, 9}, {3, 14}, {4, 11}, {5, 10}, {6, 8}, {-1, 8}};
    for (const auto& pair : expected)
        EXPECT_EQ(RTPSipAudioReader::payloadTypeForCodec(pair[0]), pair[1]) << "codec " << pair[0];
}
