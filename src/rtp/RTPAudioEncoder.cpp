#include "RTPAudioEncoder.h"

#include "RtpCodec.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
}

namespace {

// A layout mask that agrees with the channel count: the given one, else mono for one channel,
// else FFmpeg's default for the count (stereo for two).
uint64_t layoutFor(uint64_t mask, int channels)
{
    if (mask != 0 && av_popcount64(mask) == channels)
        return mask;
    if (channels == 1)
        return AV_CH_LAYOUT_MONO;
    AVChannelLayout layout{};
    av_channel_layout_default(&layout, channels);
    const uint64_t result = layout.order == AV_CHANNEL_ORDER_NATIVE ? layout.u.mask : 0;
    av_channel_layout_uninit(&layout);
    return result;
}

} // namespace

RTPAudioEncoder::RTPAudioEncoder()
{
    m_encoder.setSink([this](AVPacket* packet) { takePacket(packet); });
}

RTPAudioEncoder::~RTPAudioEncoder()
{
    close();
}

AVCodecID RTPAudioEncoder::codecId(int payloadType)
{
    const RtpCodec* codec = RtpCodec::byPayloadType(payloadType);
    return codec ? codec->codecId : AV_CODEC_ID_NONE;
}

bool RTPAudioEncoder::open(int inputRate, uint64_t inputLayout, int inputChannels, int inputFormat,
                           int outputRate, uint64_t outputLayout, int outputChannels, int payloadType)
{
    close();
    const AVCodecID id = codecId(payloadType);
    if (id == AV_CODEC_ID_NONE || inputRate <= 0 || inputChannels <= 0)
        return false;
    const AVCodec* codec = AVPacketConverter::findEncoder(id);
    if (!codec)
        return false;

    m_inputRate = inputRate;
    m_inputChannels = inputChannels;
    m_inputLayout = layoutFor(inputLayout, inputChannels);
    m_inputFormat = inputFormat;

    int rate = id == AV_CODEC_ID_ADPCM_G722 ? 16000 : (outputRate >= 1 ? outputRate : inputRate);
    if (codec->supported_samplerates) {
        bool listed = false;
        for (const int* r = codec->supported_samplerates; *r; ++r)
            listed = listed || *r == rate;
        if (!listed)
            rate = codec->supported_samplerates[0];
    }

    int channels = outputChannels >= 1 ? outputChannels : inputChannels;
    uint64_t layout = outputLayout != 0 ? outputLayout : (channels == 1 ? AV_CH_LAYOUT_MONO
                                                                        : AV_CH_LAYOUT_STEREO);
    if (codec->ch_layouts && codec->ch_layouts[0].nb_channels > 0) {
        bool listed = false;
        for (const AVChannelLayout* l = codec->ch_layouts; l->nb_channels > 0; ++l)
            listed = listed || (l->order == AV_CHANNEL_ORDER_NATIVE && l->u.mask == layout);
        if (!listed && codec->ch_layouts[0].order == AV_CHANNEL_ORDER_NATIVE)
            layout = codec->ch_layouts[0].u.mask;
    }
    channels = av_popcount64(layout);

    int format = inputFormat;
    if (codec->sample_fmts) {
        bool listed = false;
        for (const AVSampleFormat* f = codec->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f)
            listed = listed || *f == inputFormat;
        if (!listed)
            format = codec->sample_fmts[0];
    }

    AVCodecParameters* parameters = avcodec_parameters_alloc();
    if (!parameters)
        return false;
    parameters->codec_type = AVMEDIA_TYPE_AUDIO;
    parameters->codec_id = id;
    parameters->sample_rate = rate;
    parameters->format = format;
    parameters->bit_rate = 128000;
    av_channel_layout_from_mask(&parameters->ch_layout, layout);
    // Stream-wise PCM (L16) goes out in 5 ms packets, everything else that has no frame size
    // of its own in 20 ms packets.
    const int fallback = (payloadType == 10 || payloadType == 11) ? rate / 200 : rate / 50;
    const bool opened = m_encoder.open(codec, parameters, fallback);
    avcodec_parameters_free(&parameters);
    if (!opened)
        return false;

    m_outputRate = rate;
    m_outputLayout = layout;
    m_outputChannels = channels;
    m_outputFormat = format;

    AVChannelLayout input{};
    av_channel_layout_from_mask(&input, m_inputLayout);
    // A failing resampler leaves the encoder open; encodes that need it report -1.
    m_encoder.setInput(&input, AVSampleFormat(inputFormat), inputRate);
    av_channel_layout_uninit(&input);
    m_resampling = m_encoder.needsResampling();
    m_payloadType = payloadType;
    return true;
}

void RTPAudioEncoder::takePacket(AVPacket* packet)
{
    RTPAudioPacket* out = new RTPAudioPacket;
    out->sampleRate = m_outputRate;
    out->channels = m_outputChannels;
    out->payloadType = m_payloadType;
    out->duration = double(packet->duration) * av_q2d(packet->time_base);
    out->setPayload(packet->data, packet->size);
    av_packet_free(&packet);
    if (out->length > 0)
        m_queue.push(out);
    else
        delete out;
}

int RTPAudioEncoder::encodePcm(const void* bytes, int samples, int byteCount)
{
    if (!isOpen())
        return -1;
    if (!bytes || samples <= 0 || byteCount <= 0)
        return 0;
    const AVSampleFormat format = AVSampleFormat(m_inputFormat);
    const int sampleBytes = av_get_bytes_per_sample(format) * m_inputChannels;
    if (sampleBytes <= 0)
        return -1;
    if (int64_t(samples) * sampleBytes > byteCount) {
        // Never read past what the caller handed over.
        if (av_sample_fmt_is_planar(format) && m_inputChannels > 1)
            return -1;
        samples = byteCount / sampleBytes;
        if (samples <= 0)
            return 0;
    }
    uint8_t* planes[AV_NUM_DATA_POINTERS] = {nullptr};
    if (m_inputChannels > AV_NUM_DATA_POINTERS && av_sample_fmt_is_planar(format))
        return -1;
    if (av_samples_fill_arrays(planes, nullptr, static_cast<const uint8_t*>(bytes), m_inputChannels,
                               samples, format, 1)
        < 0)
        return -1;
    return m_encoder.write(planes, samples) < 0 ? -1 : 0;
}

int RTPAudioEncoder::encodeFrame(const AVFrame* frame)
{
    if (!isOpen())
        return -1;
    return m_encoder.writeFrame(frame) < 0 ? -1 : 0;
}

void RTPAudioEncoder::clear()
{
    m_queue.clear();
    m_encoder.clear();
}

void RTPAudioEncoder::close()
{
    m_encoder.close();
    m_queue.clear();
    m_payloadType = -1;
    m_resampling = false;
}
