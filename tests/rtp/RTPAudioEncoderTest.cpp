#include "RTPAudioEncoder.h"
#include "RTPPacketTone.h"

#include "TestSupport.h"
#include "TestTone.h"

#include <gtest/gtest.h>

#include <cmath>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
}

namespace {

constexpr double kTone = 1000.0;
constexpr double kAmplitude = 0.5;
constexpr double kSeconds = 2.0;

RTPPacketTone::Packets takeAll(RTPAudioEncoder& encoder)
{
    RTPPacketTone::Packets packets;
    while (RTPAudioPacket* p = encoder.queue()->pop())
        packets.emplace_back(p);
    return packets;
}

struct EncoderCase
{
    const char* name;
    int payloadType;
    int inputRate;
    int inputChannels;
    bool floatInput;
    bool resampling;
    int expectedRate;
    int expectedChannels;
    int bytes;            // per packet, 0 for MP3
    double duration;      // per packet
};

void PrintTo(const EncoderCase& c, std::ostream* os)
{
    *os << c.name;
}

class RTPAudioEncoderTableTest : public ::testing::TestWithParam<EncoderCase>
{
};

TEST_P(RTPAudioEncoderTableTest, PcmInChunksBecomesEqualPacketsOfTheTone)
{
    const EncoderCase& c = GetParam();
    RTPAudioEncoder encoder;
    ASSERT_TRUE(encoder.open(c.inputRate, 0, c.inputChannels,
                             c.floatInput ? AV_SAMPLE_FMT_FLT : AV_SAMPLE_FMT_S16, c.payloadType));
    EXPECT_TRUE(encoder.isOpen());
    EXPECT_EQ(encoder.payloadType(), c.payloadType);
    EXPECT_EQ(encoder.isResampling(), c.resampling);
    EXPECT_EQ(encoder.outputRate(), c.expectedRate);
    EXPECT_EQ(encoder.outputChannels(), c.expectedChannels);

    // Chunks of 441 and 1000 samples, as a sound card hands them over: neither is a frame.
    const QByteArray pcm = TestTone::sine(c.inputRate, c.inputChannels, c.floatInput, kSeconds, kTone,
                                          kAmplitude);
    const int frameBytes = (c.floatInput ? 4 : 2) * c.inputChannels;
    const int total = pcm.size() / frameBytes;
    int offset = 0;
    for (int k = 0; offset < total; ++k) {
        const int n = std::min(k % 2 ? 1000 : 441, total - offset);
        ASSERT_EQ(encoder.encodePcm(pcm.constData() + offset * frameBytes, n, n * frameBytes), 0);
        offset += n;
    }
    const RTPPacketTone::Packets packets = takeAll(encoder);
    ASSERT_GT(packets.size(), 20u);
    double sum = 0;
    for (size_t i = 0; i < packets.size(); ++i) {
        const RTPAudioPacket& p = *packets[i];
        EXPECT_EQ(p.payloadType, c.payloadType);
        EXPECT_EQ(p.sampleRate, c.expectedRate);
        EXPECT_EQ(p.channels, c.expectedChannels);
        sum += p.duration;
        if (c.payloadType == RTPAudioPacket::kMp3PayloadType) {
            ASSERT_GT(p.length, 8);
            EXPECT_EQ(p.data[0] | p.data[1] | p.data[2] | p.data[3], 0);
            EXPECT_EQ(p.data[4], 0xFF);
            EXPECT_EQ(p.data[5] & 0xE0, 0xE0);
        } else {
            EXPECT_EQ(p.length, c.bytes) << "packet " << i;
        }
        EXPECT_NEAR(p.duration, c.duration, 1e-9) << "packet " << i;
    }
    // Whole frames only: at most one frame waits for more input (MP3 holds back a few more).
    const double held = c.payloadType == RTPAudioPacket::kMp3PayloadType ? 4 * c.duration : c.duration;
    EXPECT_LE(sum, kSeconds + 1e-6);
    EXPECT_GE(sum, kSeconds - held - 0.01);

    const TestTone::Result tone = RTPPacketTone::measure(packets, c.payloadType, kTone);
    ASSERT_TRUE(tone.decoded);
    EXPECT_NEAR(tone.frequency, kTone, 5);
    // LAME gives a pure tone back about 0.4 dB lower.
    EXPECT_NEAR(tone.amplitude, kAmplitude, (c.payloadType == 14 ? 0.1 : 0.05) * kAmplitude);
    EXPECT_LT(tone.residual, 0.05 * kAmplitude);
}

INSTANTIATE_TEST_SUITE_P(
    PayloadTypes, RTPAudioEncoderTableTest,
    ::testing::Values(
        EncoderCase{"pcmu_same_format", 0, 8000, 1, false, false, 8000, 1, 160, 0.02},
        EncoderCase{"pcmu_from_48k_float_stereo", 0, 48000, 2, true, true, 8000, 1, 160, 0.02},
        EncoderCase{"pcma_from_44k_stereo", 8, 44100, 2, false, true, 8000, 1, 160, 0.02},
        EncoderCase{"g722_from_8k", 9, 8000, 1, false, true, 16000, 1, 160, 0.02},
        EncoderCase{"g722_same_format", 9, 16000, 1, false, false, 16000, 1, 160, 0.02},
        EncoderCase{"l16_stereo_same_format", 10, 44100, 2, false, false, 44100, 2, 880, 220.0 / 44100},
        EncoderCase{"l16_mono_from_48k", 11, 48000, 1, false, true, 44100, 1, 440, 220.0 / 44100},
        EncoderCase{"mp3_from_44k_s16", 14, 44100, 2, false, true, 44100, 2, 0, 1152.0 / 44100},
        EncoderCase{"mp3_from_48k_float", 14, 48000, 2, true, true, 44100, 2, 0, 1152.0 / 44100}),
    [](const ::testing::TestParamInfo<EncoderCase>& info) { return std::string(info.param.name); });

TEST(RTPAudioEncoderTest, PayloadTypeTable)
{
    EXPECT_EQ(RTPAudioEncoder::codecId(0), AV_CODEC_ID_PCM_MULAW);
    EXPECT_EQ(RTPAudioEncoder::codecId(8), AV_CODEC_ID_PCM_ALAW);
    EXPECT_EQ(RTPAudioEncoder::codecId(9), AV_CODEC_ID_ADPCM_G722);
    EXPECT_EQ(RTPAudioEncoder::codecId(10), AV_CODEC_ID_PCM_S16BE);
    EXPECT_EQ(RTPAudioEncoder::codecId(11), AV_CODEC_ID_PCM_S16BE);
    EXPECT_EQ(RTPAudioEncoder::codecId(14), AV_CODEC_ID_MP3);
    for (int pt : {-1, 1, 3, 12, 96})
        EXPECT_EQ(RTPAudioEncoder::codecId(pt), AV_CODEC_ID_NONE) << pt;
}

TEST(RTPAudioEncoderTest, UnknownPayloadTypesDoNotOpen)
{
    RTPAudioEncoder encoder;
    for (int pt : {-1, 3, 12, 96}) {
        EXPECT_FALSE(encoder.open(8000, 0, 1, AV_SAMPLE_FMT_S16, pt)) << pt;
        EXPECT_FALSE(encoder.isOpen());
        EXPECT_EQ(encoder.payloadType(), -1);
    }
    const int16_t pcm[160] = {0};
    EXPECT_EQ(encoder.encodePcm(pcm, 160, sizeof(pcm)), -1);
}

TEST(RTPAudioEncoderTest, WithoutAResamplerEveryEncodeFailsAndMakesNothing)
{
    RTPAudioEncoder encoder;
    // A sample format that no resampler knows.
    ASSERT_TRUE(encoder.open(8000, 0, 1, 999, 0));
    EXPECT_TRUE(encoder.isOpen());
    EXPECT_TRUE(encoder.isResampling());
    const int16_t pcm[320] = {0};
    EXPECT_EQ(encoder.encodePcm(pcm, 320, sizeof(pcm)), -1);
    EXPECT_EQ(encoder.queue()->count(), 0);
}

TEST(RTPAudioEncoderTest, NeverReadsPastTheGivenBytes)
{
    RTPAudioEncoder encoder;
    ASSERT_TRUE(encoder.open(8000, 0, 1, AV_SAMPLE_FMT_S16, 0));
    EXPECT_FALSE(encoder.isResampling());
    // 1000 samples claimed, 100 given: only the 100 count (AddressSanitizer watches the rest).
    std::vector<int16_t> pcm(100, 1000);
    for (int i = 0; i < 16; ++i)
        ASSERT_EQ(encoder.encodePcm(pcm.data(), 1000, int(pcm.size() * sizeof(int16_t))), 0);
    EXPECT_EQ(encoder.queue()->count(), 10);
}

TEST(RTPAudioEncoderTest, DecodedFramesInAnotherFormatAreConverted)
{
    RTPAudioEncoder encoder;
    ASSERT_TRUE(encoder.open(44100, AV_CH_LAYOUT_STEREO, 2, AV_SAMPLE_FMT_FLTP, 0));
    AVFrame* frame = av_frame_alloc();
    frame->nb_samples = 1152;
    frame->format = AV_SAMPLE_FMT_FLTP;
    frame->sample_rate = 44100;
    av_channel_layout_from_mask(&frame->ch_layout, AV_CH_LAYOUT_STEREO);
    ASSERT_EQ(av_frame_get_buffer(frame, 0), 0);
    for (int k = 0; k < 40; ++k) {
        ASSERT_EQ(av_frame_make_writable(frame), 0);
        for (int c = 0; c < 2; ++c) {
            float* plane = reinterpret_cast<float*>(frame->data[c]);
            for (int i = 0; i < 1152; ++i)
                plane[i] = float(kAmplitude * std::sin(2 * M_PI * kTone * (k * 1152 + i) / 44100));
        }
        ASSERT_EQ(encoder.encodeFrame(frame), 0);
    }
    av_frame_free(&frame);
    const RTPPacketTone::Packets packets = takeAll(encoder);
    ASSERT_GE(packets.size(), 50u);
    for (const auto& p : packets)
        EXPECT_EQ(p->length, 160);
    const TestTone::Result tone = RTPPacketTone::measure(packets, 0, kTone);
    EXPECT_NEAR(tone.frequency, kTone, 5);
    EXPECT_LT(tone.residual, 0.05 * kAmplitude);
}

TEST(RTPAudioEncoderTest, ClearDropsQueuedAndWaitingAudioAndCloseAllowsAReopen)
{
    RTPAudioEncoder encoder;
    ASSERT_TRUE(encoder.open(8000, 0, 1, AV_SAMPLE_FMT_S16, 8));
    std::vector<int16_t> pcm(250, 0);
    ASSERT_EQ(encoder.encodePcm(pcm.data(), 250, 500), 0);
    EXPECT_EQ(encoder.queue()->count(), 1);
    encoder.clear();
    EXPECT_EQ(encoder.queue()->count(), 0);
    // The 90 samples left over before the clear are gone too.
    ASSERT_EQ(encoder.encodePcm(pcm.data(), 100, 200), 0);
    EXPECT_EQ(encoder.queue()->count(), 0);
    encoder.close();
    EXPECT_EQ(encoder.payloadType(), -1);
    EXPECT_EQ(encoder.encodePcm(pcm.data(), 250, 500), -1);
    ASSERT_TRUE(encoder.open(8000, 0, 1, AV_SAMPLE_FMT_S16, 0));
    ASSERT_EQ(encoder.encodePcm(pcm.data(), 160, 320), 0);
    EXPECT_EQ(encoder.queue()->count(), 1);
}

} // namespace
