#include "RTPAudioEncoder.h"

#include "RTPAudioTarget.h"
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

bool RTPAudioEncoder::open(int inputRate, uint64_t inputLayout, int inputChannels, int inputFormat, int payloadType)
{
    close();
    if (inputRate <= 0 || inputChannels <= 0)
        return false;
    // What the encoder makes is what every decoding source converts to for the payload type.
    AVCodecParameters* parameters = avcodec_parameters_alloc();
    if (!parameters)
        return false;
    const AVCodec* codec = nullptr;
    bool opened = false;
    if (RTPAudioTarget::fill(parameters, payloadType)) {
        codec = AVPacketConverter::findEncoder(parameters->codec_id);
        opened = codec
                 && m_encoder.open(codec, parameters, AVPacketConverter::defaultFrameSize(parameters));
    }
    if (opened) {
        m_outputRate = parameters->sample_rate;
        m_outputChannels = parameters->ch_layout.nb_channels;
        m_outputFormat = parameters->format;
    }
    avcodec_parameters_free(&parameters);
    if (!opened)
        return false;

    m_inputRate = inputRate;
    m_inputChannels = inputChannels;
    m_inputLayout = layoutFor(inputLayout, inputChannels);
    m_inputFormat = inputFormat;
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
