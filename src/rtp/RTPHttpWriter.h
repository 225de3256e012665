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
// The application has one stream server object for the whole run; a restart of it is stop,
// configure and start, and its streams stay registered across that. So the sink takes the
// server once, when it opens, and holds it until it closes: listeners of a restarted server
// get audio again without a channel restart, and no packet pays for a look-up. A sink opened
// while the host has no server streams nothing.
class RTPHttpWriter : public RTPAudioWriter
{
public:
    static constexpr const char* kContentType = "audio/mp3";
    static constexpr int kBitrate = 128000;
    // Every stream is MP3 at 44100 Hz: the transcoder's output or an MP3 channel's own.
    static constexpr int kSampleRate = 44100;
    static constexpr int kBufferSize = 8192;
    static constexpr int kMp3Codec = 3;

    RTPHttpWriter();
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
    void closeLocked();
    void writeMp3Locked(RDHttpStreamServer* server, const RTPAudioPacket* packet);

    std::mutex m_mutex;
    RDHttpAudioStream m_stream;
    std::unique_ptr<RTPMp3Transcoder> m_transcoder;
    // The server the stream is registered on, from open to close; null when there is none.
    std::shared_ptr<RDHttpStreamServer> m_server;
    bool m_warnedPayloadType = false;
};
