#include "RTPMp3Transcoder.h"

#include "RtpCodec.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

RTPMp3Transcoder::~RTPMp3Transcoder()
{
    close();
}

int RTPMp3Transcoder::open(int codec)
{
    close();
    AVCodecParameters* in = avcodec_parameters_alloc();
    AVCodecParameters* out = avcodec_parameters_alloc();
    m_packet = av_packet_alloc();
    if (!in || !out || !m_packet) {
        avcodec_parameters_free(&in);
        avcodec_parameters_free(&out);
        close();
        return -1;
    }
    // An MP3 channel has nothing to convert, and an unknown codec nothing to decode.
    const RtpCodec* input = codec == RtpCodec::kIndexMp3 ? nullptr : RtpCodec::byIndex(codec);
    in->codec_type = AVMEDIA_TYPE_AUDIO;
    if (input) {
        in->codec_id = input->codecId;
        in->sample_rate = input->sampleRate;
        in->format = AV_SAMPLE_FMT_S16;
        in->bit_rate = input->bitRate;
        av_channel_layout_from_mask(&in->ch_layout, input->channels == 1 ? AV_CH_LAYOUT_MONO : AV_CH_LAYOUT_STEREO);
    }
    const RtpCodec* mp3 = RtpCodec::byIndex(RtpCodec::kIndexMp3);
    out->codec_type = AVMEDIA_TYPE_AUDIO;
    out->codec_id = mp3->codecId;
    out->sample_rate = mp3->sampleRate;
    out->format = AV_SAMPLE_FMT_FLTP;
    out->bit_rate = mp3->bitRate;
    av_channel_layout_from_mask(&out->ch_layout, AV_CH_LAYOUT_STEREO);

    const bool ok = input && (m_converter = new AVPacketConverter)
                    && m_converter->init(in, out);
    avcodec_parameters_free(&in);
    avcodec_parameters_free(&out);
    if (!ok) {
        close();
        return -1;
    }
    return 0;
}

int RTPMp3Transcoder::push(const RTPAudioPacket* packet)
{
    if (!m_converter || !packet || !packet->data || packet->length <= 0)
        return AVERROR(EINVAL);
    // Borrowed bytes: the converter's decoder copies them into a padded buffer of its own.
    m_packet->data = packet->data;
    m_packet->size = packet->length;
    m_packet->flags = AV_PKT_FLAG_KEY;
    const int ret = m_converter->push(m_packet);
    m_packet->data = nullptr;
    m_packet->size = 0;
    return ret;
}

AVPacket* RTPMp3Transcoder::pop()
{
    return m_converter ? m_converter->pop() : nullptr;
}

void RTPMp3Transcoder::close()
{
    if (m_converter) {
        m_converter->release();
        delete m_converter;
        m_converter = nullptr;
    }
    av_packet_free(&m_packet);
}
