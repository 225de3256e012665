#include "RTPAudioTarget.h"

#include "AVPacketConverter.h"
#include "RTPAudioEncoder.h"
#include "RtpCodec.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

extern "C" {
#include <libavutil/channel_layout.h>
}

namespace {

void reset(AVCodecParameters* target)
{
    // Copying from a fresh block resets every field and frees what the target held.
    AVCodecParameters* empty = avcodec_parameters_alloc();
    if (empty)
        avcodec_parameters_copy(target, empty);
    avcodec_parameters_free(&empty);
    target->codec_type = AVMEDIA_TYPE_AUDIO;
}

// The MP3 encoder's first stereo layout; plain stereo when it lists none.
void mp3Layout(const AVCodec* codec, AVChannelLayout* layout)
{
    if (codec && codec->ch_layouts) {
        for (const AVChannelLayout* l = codec->ch_layouts; l->nb_channels > 0; ++l) {
            if (l->nb_channels == 2) {
                av_channel_layout_copy(layout, l);
                return;
            }
        }
    }
    av_channel_layout_from_mask(layout, AV_CH_LAYOUT_STEREO);
}

} // namespace

bool RTPAudioTarget::fill(AVCodecParameters* target, int payloadType)
{
    if (!target)
        return false;
    reset(target);
    int channels = 1;
    switch (payloadType) {
    case RtpCodec::kPayloadPcmu:
    case RtpCodec::kPayloadPcma:
    case RtpCodec::kPayloadG722:
    case RtpCodec::kPayloadL16Stereo:
    case RtpCodec::kPayloadL16Mono: {
        const RtpCodec* codec = RtpCodec::byPayloadType(payloadType);
        channels = codec->channels;
        target->codec_id = codec->codecId;
        target->sample_rate = codec->sampleRate;
        target->format = AV_SAMPLE_FMT_S16;
        target->bit_rate = codec->bitRate;
        target->frame_size = codec->frameSamples;
        break;
    }
    case RtpCodec::kPayloadMpa: {
        const RtpCodec* mp3 = RtpCodec::byPayloadType(payloadType);
        const AVCodec* codec = AVPacketConverter::findEncoder(mp3->codecId);
        target->codec_id = codec ? codec->id : mp3->codecId;
        target->sample_rate = mp3->sampleRate;
        if (codec && codec->supported_samplerates) {
            bool listed = false;
            for (const int* r = codec->supported_samplerates; *r; ++r)
                listed = listed || *r == mp3->sampleRate;
            if (!listed && codec->supported_samplerates[0])
                target->sample_rate = codec->supported_samplerates[0];
        }
        if (codec && codec->sample_fmts) {
            target->format = codec->sample_fmts[0];
            for (const AVSampleFormat* f = codec->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f) {
                if (*f == AV_SAMPLE_FMT_FLTP)
                    target->format = AV_SAMPLE_FMT_FLTP;
            }
        }
        target->bit_rate = mp3->bitRate;
        mp3Layout(codec, &target->ch_layout);
        channels = target->ch_layout.nb_channels;
        break;
    }
    default:
        return false;
    }
    if (target->ch_layout.nb_channels == 0)
        av_channel_layout_from_mask(&target->ch_layout,
                                    channels == 1 ? AV_CH_LAYOUT_MONO : AV_CH_LAYOUT_STEREO);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    // Readers of the old-style fields see the same layout.
    target->channels = target->ch_layout.nb_channels;
    target->channel_layout =
        target->ch_layout.order == AV_CHANNEL_ORDER_NATIVE ? target->ch_layout.u.mask : 0;
#pragma GCC diagnostic pop
    return true;
}
