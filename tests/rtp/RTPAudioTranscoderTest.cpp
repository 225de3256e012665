#include "RTPAudioEncoder.h"
#include "RTPAudioTranscoder.h"
#include "RTPPacketTone.h"

#include "TestTone.h"

#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <cstring>

extern "C" {
#include <libavutil/samplefmt.h>
}

namespace {

constexpr double kTone = 1000.0;
constexpr double kAmplitude = 0.5;

// Two seconds of the tone encoded to a payload type, as a remote app would send it.
RTPPacketTone::Packets encodedTone(int payloadType, int rate, int channels)
{
    RTPPacketTone::Packets packets;
    RTPAudioEncoder encoder;
    if (!encoder.open(rate, 0, channels, AV_SAMPLE_FMT_S16, payloadType))
        return packets;
    const QByteArray pcm = TestTone::sine(rate, channels, false, 2.0, kTone, kAmplitude);
    const int frameBytes = 2 * channels;
    for (int offset = 0; offset < pcm.size(); offset += 960 * frameBytes) {
        const int bytes = std::min(960 * frameBytes, pcm.size() - offset);
        encoder.encodePcm(pcm.constData() + offset, bytes / frameBytes, bytes);
    }
    while (RTPAudioPacket* p = encoder.queue()->pop())
        packets.emplace_back(p);
    return packets;
}

RTPPacketTone::Packets transcode(RTPAudioTranscoder& transcoder, const RTPPacketTone::Packets& in,
                                 int* errors)
{
    RTPPacketTone::Packets out;
    for (const auto& p : in) {
        if (transcoder.push(p->data, p->length, p->duration) < 0)
            ++*errors;
        while (RTPAudioPacket* o = transcoder.pop())
            out.emplace_back(o);
    }
    return out;
}

TEST(RTPAudioTranscoderTest, EqualPayloadTypesPassPacketsThroughUnchanged)
{
    RTPAudioTranscoder transcoder;
    EXPECT_FALSE(transcoder.isOpen());
    EXPECT_EQ(transcoder.pop(), nullptr);
    ASSERT_EQ(transcoder.open(0, 0, 1, 8000), 0);
    EXPECT_TRUE(transcoder.isOpen());
    EXPECT_EQ(transcoder.inputPayloadType(), 0);
    unsigned char bytes[160];
    for (int i = 0; i < 160; ++i)
        bytes[i] = static_cast<unsigned char>(i);
    ASSERT_EQ(transcoder.push(bytes, 160, 0.02), 0);
    std::unique_ptr<RTPAudioPacket> p(transcoder.pop());
    ASSERT_TRUE(p);
    EXPECT_EQ(p->payloadType, 0);
    EXPECT_EQ(p->sampleRate, 8000);
    EXPECT_EQ(p->channels, 1);
    EXPECT_DOUBLE_EQ(p->duration, 0.02);
    ASSERT_EQ(p->length, 160);
    EXPECT_EQ(std::memcmp(p->data, bytes, 160), 0);
    EXPECT_EQ(transcoder.pop(), nullptr);
}

TEST(RTPAudioTranscoderTest, PassedThroughMp3CarriesExactlyOneHeader)
{
    RTPAudioTranscoder transcoder;
    ASSERT_EQ(transcoder.open(14, 14, 2, 44100), 0);
    std::vector<unsigned char> frame(417, 0x33);
    frame[0] = 0xFF;
    frame[1] = 0xFB;
    std::vector<unsigned char> headed(4 + frame.size(), 0);
    std::copy(frame.begin(), frame.end(), headed.begin() + 4);
    ASSERT_EQ(transcoder.push(frame.data(), int(frame.size()), 1152.0 / 44100), 0);
    ASSERT_EQ(transcoder.push(headed.data(), int(headed.size()), 1152.0 / 44100), 0);
    for (int i = 0; i < 2; ++i) {
        std::unique_ptr<RTPAudioPacket> p(transcoder.pop());
        ASSERT_TRUE(p);
        ASSERT_EQ(p->length, 421);
        EXPECT_EQ(std::memcmp(p->data, headed.data(), 421), 0);
    }
}

TEST(RTPAudioTranscoderTest, L16InputCannotBeDecoded)
{
    RTPAudioTranscoder transcoder;
    for (int input : {10, 11, 3, 96}) {
        EXPECT_EQ(transcoder.open(0, input, 1, 44100), -1) << input;
        EXPECT_FALSE(transcoder.isOpen());
        EXPECT_EQ(transcoder.inputPayloadType(), -1);
        const unsigned char bytes[4] = {1, 2, 3, 4};
        EXPECT_EQ(transcoder.push(bytes, 4, 0.001), -1);
    }
}

struct TranscodeCase
{
    const char* name;
    int inputPayloadType;
    int inputRate;       // as the remote app declares it
    int inputChannels;
    int encodeRate;      // of the tone fed to the encoder that makes the input
    int outputPayloadType;
    int bytes;           // per output packet, 0 for MP3
    double level;        // of each output channel; a mono tone spread over two is at -3 dB
};

void PrintTo(const TranscodeCase& c, std::ostream* os)
{
    *os << c.name;
}

class RTPAudioTranscoderTableTest : public ::testing::TestWithParam<TranscodeCase>
{
};

TEST_P(RTPAudioTranscoderTableTest, ToneArrivesInTheOutputPayloadType)
{
    const TranscodeCase& c = GetParam();
    const RTPPacketTone::Packets in = encodedTone(c.inputPayloadType, c.encodeRate, c.inputChannels);
    ASSERT_GT(in.size(), 20u);
    RTPAudioTranscoder transcoder;
    ASSERT_EQ(transcoder.open(c.outputPayloadType, c.inputPayloadType, c.inputChannels, c.inputRate), 0);
    int errors = 0;
    const RTPPacketTone::Packets out = transcode(transcoder, in, &errors);
    EXPECT_EQ(errors, 0);
    ASSERT_GT(out.size(), 20u);
    for (const auto& p : out) {
        EXPECT_EQ(p->payloadType, c.outputPayloadType);
        if (c.bytes > 0) {
            EXPECT_EQ(p->length, c.bytes);
        } else {
            EXPECT_TRUE(RTPAudioPacket::hasMp3Header(p->data, p->length));
        }
    }
    const TestTone::Result tone = RTPPacketTone::measure(out, c.outputPayloadType, kTone);
    ASSERT_TRUE(tone.decoded);
    EXPECT_NEAR(tone.frequency, kTone, 5);
    EXPECT_NEAR(tone.amplitude, c.level * kAmplitude, 0.1 * kAmplitude);
    EXPECT_LT(tone.residual, 0.06 * kAmplitude);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RTPAudioTranscoderTableTest,
    ::testing::Values(TranscodeCase{"pcma_to_pcmu", 8, 8000, 1, 8000, 0, 160, 1.0},
                      TranscodeCase{"pcmu_to_l16_stereo", 0, 8000, 1, 8000, 10, 880, M_SQRT1_2},
                      // G.722 declared with its 8 kHz RTP clock still samples at 16 kHz.
                      TranscodeCase{"g722_at_rtp_clock_to_pcmu", 9, 8000, 1, 16000, 0, 160, 1.0},
                      TranscodeCase{"mp3_with_header_to_pcmu", 14, 44100, 2, 44100, 0, 160, 1.0},
                      TranscodeCase{"pcmu_to_mp3", 0, 8000, 1, 8000, 14, 0, M_SQRT1_2}),
    [](const ::testing::TestParamInfo<TranscodeCase>& info) { return std::string(info.param.name); });

TEST(RTPAudioTranscoderTest, GarbageIsSkippedAndLaterFramesConvert)
{
    const RTPPacketTone::Packets in = encodedTone(14, 44100, 2);
    ASSERT_GT(in.size(), 40u);
    RTPAudioTranscoder transcoder;
    ASSERT_EQ(transcoder.open(0, 14, 2, 44100), 0);
    std::vector<unsigned char> garbage(300, 0x00);
    garbage[4] = 0x12;
    EXPECT_EQ(transcoder.push(garbage.data(), int(garbage.size()), 0.026), -1);
    const unsigned char tiny[3] = {0, 0, 0};
    EXPECT_EQ(transcoder.push(tiny, 3, 0.001), -1);
    int errors = 0;
    const RTPPacketTone::Packets out = transcode(transcoder, in, &errors);
    EXPECT_EQ(errors, 0);
    EXPECT_GT(out.size(), 80u);
}

TEST(RTPAudioTranscoderTest, QueuesKeepTheNewestLivePackets)
{
    RTPAudioTranscoder transcoder;
    ASSERT_EQ(transcoder.open(8, 8, 1, 8000), 0);
    unsigned char bytes[160] = {0};
    for (int i = 0; i < 300; ++i) {
        bytes[0] = static_cast<unsigned char>(i);
        ASSERT_EQ(transcoder.push(bytes, 160, 0.02), 0);
    }
    int count = 0;
    std::unique_ptr<RTPAudioPacket> first(transcoder.pop());
    ASSERT_TRUE(first);
    EXPECT_EQ(first->data[0], static_cast<unsigned char>(200));
    for (++count; std::unique_ptr<RTPAudioPacket>(transcoder.pop()); ++count) {
    }
    EXPECT_EQ(count, RTPAudioPacketQueue::kLiveLimit);

    // Transcoding: the encoder's queue is bounded the same way.
    const RTPPacketTone::Packets in = encodedTone(0, 8000, 1);
    ASSERT_EQ(transcoder.open(8, 0, 1, 8000), 0);
    for (const auto& p : in)
        ASSERT_EQ(transcoder.push(p->data, p->length, p->duration), 0);
    count = 0;
    while (std::unique_ptr<RTPAudioPacket>(transcoder.pop()))
        ++count;
    EXPECT_EQ(count, RTPAudioPacketQueue::kLiveLimit);
    transcoder.close();
    EXPECT_FALSE(transcoder.isOpen());
    EXPECT_EQ(transcoder.pop(), nullptr);
}

} // namespace
