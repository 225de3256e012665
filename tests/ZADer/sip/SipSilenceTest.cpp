#include "SipPacket.h"
#include "SipSdp.h"
#include "SipSilence.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/samplefmt.h>
}

#include <cmath>
#include <memory>

namespace {

// Decodes one frame with libavcodec; the largest sample magnitude (0..1), or -1 when it does not
// decode.
double loudest(AVCodecID id, int rate, int channels, const std::vector<uint8_t>& frame, int* samples)
{
    const AVCodec* codec = avcodec_find_decoder(id);
    AVCodecContext* context = codec ? avcodec_alloc_context3(codec) : nullptr;
    if (!context)
        return -1;
    context->sample_rate = rate;
    av_channel_layout_default(&context->ch_layout, channels);
    double peak = -1;
    AVPacket* packet = av_packet_alloc();
    AVFrame* decoded = av_frame_alloc();
    if (avcodec_open2(context, codec, nullptr) == 0 && av_new_packet(packet, int(frame.size())) == 0) {
        std::copy(frame.begin(), frame.end(), packet->data);
        if (avcodec_send_packet(context, packet) == 0 && avcodec_receive_frame(context, decoded) == 0) {
            peak = 0;
            *samples = decoded->nb_samples;
            const int count = decoded->nb_samples * (av_sample_fmt_is_planar(AVSampleFormat(decoded->format)) ? 1 : channels);
            for (int i = 0; i < count; ++i) {
                double value = 0;
                if (decoded->format == AV_SAMPLE_FMT_S16 || decoded->format == AV_SAMPLE_FMT_S16P)
                    value = reinterpret_cast<const int16_t*>(decoded->data[0])[i] / 32768.0;
                else if (decoded->format == AV_SAMPLE_FMT_FLT || decoded->format == AV_SAMPLE_FMT_FLTP)
                    value = reinterpret_cast<const float*>(decoded->data[0])[i];
                peak = std::max(peak, std::fabs(value));
            }
        }
    }
    av_frame_free(&decoded);
    av_packet_free(&packet);
    avcodec_free_context(&context);
    return peak;
}

} // namespace

// 20 ms of real silence in each send codec the agent answers with; nothing for the others.
TEST(SipSilenceTest, TwentyMillisecondsOfEachCodec)
{
    auto pcmu = SipSdp::makePayload("PCMU", 0, 8000, 1, SipPayload::Audio);
    std::unique_ptr<SipPacket> packet(SipSilence::packet(*pcmu));
    ASSERT_TRUE(packet);
    EXPECT_EQ(packet->payloadType, 0);
    EXPECT_DOUBLE_EQ(packet->duration, 0.02);
    EXPECT_EQ(std::vector<uint8_t>(packet->data, packet->data + packet->size), std::vector<uint8_t>(160, 0xFF));

    auto pcma = SipSdp::makePayload("pcma", 8, 8000, 1, SipPayload::Audio);
    packet.reset(SipSilence::packet(*pcma));
    ASSERT_TRUE(packet);
    EXPECT_EQ(std::vector<uint8_t>(packet->data, packet->data + packet->size), std::vector<uint8_t>(160, 0xD5));

    struct Row
    {
        const char* name;
        int payloadType;
        int channels;
        AVCodecID codec;
        int rate;
    };
    for (const Row& row : {Row{"G722", 9, 1, AV_CODEC_ID_ADPCM_G722, 16000}, Row{"opus", 111, 2, AV_CODEC_ID_OPUS, 48000}}) {
        auto payload = SipSdp::makePayload(row.name, row.payloadType, row.codec == AV_CODEC_ID_OPUS ? 48000 : 8000,
                                           row.channels, SipPayload::Audio);
        packet.reset(SipSilence::packet(*payload));
        ASSERT_TRUE(packet) << row.name;
        EXPECT_EQ(packet->payloadType, row.payloadType);
        EXPECT_DOUBLE_EQ(packet->duration, 0.02);
        const std::vector<uint8_t> frame(packet->data, packet->data + packet->size);
        EXPECT_EQ(SipSilence::frame(*payload), frame) << "encoded once and reused";
        int samples = 0;
        const double peak = loudest(row.codec, row.rate, row.channels, frame, &samples);
        EXPECT_GE(peak, 0) << row.name << " does not decode";
        EXPECT_LT(peak, 0.001) << row.name;
        EXPECT_EQ(samples, row.rate / 50) << row.name;
    }
    EXPECT_EQ(SipSilence::frame(*SipSdp::makePayload("G722", 9, 8000, 1, SipPayload::Audio)).size(), 160u);

    for (const char* other : {"GSM", "telephone-event", ""})
        EXPECT_FALSE(SipSilence::packet(*SipSdp::makePayload(other, 3, 8000, 1, SipPayload::Audio))) << other;
}
