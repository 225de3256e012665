#pragma once

#include "RDHttpAudioStream.h"
#include "RTPAudioWriter.h"

#include <memory>
#include <mutex>

class RDHttpStreamServer;
class RTPMp3Transcoder;

// Publishes a channel as an MP3 stream on the application's HTTP stream server under
// "/stream/<channel id>", transcoding to MP3 when the channel's codec is not MP3.
//
// The server is looked up anew on every call. The sink remembers which server holds its
// stream: when the host hands out another server object, or a server appears after a time
// without one, the stream is registered there on the next write, so listeners get audio
// again without a channel restart.
class RTPHttpWriter : public RTPAudioWriter
{
public:
    static constexpr const char* kContentType = "audio/mp3";
    static constexpr int kBitrate = 128000;
    // Every stream is MP3 at 44100 Hz: the transcoder's output or an MP3 channel's own.
    static constexpr int kSampleRate = 44100;
    static constexpr int kBufferSize = 8192;
    static constexpr int kMp3Codec = 3;

    RTPHttpWriter() = default;
    ~RTPHttpWriter() override;
    RTPHttpWriter(const RTPHttpWriter&) = delete;
    RTPHttpWriter& operator=(const RTPHttpWriter&) = delete;

    // Nothing is registered (and 0 returned) when the channel's HTTP output is off. -1, with
    // nothing registered, when a non-MP3 channel's audio cannot be transcoded to MP3.
    int open(const RtpInfo* info, int payloadType, int sampleRate, int channels) override;
    bool isOpen() override;
    // Passes the packet's audio as MP3 to the stream; 0.
    int write(const RTPAudioPacket* packet) override;
    // Unregisters the stream, which ends its listeners.
    void close() override;

    RDHttpAudioStream stream();

private:
    // The current server with the stream registered on it; null when there is none.
    std::shared_ptr<RDHttpStreamServer> serverLocked();
    void closeLocked();
    void writeMp3Locked(RDHttpStreamServer* server, const RTPAudioPacket* packet);

    std::mutex m_mutex;
    RDHttpAudioStream m_stream;
    RTPMp3Transcoder* m_transcoder = nullptr;
    std::weak_ptr<RDHttpStreamServer> m_registeredOn;
    bool m_warnedPayloadType = false;
};
