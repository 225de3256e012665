#include "TestMedia.h"

extern "C" {
#include <libavformat/avformat.h>
}

TestMedia::~TestMedia()
{
    close();
}

bool TestMedia::open(const QString& path)
{
    close();
    const QByteArray utf8 = path.toUtf8();
    if (avformat_open_input(&m_context, utf8.constData(), nullptr, nullptr) < 0)
        return false;
    if (avformat_find_stream_info(m_context, nullptr) < 0) {
        close();
        return false;
    }
    for (unsigned i = 0; i < m_context->nb_streams; ++i) {
        if (m_context->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
            m_stream = int(i);
            return true;
        }
    }
    close();
    return false;
}

void TestMedia::close()
{
    avformat_close_input(&m_context);
    m_stream = -1;
}

const AVCodecParameters* TestMedia::parameters() const
{
    return m_context && m_stream >= 0 ? m_context->streams[m_stream]->codecpar : nullptr;
}

AVRational TestMedia::timeBase() const
{
    return m_context && m_stream >= 0 ? m_context->streams[m_stream]->time_base : AVRational{0, 1};
}

AVPacket* TestMedia::next()
{
    if (!m_context)
        return nullptr;
    AVPacket* packet = av_packet_alloc();
    while (packet && av_read_frame(m_context, packet) >= 0) {
        if (packet->stream_index == m_stream) {
            packet->time_base = timeBase();
            return packet;
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    return nullptr;
}
