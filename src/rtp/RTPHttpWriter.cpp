#include "RTPHttpWriter.h"

#include "RDHttpStreamServer.h"
#include "RDLog.h"
#include "RTPAudioPacket.h"
#include "RTPMp3Transcoder.h"
#include "RtpEngineHost.h"
#include "RtpInfo.h"

extern "C" {
#include <libavcodec/packet.h>
}

RTPHttpWriter::RTPHttpWriter() = default;

RTPHttpWriter::~RTPHttpWriter()
{
    close();
}

int RTPHttpWriter::open(const RtpInfo* info, int, int, int)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    closeLocked();
    if (!info || info->httpOutput == 0)
        return 0;
    if (info->codec != kMp3Codec) {
        auto transcoder = std::make_unique<RTPMp3Transcoder>();
        if (transcoder->open(info->codec) < 0) {
            // Streaming the channel's own codec as MP3 would only give listeners noise.
            RDLOG("channel %d: no MP3 transcoder for codec %d, HTTP output stays off", info->id, info->codec);
            return -1;
        }
        m_transcoder = std::move(transcoder);
    }
    m_stream = RDHttpAudioStream();
    m_stream.path = "/stream/" + std::to_string(info->id);
    m_stream.name = std::to_string(info->id);
    m_stream.contentType = kContentType;
    m_stream.bitrate = kBitrate;
    m_stream.sampleRate = kSampleRate;
    m_stream.bufferSize = kBufferSize;
    m_warnedPayloadType = false;
    m_server = RtpEngineHost::currentHttpStreamServer();
    if (!m_server)
        RDLOG("channel %d: no HTTP stream server, %s is not published", info->id, m_stream.path.c_str());
    else if (!m_server->addStream(m_stream))
        m_server.reset();
    return 0;
}

bool RTPHttpWriter::isOpen()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return !m_stream.path.empty();
}

RDHttpAudioStream RTPHttpWriter::stream()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_stream;
}

int RTPHttpWriter::write(const RTPAudioPacket* packet)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!packet || !m_server)
        return 0;
    if (!m_transcoder) {
        writeMp3Locked(m_server.get(), packet);
        return 0;
    }
    m_transcoder->push(packet);
    while (AVPacket* mp3 = m_transcoder->pop()) {
        m_server->writeStream(m_stream, reinterpret_cast<const char*>(mp3->data), mp3->size);
        av_packet_free(&mp3);
    }
    return 0;
}

void RTPHttpWriter::writeMp3Locked(RDHttpStreamServer* server, const RTPAudioPacket* packet)
{
    if (packet->payloadType != RTPAudioPacket::kMp3PayloadType) {
        if (!m_warnedPayloadType)
            RDLOG("%s: packet of payload type %d on an MP3 channel not streamed", m_stream.path.c_str(),
                  packet->payloadType);
        m_warnedPayloadType = true;
        return;
    }
    // The RFC 2250 header goes; listeners get the bare MP3 frame.
    const int skip =
        RTPAudioPacket::hasMp3Header(packet->data, packet->length) ? RTPAudioPacket::kMp3HeaderBytes : 0;
    if (packet->length > skip)
        server->writeStream(m_stream, reinterpret_cast<const char*>(packet->data) + skip, packet->length - skip);
}

void RTPHttpWriter::close()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    closeLocked();
}

void RTPHttpWriter::closeLocked()
{
    // The stream is taken from the server that holds it, even while the host hands out none.
    if (m_server)
        m_server->removeStream(m_stream);
    m_server.reset();
    m_transcoder.reset();
    m_stream = RDHttpAudioStream();
}
