#pragma once

#include "AVPacketConverter.h"
#include "RTPAudioPacketQueue.h"

#include <cstdint>

extern "C" {
#include <libavcodec/codec_id.h>
#include <libavutil/frame.h>
}

// PCM or decoded frames in, RTP audio packets of one payload type out. The audio is resampled
// when its format differs from the encoder's and always cut into frames of exactly the encoder's
// size, so every packet of a stream has the same duration (20 ms for G.711 and G.722, 5 ms for
// L16, one MP3 frame for MP3). For one thread at a time; the output queue has its own mutex.
class RTPAudioEncoder
{
public:
    RTPAudioEncoder();
    ~RTPAudioEncoder();
    RTPAudioEncoder(const RTPAudioEncoder&) = delete;
    RTPAudioEncoder& operator=(const RTPAudioEncoder&) = delete;

    // The FFmpeg codec of an RTP payload type (0, 8, 9, 10, 11, 14); AV_CODEC_ID_NONE for others.
    static AVCodecID codecId(int payloadType);

    // The input format is an AVSampleFormat value; a layout mask of 0 means mono for one channel,
    // else the default layout of the channel count. The output is RTPAudioTarget's for the
    // payload type. False for an unknown payload type or a codec that will not open. A
    // resampler that cannot be set up leaves the encoder open, but every encode that needs one
    // fails.
    bool open(int inputRate, uint64_t inputLayout, int inputChannels, int inputFormat, int payloadType);
    // Interleaved input (planar formats: plane after plane); at most byteCount bytes are read.
    // 0, or -1 when resampling is needed and impossible.
    int encodePcm(const void* bytes, int samples, int byteCount);
    // A decoded frame (in any format); 0 or -1 as encodePcm.
    int encodeFrame(const AVFrame* frame);

    // The packets made so far; never null.
    RTPAudioPacketQueue* queue() { return &m_queue; }
    // Drops queued packets and the audio waiting to fill a frame; the codec stays open.
    void clear();
    void close();

    bool isOpen() const { return m_payloadType != -1; }
    int payloadType() const { return m_payloadType; }
    int frameSize() const { return m_encoder.frameSize(); }
    int outputRate() const { return m_outputRate; }
    int outputChannels() const { return m_outputChannels; }
    int outputFormat() const { return m_outputFormat; }
    bool isResampling() const { return m_resampling; }

private:
    void takePacket(AVPacket* packet);

    int m_inputRate = 0;
    uint64_t m_inputLayout = 0;
    int m_inputChannels = 0;
    int m_inputFormat = -1;
    int m_outputRate = 0;
    int m_outputChannels = 0;
    int m_outputFormat = -1;
    bool m_resampling = false;
    AVPacketConverter::FrameEncoder m_encoder;
    int m_payloadType = -1;
    RTPAudioPacketQueue m_queue;
};
