#include "RTPMediaInput.h"

#include "AVPacketConverter.h"
#include "RDLog.h"
#include "RDThread.h"
#include "RTPAudioPacket.h"
#include "RTPAudioTarget.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
}

RTPMediaInput::RTPMediaInput() = default;

RTPMediaInput::~RTPMediaInput()
{
    close();
}

bool RTPMediaInput::isUrl(const QString& path)
{
    // FFmpeg picks a protocol by whatever stands before the first colon, also for "concat:" or
    // "subfile,,start,...:" forms, so anything of that shape counts.
    const int colon = path.indexOf(QLatin1Char(':'));
    if (colon < 2)
        return false;
    const QString scheme = path.left(colon);
    if (scheme.contains(QLatin1Char('/')) || scheme.contains(QLatin1Char('\\')))
        return false;
    return scheme.compare(QLatin1String("file"), Qt::CaseInsensitive) != 0;
}

QString RTPMediaInput::errorText(int code)
{
    if (code == kNoAudioStream)
        return QStringLiteral("no audio stream");
    if (code == kNoConversion)
        return QStringLiteral("cannot be converted to the payload type");
    char text[1024] = {0};
    av_strerror(code, text, sizeof(text));
    return QString::fromUtf8(text);
}

int RTPMediaInput::interruptCallback(void* opaque)
{
    const RTPMediaInput* self = static_cast<const RTPMediaInput*>(opaque);
    if (!self)
        return -1;
    return self->m_interrupt && self->m_interrupt() ? 1 : 0;
}

int RTPMediaInput::open(const QString& path, int payloadType, Interrupt interrupt)
{
    close();
    m_interrupt = std::move(interrupt);
    m_payloadType = payloadType;
    const QByteArray utf8 = path.toUtf8();
    int ret = 0;
    m_context = avformat_alloc_context();
    if (!m_context) {
        ret = AVERROR(ENOMEM);
    } else {
        m_context->interrupt_callback.callback = interruptCallback;
        m_context->interrupt_callback.opaque = this;
        AVDictionary* options = nullptr;
        if (isUrl(path)) {
            av_dict_set(&options, "timeout", kUrlTimeout, 0);
            av_dict_set(&options, "protocol_whitelist", kUrlProtocols, 0);
        }
        // On failure the context is freed and nulled by FFmpeg.
        ret = avformat_open_input(&m_context, utf8.constData(), nullptr, &options);
        av_dict_free(&options);
    }
    if (ret >= 0)
        ret = avformat_find_stream_info(m_context, nullptr);
    if (ret >= 0) {
        for (unsigned i = 0; i < m_context->nb_streams && !m_stream; ++i) {
            if (m_context->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
                m_stream = m_context->streams[i];
        }
        if (!m_stream)
            ret = kNoAudioStream;
    }
    if (ret >= 0) {
        m_target = avcodec_parameters_alloc();
        if (!m_target || !RTPAudioTarget::fill(m_target, payloadType) || !initConverter())
            ret = kNoConversion;
    }
    if (ret < 0) {
        RDLOG("open %s: %s", utf8.constData(), errorText(ret).toUtf8().constData());
        close();
        return ret;
    }
    return 0;
}

bool RTPMediaInput::initConverter()
{
    if (!m_converter)
        m_converter = new AVPacketConverter;
    if (m_converter->init(m_stream->codecpar, m_target))
        return true;
    m_converter->release();
    delete m_converter;
    m_converter = nullptr;
    return false;
}

void RTPMediaInput::close()
{
    avcodec_parameters_free(&m_target);
    avformat_close_input(&m_context);
    m_stream = nullptr;
    if (m_converter) {
        m_converter->release();
        delete m_converter;
        m_converter = nullptr;
    }
    m_interrupt = nullptr;
}

std::unique_ptr<RTPAudioPacket> RTPMediaInput::packetFrom(AVPacket* out, const AVCodecParameters& target,
                                                          int payloadType)
{
    if (!out)
        return nullptr;
    const int rate = target.sample_rate;
    auto packet = std::make_unique<RTPAudioPacket>();
    // The payload type first: setPayload puts the MP3 header in front for it.
    packet->payloadType = payloadType;
    packet->sampleRate = rate;
    packet->channels = target.ch_layout.nb_channels;
    if (out->duration > 0 && out->time_base.num > 0 && out->time_base.den > 0)
        packet->duration = double(out->duration) * av_q2d(out->time_base);
    if (packet->duration <= 0.0 && rate > 0) {
        // Pacing needs every packet to take time: count the samples it holds.
        int samples = av_get_audio_frame_duration2(const_cast<AVCodecParameters*>(&target), out->size);
        if (samples <= 0)
            samples = target.codec_id == AV_CODEC_ID_MP3 ? 1152 : target.frame_size;
        packet->duration = samples > 0 ? double(samples) / rate : 0.0;
    }
    packet->setPayload(out->data, out->size);
    av_packet_free(&out);
    if (packet->length <= 0)
        return nullptr;
    return packet;
}

void RTPMediaInput::convert(const Sink& sink)
{
    while (AVPacket* out = m_converter->pop()) {
        std::unique_ptr<RTPAudioPacket> packet = packetFrom(out, *m_target, m_payloadType);
        if (packet && sink)
            sink(packet.release());
    }
}

int RTPMediaInput::readPacket(const Sink& sink)
{
    if (!m_context || !m_converter)
        return AVERROR(EINVAL);
    AVPacket* packet = av_packet_alloc();
    if (!packet)
        return AVERROR(ENOMEM);
    int ret = av_read_frame(m_context, packet);
    if (ret == AVERROR(EAGAIN)) {
        // Nothing yet from a live input; do not spin on it.
        RDThread::msleep(1);
        ret = kSkipped;
    } else if (ret >= 0 && packet->stream_index != m_stream->index) {
        ret = kSkipped;
    } else if (ret >= 0) {
        packet->time_base = m_stream->time_base;
        // A packet the decoder refuses is lost; the conversion goes on with the next one.
        m_converter->push(packet);
        convert(sink);
        ret = kAudio;
    }
    av_packet_free(&packet);
    return ret;
}

void RTPMediaInput::flush(const Sink& sink)
{
    if (!m_converter)
        return;
    m_converter->flush();
    convert(sink);
}

int RTPMediaInput::seek(double seconds)
{
    if (!m_context || !m_stream)
        return AVERROR(EINVAL);
    int64_t target = int64_t(seconds * AV_TIME_BASE);
    if (m_context->start_time != AV_NOPTS_VALUE && m_context->start_time > 0)
        target += m_context->start_time;
    const int ret = av_seek_frame(m_context, -1, target, AVSEEK_FLAG_BACKWARD);
    if (ret < 0)
        return ret;
    // Codec state from before the seek would leak into the audio after it.
    return initConverter() ? 0 : kNoConversion;
}

double RTPMediaInput::duration() const
{
    if (!m_context || !m_stream)
        return 0.0;
    if (m_stream->duration != AV_NOPTS_VALUE && m_stream->duration > 0)
        return double(m_stream->duration) * av_q2d(m_stream->time_base);
    if (m_context->duration != AV_NOPTS_VALUE && m_context->duration > 0)
        return double(m_context->duration) / AV_TIME_BASE;
    return 0.0;
}
