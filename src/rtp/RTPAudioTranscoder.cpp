#include "RTPAudioTranscoder.h"

#include "RtpCodec.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

RTPAudioTranscoder::RTPAudioTranscoder() = default;

RTPAudioTranscoder::~RTPAudioTranscoder()
{
    close();
}

int RTPAudioTranscoder::open(int outputPayloadType, int inputPayloadType, int channels, int sampleRate)
{
    close();
    m_outputPayloadType = outputPayloadType;
    m_inputPayloadType = inputPayloadType;
    m_sampleRate = sampleRate;
    m_channels = channels;

    if (inputPayloadType == outputPayloadType) {
        m_queue = new RTPAudioPacketQueue;
        m_queue->setLimit(RTPAudioPacketQueue::kLiveLimit);
        return 0;
    }

    // L16 input is never transcoded: no source delivers it to a channel of another codec.
    if (inputPayloadType != RtpCodec::kPayloadPcmu && inputPayloadType != RtpCodec::kPayloadPcma
        && inputPayloadType != RtpCodec::kPayloadG722 && inputPayloadType != RtpCodec::kPayloadMpa) {
        close();
        return -1;
    }
    AVCodecParameters* parameters = avcodec_parameters_alloc();
    if (!parameters) {
        close();
        return -1;
    }
    const int decodeChannels = channels >= 1 ? channels : 1;
    const RtpCodec* input = RtpCodec::byPayloadType(inputPayloadType);
    int decodeRate = sampleRate;
    if (inputPayloadType == RtpCodec::kPayloadG722 || decodeRate <= 0)
        decodeRate = input->sampleRate; // G.722 samples at 16 kHz whatever its RTP clock says
    parameters->codec_type = AVMEDIA_TYPE_AUDIO;
    parameters->codec_id = input->codecId;
    parameters->sample_rate = decodeRate;
    parameters->format = AV_SAMPLE_FMT_S16;
    if (decodeChannels < 2)
        av_channel_layout_from_mask(&parameters->ch_layout, AV_CH_LAYOUT_MONO);
    else if (decodeChannels == 2)
        av_channel_layout_from_mask(&parameters->ch_layout, AV_CH_LAYOUT_STEREO);
    else
        av_channel_layout_default(&parameters->ch_layout, decodeChannels);
    const bool decoding = m_decoder.open(parameters);
    avcodec_parameters_free(&parameters);
    m_packet = av_packet_alloc();
    if (!decoding || !m_packet) {
        close();
        return -1;
    }

    const AVCodecContext* decoder = m_decoder.context();
    const uint64_t inputLayout =
        decoder->ch_layout.order == AV_CHANNEL_ORDER_NATIVE ? decoder->ch_layout.u.mask : 0;
    m_encoder = new RTPAudioEncoder;
    if (!m_encoder->open(decoder->sample_rate, inputLayout, decoder->ch_layout.nb_channels, decoder->sample_fmt,
                         outputPayloadType)) {
        close();
        return -1;
    }
    m_encoder->queue()->setLimit(RTPAudioPacketQueue::kLiveLimit);
    m_transcoding = true;
    return 0;
}

int RTPAudioTranscoder::push(const void* bytes, int length, double duration)
{
    if (!isOpen() || !bytes || length <= 0)
        return -1;
    if (!m_transcoding) {
        if (!m_queue)
            return -1;
        RTPAudioPacket* packet = new RTPAudioPacket;
        packet->payloadType = m_outputPayloadType;
        packet->sampleRate = m_sampleRate;
        packet->channels = m_channels;
        packet->duration = duration;
        // Exactly one RFC 2250 header on MP3, whether the sender put one on or not.
        packet->setPayload(bytes, length);
        m_queue->push(packet);
        return 0;
    }
    if (!m_decoder.isOpen() || !m_encoder)
        return -1;
    const unsigned char* data = static_cast<const unsigned char*>(bytes);
    if (m_inputPayloadType == RTPAudioPacket::kMp3PayloadType
        && RTPAudioPacket::hasMp3Header(data, length)) {
        data += RTPAudioPacket::kMp3HeaderBytes;
        length -= RTPAudioPacket::kMp3HeaderBytes;
        if (length <= 0)
            return -1;
    }
    // A copy with the zeroed padding that FFmpeg's bitstream readers may read into.
    av_packet_unref(m_packet);
    if (av_new_packet(m_packet, length) < 0)
        return -1;
    memcpy(m_packet->data, data, size_t(length));
    m_packet->flags |= AV_PKT_FLAG_KEY;
    RTPAudioEncoder* encoder = m_encoder;
    const int ret = m_decoder.decode(m_packet, [encoder](const AVFrame* frame) {
        return encoder->encodeFrame(frame);
    });
    av_packet_unref(m_packet);
    return ret < 0 ? -1 : 0;
}

RTPAudioPacket* RTPAudioTranscoder::pop()
{
    if (m_transcoding)
        return m_encoder ? m_encoder->queue()->pop() : nullptr;
    return m_queue ? m_queue->pop() : nullptr;
}

void RTPAudioTranscoder::clear()
{
    if (m_queue)
        m_queue->clear();
    if (m_encoder)
        m_encoder->clear();
}

void RTPAudioTranscoder::close()
{
    if (m_encoder) {
        m_encoder->close();
        delete m_encoder;
        m_encoder = nullptr;
    }
    m_decoder.close();
    av_packet_free(&m_packet);
    delete m_queue;
    m_queue = nullptr;
    m_transcoding = false;
    m_outputPayloadType = -1;
    m_inputPayloadType = -1;
    m_sampleRate = 0;
    m_channels = 0;
}
