#include "RtpCodec.h"

namespace {

// index, payload type, RTP clock, sample rate, channels, FFmpeg codec, bit rate, bytes a
// channel-second, frame samples
const RtpCodec kCodecs[] = {
    {RtpCodec::kIndexPcmu, RtpCodec::kPayloadPcmu, 8000, 8000, 1, AV_CODEC_ID_PCM_MULAW, 64000, 8000, 0},
    {RtpCodec::kIndexPcma, RtpCodec::kPayloadPcma, 8000, 8000, 1, AV_CODEC_ID_PCM_ALAW, 64000, 8000, 0},
    // 4 bits a sample at 16 kHz.
    {RtpCodec::kIndexG722, RtpCodec::kPayloadG722, 8000, 16000, 1, AV_CODEC_ID_ADPCM_G722, 64000, 8000, 0},
    {RtpCodec::kIndexMp3, RtpCodec::kPayloadMpa, 44100, 44100, 2, AV_CODEC_ID_MP3, 128000, 0, 0},
    // 220 samples: 5 ms, which keeps a stereo packet within the RTP layer's 1400 bytes.
    {RtpCodec::kIndexL16Mono, RtpCodec::kPayloadL16Mono, 44100, 44100, 1, AV_CODEC_ID_PCM_S16BE, 705600, 88200, 220},
    {RtpCodec::kIndexL16Stereo, RtpCodec::kPayloadL16Stereo, 44100, 44100, 2, AV_CODEC_ID_PCM_S16BE, 1411200, 88200,
     220},
};

} // namespace

const RtpCodec* RtpCodec::byPayloadType(int payloadType)
{
    for (const RtpCodec& codec : kCodecs) {
        if (codec.payloadType == payloadType)
            return &codec;
    }
    return nullptr;
}

const RtpCodec* RtpCodec::byIndex(int index)
{
    for (const RtpCodec& codec : kCodecs) {
        if (codec.index == index)
            return &codec;
    }
    return nullptr;
}
