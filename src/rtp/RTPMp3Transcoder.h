#pragma once

#include "AVPacketConverter.h"
#include "RTPAudioPacket.h"

// A channel's packets in, MP3 at 44100 Hz stereo and 128 kbit/s out, for the HTTP stream of a
// channel whose own codec is not MP3. For one thread at a time.
class RTPMp3Transcoder
{
public:
    RTPMp3Transcoder() = default;
    ~RTPMp3Transcoder();
    RTPMp3Transcoder(const RTPMp3Transcoder&) = delete;
    RTPMp3Transcoder& operator=(const RTPMp3Transcoder&) = delete;

    // Channel codec index: 0 PCMU, 1 PCMA, 2 G.722, 4 L16 mono, 5 L16 stereo. 0, or -1 for any
    // other codec (an MP3 channel needs no transcoder) or when the codecs will not open.
    int open(int codec);
    // Feeds one packet's bytes; the caller keeps the packet. 0 or a negative FFmpeg error.
    int push(const RTPAudioPacket* packet);
    // The next MP3 frame, or null; the caller frees it with av_packet_free.
    AVPacket* pop();
    void close();
    bool isOpen() const { return m_converter != nullptr; }

private:
    AVPacketConverter* m_converter = nullptr;
    AVPacket* m_packet = nullptr;
};
