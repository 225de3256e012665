#pragma once

#include "AVPacketConverter.h"
#include "RTPAudioEncoder.h"
#include "RTPAudioPacketQueue.h"

// Packets of one RTP payload type in, packets of another out (or the same packets passed
// through). Fed live by a remote app, so both its queues keep at most the newest
// RTPAudioPacketQueue::kLiveLimit packets. For one thread at a time.
class RTPAudioTranscoder
{
public:
    RTPAudioTranscoder();
    ~RTPAudioTranscoder();
    RTPAudioTranscoder(const RTPAudioTranscoder&) = delete;
    RTPAudioTranscoder& operator=(const RTPAudioTranscoder&) = delete;

    // 0, or -1 when the input cannot be decoded (only 0, 8, 9 and 14 can) or the output cannot
    // be encoded.
    int open(int outputPayloadType, int inputPayloadType, int channels, int sampleRate);
    // One frame of the input payload type (MP3 with or without its 4-byte header). 0, or -1 when
    // closed or the decoder refuses the frame (the frame is then skipped).
    int push(const void* bytes, int length, double duration);
    // The next converted packet, or null; the caller owns it.
    RTPAudioPacket* pop();
    void clear();
    bool isOpen() const { return m_outputPayloadType != -1; }
    int inputPayloadType() const { return m_inputPayloadType; }
    void close();

private:
    bool m_transcoding = false;
    int m_outputPayloadType = -1;
    int m_inputPayloadType = -1;
    int m_sampleRate = 0;
    int m_channels = 0;
    RTPAudioPacketQueue* m_queue = nullptr;
    AVPacketConverter::Decoder m_decoder;
    RTPAudioEncoder* m_encoder = nullptr;
    AVPacket* m_packet = nullptr;
};
