#include "RTPMp3Transcoder.h"

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
    struct Input
    {
        AVCodecID id;
        int rate;
        int channels;
        int64_t bitRate;
    };
    Input input{AV_CODEC_ID_NONE, 0, 0, 0};
    switch (codec) {
    case 0:
        input = {AV_CODEC_ID_PCM_MULAW, 8000, 1, 8000};
        break;
    case 1:
        input = {AV_CODEC_ID_PCM_ALAW, 8000, 1, 8000};
        break;
    case 2:
        input = {AV_CODEC_ID_ADPCM_G722, 16000, 1, 8000};
        break;
    case 4:
        input = {AV_CODEC_ID_PCM_S16BE, 44100, 1, 705600};
        break;
    case 5:
        input = {AV_CODEC_ID_PCM_S16BE, 44100, 2, 1411200};
        break;
    default:
        break;
    }
    in->codec_type = AVMEDIA_TYPE_AUDIO;
    if (input.id != AV_CODEC_ID_NONE) {
        in->codec_id = input.id;
        in->sample_rate = input.rate;
        in->format = AV_SAMPLE_FMT_S16;
        in->bit_rate = input.bitRate;
        av_channel_layout_from_mask(&in->ch_layout,
                                    input.channels == 1 ? AV_CH_LAYOUT_MONO : AV_CH_LAYOUT_STEREO);
    }
    out->codec_type = AVMEDIA_TYPE_AUDIO;
    out->codec_id = AV_CODEC_ID_MP3;
    out->sample_rate = 44100;
    out->format = AV_SAMPLE_FMT_FLTP;
    out->bit_rate = 128000;
    av_channel_layout_from_mask(&out->ch_layout, AV_CH_LAYOUT_STEREO);

    // An MP3 channel has nothing to convert, and an unknown codec nothing to decode.
    const bool ok = input.id != AV_CODEC_ID_NONE && (m_converter = new AVPacketConverter)
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
