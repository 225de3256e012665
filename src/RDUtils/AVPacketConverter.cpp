#include "AVPacketConverter.h"

#include "RDLog.h"
#include "RDThread.h"

#include <algorithm>

extern "C" {
#include <libavutil/error.h>
#include <libavutil/mathematics.h>
#include <libswresample/swresample.h>
}

namespace {

// Resampler output per call; it also bounds what one call adds to the rings, so a ring of one
// second (at least a frame plus this) never overflows.
constexpr int kChunkSamples = 1024;
// A codec that keeps answering "output full" is broken; never spin on it.
constexpr int kMaxResends = 8;
// At most one log line per this many seconds for a recurring codec error.
constexpr double kLogInterval = 1.0;

// Rate-limits the log lines of a recurring error; returns false while it should stay quiet.
bool allowLog(double* last, int* suppressed)
{
    const double now = RDThread::tickTime();
    if (now - *last < kLogInterval) {
        ++*suppressed;
        return false;
    }
    *last = now;
    if (*suppressed > 0)
        RDLOG("%d similar errors not logged", *suppressed);
    *suppressed = 0;
    return true;
}

void logError(int error)
{
    char text[1024] = {0};
    av_strerror(error, text, sizeof(text));
    RDLOG("%x = %s", unsigned(error), text);
}

void normaliseLayoutOf(AVChannelLayout* layout)
{
    if (layout->nb_channels > 0 && layout->order == AV_CHANNEL_ORDER_UNSPEC) {
        const int channels = layout->nb_channels;
        av_channel_layout_uninit(layout);
        av_channel_layout_default(layout, channels);
    }
}

bool isConstantRateCodec(AVCodecID id)
{
    switch (id) {
    case AV_CODEC_ID_PCM_MULAW:
    case AV_CODEC_ID_PCM_ALAW:
    case AV_CODEC_ID_PCM_U8:
    case AV_CODEC_ID_PCM_S8:
    case AV_CODEC_ID_PCM_S16LE:
    case AV_CODEC_ID_PCM_S16BE:
    case AV_CODEC_ID_PCM_S24LE:
    case AV_CODEC_ID_PCM_S24BE:
    case AV_CODEC_ID_PCM_S32LE:
    case AV_CODEC_ID_PCM_S32BE:
    case AV_CODEC_ID_PCM_F32LE:
    case AV_CODEC_ID_PCM_F32BE:
    case AV_CODEC_ID_PCM_F64LE:
    case AV_CODEC_ID_PCM_F64BE:
    case AV_CODEC_ID_ADPCM_G722:
        return true;
    default:
        return false;
    }
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Decoder

AVPacketConverter::Decoder::Decoder() = default;

AVPacketConverter::Decoder::~Decoder()
{
    close();
}

bool AVPacketConverter::Decoder::open(const AVCodecParameters* parameters)
{
    if (parameters != m_parameters) {
        close();
        if (!parameters)
            return false;
        m_parameters = avcodec_parameters_alloc();
        if (!m_parameters || avcodec_parameters_copy(m_parameters, parameters) < 0)
            return false;
    } else {
        avcodec_free_context(&m_context);
    }
    const AVCodec* codec = avcodec_find_decoder(m_parameters->codec_id);
    if (!codec)
        return false;
    m_context = avcodec_alloc_context3(codec);
    if (!m_context)
        return false;
    if (avcodec_parameters_to_context(m_context, m_parameters) < 0
        || avcodec_open2(m_context, codec, nullptr) < 0) {
        avcodec_free_context(&m_context);
        return false;
    }
    if (!m_frame)
        m_frame = av_frame_alloc();
    if (!m_padded)
        m_padded = av_packet_alloc();
    if (!m_frame || !m_padded) {
        avcodec_free_context(&m_context);
        return false;
    }
    return true;
}

void AVPacketConverter::Decoder::close()
{
    avcodec_free_context(&m_context);
    avcodec_parameters_free(&m_parameters);
    av_frame_free(&m_frame);
    av_packet_free(&m_padded);
}

int AVPacketConverter::Decoder::receiveAll(const std::function<int(const AVFrame*)>& onFrame)
{
    int result = 0;
    for (;;) {
        const int ret = avcodec_receive_frame(m_context, m_frame);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return result;
        if (ret < 0)
            return fail(ret);
        const int handled = onFrame ? onFrame(m_frame) : 0;
        if (handled < 0 && result == 0)
            result = handled;
        av_frame_unref(m_frame);
    }
}

int AVPacketConverter::Decoder::fail(int error)
{
    if (allowLog(&m_lastLog, &m_suppressed))
        logError(error);
    // The packet is lost; a fresh decoder takes the next one.
    if (!open(m_parameters))
        RDLOG("decoder %s cannot be reopened", avcodec_get_name(m_parameters->codec_id));
    return error;
}

int AVPacketConverter::Decoder::decode(const AVPacket* packet,
                                       const std::function<int(const AVFrame*)>& onFrame)
{
    if (!m_context)
        return AVERROR(EINVAL);
    // An empty packet would put the decoder into draining; that is drain()'s job.
    if (!packet || packet->size <= 0 || !packet->data)
        return 0;
    const AVPacket* send = packet;
    if (!packet->buf) {
        // Borrowed bytes have no padding, and the bitstream readers read past the end.
        av_packet_unref(m_padded);
        if (av_packet_ref(m_padded, packet) < 0)
            return AVERROR(ENOMEM);
        send = m_padded;
    }
    // Lets the decoder account for the samples it skips (encoder delay) without complaint.
    if (m_context->pkt_timebase.num == 0 && packet->time_base.num > 0 && packet->time_base.den > 0)
        m_context->pkt_timebase = packet->time_base;
    int result = 0;
    int ret = avcodec_send_packet(m_context, send);
    for (int tries = 0; ret == AVERROR(EAGAIN) && tries < kMaxResends; ++tries) {
        // The decoder's output is full: take its frames, then offer the packet again.
        const int drained = receiveAll(onFrame);
        if (!m_context)
            return drained;
        if (drained < 0 && result == 0)
            result = drained;
        ret = avcodec_send_packet(m_context, send);
    }
    if (send == m_padded)
        av_packet_unref(m_padded);
    if (ret < 0)
        return fail(ret);
    const int received = receiveAll(onFrame);
    return result < 0 ? result : received;
}

int AVPacketConverter::Decoder::drain(const std::function<int(const AVFrame*)>& onFrame)
{
    if (!m_context)
        return AVERROR(EINVAL);
    int ret = avcodec_send_packet(m_context, nullptr);
    if (ret < 0 && ret != AVERROR_EOF)
        return fail(ret);
    ret = receiveAll(onFrame);
    if (m_context)
        avcodec_flush_buffers(m_context);
    return ret;
}

// ---------------------------------------------------------------------------------------------
// FrameEncoder

AVPacketConverter::FrameEncoder::FrameEncoder()
{
    m_inLayout = AVChannelLayout{};
}

AVPacketConverter::FrameEncoder::~FrameEncoder()
{
    close();
}

bool AVPacketConverter::FrameEncoder::openContext()
{
    m_context = avcodec_alloc_context3(m_codec);
    if (!m_context)
        return false;
    if (avcodec_parameters_to_context(m_context, m_parameters) < 0) {
        avcodec_free_context(&m_context);
        return false;
    }
    // Without a time base of 1/rate some encoders stamp packets with a duration of 0.
    m_context->time_base = AVRational{1, m_parameters->sample_rate};
    if (avcodec_open2(m_context, m_codec, nullptr) < 0) {
        avcodec_free_context(&m_context);
        return false;
    }
    return true;
}

bool AVPacketConverter::FrameEncoder::open(const AVCodec* codec, const AVCodecParameters* parameters,
                                           int fallbackFrameSize)
{
    close();
    if (!codec || !parameters || parameters->sample_rate <= 0 || parameters->ch_layout.nb_channels <= 0)
        return false;
    const AVSampleFormat format = AVSampleFormat(parameters->format);
    const int channels = parameters->ch_layout.nb_channels;
    if (av_sample_fmt_is_planar(format) && channels > 2)
        return false;
    m_codec = codec;
    m_parameters = avcodec_parameters_alloc();
    if (!m_parameters || avcodec_parameters_copy(m_parameters, parameters) < 0) {
        close();
        return false;
    }
    m_fallbackFrameSize = fallbackFrameSize > 0 ? fallbackFrameSize : parameters->sample_rate / 50;
    if (!openContext()) {
        close();
        return false;
    }
    m_frameSize = m_context->frame_size > 0 ? m_context->frame_size : m_fallbackFrameSize;
    m_bytesPerSample = av_get_bytes_per_sample(format);
    m_planar = av_sample_fmt_is_planar(format);
    m_nextPts = 0;

    m_frame = av_frame_alloc();
    m_resampled = av_frame_alloc();
    if (!m_frame || !m_resampled || m_bytesPerSample <= 0) {
        close();
        return false;
    }
    for (AVFrame* frame : {m_frame, m_resampled}) {
        frame->nb_samples = frame == m_frame ? m_frameSize : kChunkSamples;
        frame->format = format;
        frame->sample_rate = parameters->sample_rate;
        if (av_channel_layout_copy(&frame->ch_layout, &parameters->ch_layout) < 0
            || av_frame_get_buffer(frame, 0) < 0) {
            close();
            return false;
        }
    }
    // One second of output per ring, and never less than a frame plus one resampler batch.
    const int ringSamples = std::max(parameters->sample_rate, m_frameSize + kChunkSamples);
    const int ringBytes = ringSamples * m_bytesPerSample * (m_planar ? 1 : channels);
    // The second ring only carries the second plane of planar stereo.
    const int usedRings = m_planar && channels == 2 ? 2 : 1;
    for (int r = 0; r < usedRings; ++r) {
        m_rings[r].clear();
        if (!m_rings[r].resize(ringBytes)) {
            close();
            return false;
        }
    }
    // Until told otherwise the input is the encoder's own format.
    return setInput(&parameters->ch_layout, format, parameters->sample_rate);
}

void AVPacketConverter::FrameEncoder::freeResampler()
{
    swr_free(&m_swr);
}

void AVPacketConverter::FrameEncoder::close()
{
    freeResampler();
    avcodec_free_context(&m_context);
    avcodec_parameters_free(&m_parameters);
    av_frame_free(&m_frame);
    av_frame_free(&m_resampled);
    av_packet_free(&m_packet);
    av_channel_layout_uninit(&m_inLayout);
    m_inFormat = AV_SAMPLE_FMT_NONE;
    m_inRate = 0;
    m_resampling = false;
    m_codec = nullptr;
    m_frameSize = 0;
    m_bytesPerSample = 0;
    for (RDRingBuffer& ring : m_rings)
        ring.clear();
}

int AVPacketConverter::FrameEncoder::sampleRate() const
{
    return m_parameters ? m_parameters->sample_rate : 0;
}

int AVPacketConverter::FrameEncoder::channels() const
{
    return m_parameters ? m_parameters->ch_layout.nb_channels : 0;
}

AVSampleFormat AVPacketConverter::FrameEncoder::sampleFormat() const
{
    return m_parameters ? AVSampleFormat(m_parameters->format) : AV_SAMPLE_FMT_NONE;
}

bool AVPacketConverter::FrameEncoder::setInput(const AVChannelLayout* layout, AVSampleFormat format,
                                               int rate)
{
    if (!m_context || !layout)
        return false;
    AVChannelLayout input{};
    if (av_channel_layout_copy(&input, layout) < 0)
        return false;
    normaliseLayoutOf(&input);

    // What the old resampler still holds belongs to the audio before the change.
    if (m_swr) {
        int got;
        while ((got = swr_convert(m_swr, m_resampled->data, kChunkSamples, nullptr, 0)) > 0) {
            append(m_resampled->data, 0, got);
            encodeReady();
        }
        freeResampler();
    }
    av_channel_layout_uninit(&m_inLayout);
    m_inLayout = input;
    m_inFormat = format;
    m_inRate = rate;
    m_resampling = !(av_channel_layout_compare(&input, &m_parameters->ch_layout) == 0
                     && format == AVSampleFormat(m_parameters->format)
                     && rate == m_parameters->sample_rate);
    if (!m_resampling)
        return true;
    if (input.nb_channels <= 0 || format == AV_SAMPLE_FMT_NONE || rate <= 0)
        return false;
    if (swr_alloc_set_opts2(&m_swr, &m_parameters->ch_layout, AVSampleFormat(m_parameters->format),
                            m_parameters->sample_rate, &input, format, rate, 0, nullptr) < 0
        || swr_init(m_swr) < 0) {
        freeResampler();
        return false;
    }
    return true;
}

int AVPacketConverter::FrameEncoder::append(const uint8_t* const* planes, int offset, int samples)
{
    const int channels = m_parameters->ch_layout.nb_channels;
    if (m_planar) {
        const int bytes = samples * m_bytesPerSample;
        for (int p = 0; p < std::min(channels, 2); ++p)
            m_rings[p].write(planes[p] + size_t(offset) * m_bytesPerSample, bytes);
    } else {
        const int stride = m_bytesPerSample * channels;
        m_rings[0].write(planes[0] + size_t(offset) * stride, samples * stride);
    }
    return samples;
}

int AVPacketConverter::FrameEncoder::encodeReady()
{
    const int channels = m_parameters->ch_layout.nb_channels;
    const int planeBytes = m_frameSize * m_bytesPerSample * (m_planar ? 1 : channels);
    int result = 0;
    while (m_rings[0].size() >= planeBytes) {
        if (av_frame_make_writable(m_frame) < 0)
            return AVERROR(ENOMEM);
        m_rings[0].read(m_frame->data[0], planeBytes);
        if (m_planar && channels == 2)
            m_rings[1].read(m_frame->data[1], planeBytes);
        m_frame->nb_samples = m_frameSize;
        m_frame->pts = m_nextPts;
        m_nextPts += m_frameSize;
        const int ret = encode(m_frame);
        if (ret < 0 && result == 0)
            result = ret;
    }
    return result;
}

void AVPacketConverter::FrameEncoder::logRefusal(int error)
{
    if (allowLog(&m_lastRefusalLog, &m_refusals))
        logError(error);
}

int AVPacketConverter::FrameEncoder::encode(const AVFrame* frame)
{
    int ret = avcodec_send_frame(m_context, frame);
    for (int tries = 0; ret == AVERROR(EAGAIN) && tries < kMaxResends; ++tries) {
        receivePackets();
        ret = avcodec_send_frame(m_context, frame);
    }
    if (ret < 0 && !(frame == nullptr && ret == AVERROR_EOF)) {
        // The frame is dropped; the next one is offered as usual.
        logRefusal(ret);
        return ret;
    }
    return receivePackets();
}

int AVPacketConverter::FrameEncoder::receivePackets()
{
    for (;;) {
        if (!m_packet && !(m_packet = av_packet_alloc()))
            return AVERROR(ENOMEM);
        const int ret = avcodec_receive_packet(m_context, m_packet);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return 0;
        if (ret < 0) {
            logRefusal(ret);
            return ret;
        }
        m_packet->time_base = m_context->time_base;
        if (m_packet->duration <= 0)
            m_packet->duration = av_rescale_q(m_frameSize, AVRational{1, m_context->sample_rate},
                                              m_context->time_base);
        AVPacket* out = m_packet;
        m_packet = nullptr;
        if (m_sink)
            m_sink(out);
        else
            av_packet_free(&out);
    }
}

int AVPacketConverter::FrameEncoder::write(const uint8_t* const* planes, int samples)
{
    if (!m_context)
        return -1;
    if (!planes || samples <= 0)
        return 0;
    int result = 0;
    if (!m_resampling) {
        for (int offset = 0; offset < samples; offset += kChunkSamples) {
            append(planes, offset, std::min(kChunkSamples, samples - offset));
            const int ret = encodeReady();
            if (ret < 0 && result == 0)
                result = ret;
        }
        return result;
    }
    if (!m_swr)
        return -1;
    // The first call takes all the input; the others, with a non-null empty input, take what the
    // resampler still holds without flushing it (a flush would cut the filter's look-ahead and
    // click at every call).
    int got = swr_convert(m_swr, m_resampled->data, kChunkSamples,
                          const_cast<const uint8_t**>(planes), samples);
    while (got > 0) {
        append(m_resampled->data, 0, got);
        const int ret = encodeReady();
        if (ret < 0 && result == 0)
            result = ret;
        got = swr_convert(m_swr, m_resampled->data, kChunkSamples,
                          const_cast<const uint8_t**>(planes), 0);
    }
    return got < 0 ? got : result;
}

int AVPacketConverter::FrameEncoder::writeFrame(const AVFrame* frame)
{
    if (!m_context)
        return -1;
    if (!frame || frame->nb_samples <= 0)
        return 0;
    AVChannelLayout layout{};
    if (av_channel_layout_copy(&layout, &frame->ch_layout) < 0)
        return AVERROR(ENOMEM);
    normaliseLayoutOf(&layout);
    const bool same = av_channel_layout_compare(&layout, &m_inLayout) == 0
                      && frame->format == m_inFormat && frame->sample_rate == m_inRate;
    bool usable = true;
    if (!same)
        usable = setInput(&layout, AVSampleFormat(frame->format), frame->sample_rate);
    av_channel_layout_uninit(&layout);
    if (!usable)
        return -1;
    return write(frame->extended_data, frame->nb_samples);
}

int AVPacketConverter::FrameEncoder::flush()
{
    if (!m_context)
        return -1;
    int result = 0;
    if (m_swr) {
        int got;
        while ((got = swr_convert(m_swr, m_resampled->data, kChunkSamples, nullptr, 0)) > 0) {
            append(m_resampled->data, 0, got);
            encodeReady();
        }
        // A flushed resampler takes no more input until it is set up again.
        if (swr_init(m_swr) < 0)
            freeResampler();
    }
    const int channels = m_parameters->ch_layout.nb_channels;
    const int sampleBytes = m_bytesPerSample * (m_planar ? 1 : channels);
    const int rest = m_rings[0].size() / sampleBytes;
    if (rest > 0) {
        if (av_frame_make_writable(m_frame) < 0)
            return AVERROR(ENOMEM);
        m_rings[0].read(m_frame->data[0], rest * sampleBytes);
        if (m_planar && channels == 2)
            m_rings[1].read(m_frame->data[1], rest * sampleBytes);
        av_samples_set_silence(m_frame->data, rest, m_frameSize - rest, channels,
                               AVSampleFormat(m_parameters->format));
        m_frame->nb_samples = m_frameSize;
        m_frame->pts = m_nextPts;
        m_nextPts += m_frameSize;
        result = encode(m_frame);
    }
    m_rings[0].clear();
    m_rings[1].clear();
    const int drained = encode(nullptr);
    if (drained < 0 && result == 0)
        result = drained;
    // A drained encoder takes no more frames; a fresh one serves the next stream.
    avcodec_free_context(&m_context);
    if (!openContext())
        return AVERROR(EINVAL);
    return result;
}

void AVPacketConverter::FrameEncoder::clear()
{
    for (RDRingBuffer& ring : m_rings)
        ring.clear();
}

// ---------------------------------------------------------------------------------------------
// AVPacketConverter

AVPacketConverter::AVPacketConverter() = default;

AVPacketConverter::~AVPacketConverter()
{
    release();
}

const AVCodec* AVPacketConverter::findEncoder(AVCodecID id)
{
    if (id == AV_CODEC_ID_MP3) {
        if (const AVCodec* lame = avcodec_find_encoder_by_name("libmp3lame"))
            return lame;
    }
    return avcodec_find_encoder(id);
}

int AVPacketConverter::defaultFrameSize(const AVCodecParameters* parameters)
{
    if (!parameters)
        return 0;
    if (parameters->frame_size > 0)
        return parameters->frame_size;
    return std::max(1, parameters->sample_rate / 50);
}

void AVPacketConverter::normaliseLayout(AVCodecParameters* parameters)
{
    if (!parameters)
        return;
    if (parameters->ch_layout.nb_channels <= 0) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
        // Callers that fill only the old-style fields.
        const uint64_t mask = parameters->channel_layout;
        const int channels = parameters->channels;
#pragma GCC diagnostic pop
        av_channel_layout_uninit(&parameters->ch_layout);
        if (mask != 0 && (channels <= 0 || av_popcount64(mask) == channels))
            av_channel_layout_from_mask(&parameters->ch_layout, mask);
        else if (channels > 0)
            av_channel_layout_default(&parameters->ch_layout, channels);
    } else {
        normaliseLayoutOf(&parameters->ch_layout);
    }
}

bool AVPacketConverter::init(const AVCodecParameters* in, const AVCodecParameters* out)
{
    release();
    if (!in || !out)
        return false;
    m_inParams = avcodec_parameters_alloc();
    m_outParams = avcodec_parameters_alloc();
    if (!m_inParams || !m_outParams || avcodec_parameters_copy(m_inParams, in) < 0
        || avcodec_parameters_copy(m_outParams, out) < 0)
        return false;
    m_inParams->codec_type = AVMEDIA_TYPE_AUDIO;
    m_outParams->codec_type = AVMEDIA_TYPE_AUDIO;
    normaliseLayout(m_inParams);
    normaliseLayout(m_outParams);

    m_queue = new PacketQueue;
    m_queue->setLimit(m_queueLimit);

    const bool same = m_inParams->sample_rate == m_outParams->sample_rate
                      && av_channel_layout_compare(&m_inParams->ch_layout, &m_outParams->ch_layout) == 0
                      && m_inParams->ch_layout.nb_channels == m_outParams->ch_layout.nb_channels
                      && m_inParams->format == m_outParams->format
                      && m_inParams->codec_id == m_outParams->codec_id;
    if (same) {
        const int bits = av_get_bits_per_sample(m_outParams->codec_id);
        const int channels = m_outParams->ch_layout.nb_channels;
        const int samples = defaultFrameSize(m_outParams);
        if (isConstantRateCodec(m_outParams->codec_id) && bits > 0 && channels > 0
            && (int64_t(samples) * channels * bits) % 8 == 0) {
            m_passFrameBytes = samples * channels * bits / 8;
            const int second = int(int64_t(m_outParams->sample_rate) * channels * bits / 8);
            m_passRing = new RDRingBuffer(std::max(second, 2 * m_passFrameBytes));
        }
        return true;
    }

    m_transcoding = true;
    if (!m_decoder.open(m_inParams))
        return false;
    if (!m_encoder.open(findEncoder(m_outParams->codec_id), m_outParams, defaultFrameSize(m_outParams)))
        return false;
    PacketQueue* queue = m_queue;
    m_encoder.setSink([queue](AVPacket* packet) { queue->push(packet); });
    // Some decoders only know their format once they have seen data; their first frame sets the
    // resampler up then.
    const AVCodecContext* decoder = m_decoder.context();
    if (decoder->sample_fmt != AV_SAMPLE_FMT_NONE && decoder->sample_rate > 0
        && decoder->ch_layout.nb_channels > 0)
        return m_encoder.setInput(&decoder->ch_layout, decoder->sample_fmt, decoder->sample_rate);
    return true;
}

int AVPacketConverter::emitPassThroughFrames(bool all)
{
    const int bits = av_get_bits_per_sample(m_outParams->codec_id);
    const int channels = m_outParams->ch_layout.nb_channels;
    while (m_passRing->size() >= m_passFrameBytes || (all && m_passRing->size() > 0)) {
        const int bytes = std::min(m_passFrameBytes, m_passRing->size());
        AVPacket* packet = av_packet_alloc();
        if (!packet || av_new_packet(packet, bytes) < 0) {
            av_packet_free(&packet);
            return AVERROR(ENOMEM);
        }
        m_passRing->read(packet->data, bytes);
        const int samples = int(int64_t(bytes) * 8 / (int64_t(bits) * channels));
        packet->pts = packet->dts = m_passPts;
        packet->duration = samples;
        packet->time_base = AVRational{1, m_outParams->sample_rate};
        packet->flags |= AV_PKT_FLAG_KEY;
        m_passPts += samples;
        m_queue->push(packet);
    }
    return 0;
}

int AVPacketConverter::passThrough(const AVPacket* packet)
{
    if (!m_passRing) {
        AVPacket* copy = av_packet_clone(packet);
        if (!copy)
            return AVERROR(ENOMEM);
        m_queue->push(copy);
        return 0;
    }
    if (!packet->data || packet->size <= 0)
        return 0;
    const uint8_t* bytes = packet->data;
    int left = packet->size;
    while (left > 0) {
        const int n = std::min(left, m_passRing->capacity() - m_passRing->size());
        m_passRing->write(bytes, n);
        bytes += n;
        left -= n;
        const int ret = emitPassThroughFrames(false);
        if (ret < 0)
            return ret;
    }
    return 0;
}

int AVPacketConverter::push(const AVPacket* packet)
{
    if (!m_queue || !packet)
        return AVERROR(EINVAL);
    if (!m_transcoding)
        return passThrough(packet);
    if (m_failed || !m_decoder.isOpen())
        return AVERROR(EINVAL);
    FrameEncoder* encoder = &m_encoder;
    const int ret = m_decoder.decode(packet, [encoder](const AVFrame* frame) {
        return encoder->writeFrame(frame);
    });
    if (!m_decoder.isOpen())
        m_failed = true;
    return ret;
}

int AVPacketConverter::flush()
{
    if (!m_queue)
        return AVERROR(EINVAL);
    if (!m_transcoding)
        return m_passRing ? emitPassThroughFrames(true) : 0;
    if (m_failed || !m_decoder.isOpen())
        return AVERROR(EINVAL);
    FrameEncoder* encoder = &m_encoder;
    const int decoded = m_decoder.drain([encoder](const AVFrame* frame) {
        return encoder->writeFrame(frame);
    });
    if (!m_decoder.isOpen())
        m_failed = true;
    const int encoded = m_encoder.flush();
    return decoded < 0 ? decoded : encoded;
}

AVPacket* AVPacketConverter::pop()
{
    return m_queue ? m_queue->pop() : nullptr;
}

void AVPacketConverter::clear()
{
    if (m_queue)
        m_queue->clear();
}

int AVPacketConverter::count() const
{
    return m_queue ? m_queue->count() : 0;
}

void AVPacketConverter::setQueueLimit(int limit)
{
    m_queueLimit = limit > 0 ? limit : 0;
    if (m_queue)
        m_queue->setLimit(m_queueLimit);
}

int AVPacketConverter::outputFormat(int* sampleRate, int* channels, int* sampleFormat) const
{
    if (!m_outParams)
        return 0;
    if (sampleRate)
        *sampleRate = m_outParams->sample_rate;
    if (channels)
        *channels = m_outParams->ch_layout.nb_channels;
    if (sampleFormat)
        *sampleFormat = m_outParams->format;
    return 3;
}

void AVPacketConverter::release()
{
    m_encoder.close();
    m_decoder.close();
    delete m_queue;
    m_queue = nullptr;
    delete m_passRing;
    m_passRing = nullptr;
    m_passFrameBytes = 0;
    m_passPts = 0;
    avcodec_parameters_free(&m_inParams);
    avcodec_parameters_free(&m_outParams);
    m_transcoding = false;
    m_failed = false;
}
