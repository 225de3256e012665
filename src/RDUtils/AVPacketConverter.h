#pragma once

#include "RDPointerQueue.h"
#include "RDRingBuffer.h"

#include <cstdint>
#include <functional>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libavutil/samplefmt.h>
}

struct SwrContext;

// Turns compressed audio packets of one kind (codec, rate, layout, sample format) into packets of
// another: decode, resample, cut into frames of exactly the encoder's size, encode. Packets of
// the same kind pass through; constant-rate PCM-like codecs are re-cut into frames of the target's
// size on the way, so every packet that comes out has the same length.
//
// The output queue has its own mutex: one thread may push while another pops or clears. init,
// push, flush and release are for one thread at a time.
class AVPacketConverter
{
public:
    struct PacketDeleter
    {
        void operator()(AVPacket* packet) const { av_packet_free(&packet); }
    };
    using PacketQueue = RDPointerQueue<AVPacket, PacketDeleter>;

    // A decoder that survives bad input: every frame of every accepted packet reaches the
    // caller, a full decoder is emptied before a packet is offered again, and after an error
    // the decoder is opened afresh (when that fails, it stays failed and says so).
    class Decoder
    {
    public:
        Decoder();
        ~Decoder();
        Decoder(const Decoder&) = delete;
        Decoder& operator=(const Decoder&) = delete;

        bool open(const AVCodecParameters* parameters);
        void close();
        bool isOpen() const { return m_context != nullptr; }
        AVCodecContext* context() const { return m_context; }

        // Decodes one packet, handing every frame it yields to onFrame (a negative return from
        // onFrame is passed on, after the remaining frames). An empty packet is ignored. On a
        // decoding error logs "%x = %s", reopens the decoder and returns the error.
        int decode(const AVPacket* packet, const std::function<int(const AVFrame*)>& onFrame);
        // End of input: hands over the frames the decoder still holds and makes it ready for a
        // new stream.
        int drain(const std::function<int(const AVFrame*)>& onFrame);

    private:
        int receiveAll(const std::function<int(const AVFrame*)>& onFrame);
        int fail(int error);

        AVCodecParameters* m_parameters = nullptr;
        AVCodecContext* m_context = nullptr;
        AVFrame* m_frame = nullptr;
        AVPacket* m_padded = nullptr;
        double m_lastLog = -1e9;
        int m_suppressed = 0;
    };

    // Resampler, frame cutter and encoder: audio of any layout, format and rate goes in; packets
    // of exactly frameSize() samples (timestamps in 1/rate) go to the sink. The resampler keeps its
    // state from one call to the next; only flush() empties it.
    class FrameEncoder
    {
    public:
        using Sink = std::function<void(AVPacket*)>;

        FrameEncoder();
        ~FrameEncoder();
        FrameEncoder(const FrameEncoder&) = delete;
        FrameEncoder& operator=(const FrameEncoder&) = delete;

        // Opens codec with the rate, layout, sample format, bit rate and frame size of
        // parameters. fallbackFrameSize is used when the opened codec takes frames of any size.
        // Planar output of more than two channels is refused.
        bool open(const AVCodec* codec, const AVCodecParameters* parameters, int fallbackFrameSize);
        void close();
        bool isOpen() const { return m_context != nullptr; }
        void setSink(Sink sink) { m_sink = std::move(sink); }

        // Declares the input; returns false when it needs a resampler that cannot be set up (then
        // every write returns -1 until an input that works is set).
        bool setInput(const AVChannelLayout* layout, AVSampleFormat format, int rate);
        // True when the declared input differs from the encoder's format.
        bool needsResampling() const { return m_resampling; }
        bool hasResampler() const { return m_swr != nullptr; }

        // planes are laid out as AVFrame::data of the declared input format.
        int write(const uint8_t* const* planes, int samples);
        // A frame in any format: a frame unlike the declared input changes the input first.
        int writeFrame(const AVFrame* frame);
        // End of input: the resampler's tail, the last partial frame padded with silence and the
        // encoder's delayed packets go out; the encoder is then ready for a new stream.
        int flush();
        // Drops the audio waiting to fill a frame.
        void clear();

        const AVCodecContext* context() const { return m_context; }
        int frameSize() const { return m_frameSize; }
        int sampleRate() const;
        int channels() const;
        AVSampleFormat sampleFormat() const;

    private:
        bool openContext();
        void freeResampler();
        int append(const uint8_t* const* planes, int offset, int samples);
        int encodeReady();
        int encode(const AVFrame* frame);
        int receivePackets();
        void logRefusal(int error);

        const AVCodec* m_codec = nullptr;
        AVCodecParameters* m_parameters = nullptr;
        AVCodecContext* m_context = nullptr;
        int m_fallbackFrameSize = 0;
        int m_frameSize = 0;
        int m_bytesPerSample = 0;
        bool m_planar = false;
        int64_t m_nextPts = 0;

        AVChannelLayout m_inLayout;
        AVSampleFormat m_inFormat = AV_SAMPLE_FMT_NONE;
        int m_inRate = 0;
        bool m_resampling = false;
        SwrContext* m_swr = nullptr;
        AVFrame* m_resampled = nullptr;
        AVFrame* m_frame = nullptr;
        AVPacket* m_packet = nullptr;
        RDRingBuffer m_rings[2];
        Sink m_sink;
        double m_lastRefusalLog = -1e9;
        int m_refusals = 0;
    };

    AVPacketConverter();
    ~AVPacketConverter();
    AVPacketConverter(const AVPacketConverter&) = delete;
    AVPacketConverter& operator=(const AVPacketConverter&) = delete;

    // Prepares pass-through (same rate, layout, channel count, sample format and codec) or
    // transcoding. False on a missing or failing codec or resampler; release() frees what was set
    // up. A converter that was initialised is released first.
    bool init(const AVCodecParameters* in, const AVCodecParameters* out);
    // Converts one packet; the caller keeps it. 0, or a negative FFmpeg error (the packet is then
    // lost and conversion goes on with the next one; a converter whose decoder could not be
    // reopened keeps failing).
    int push(const AVPacket* packet);
    // End of input: everything the codecs and buffers still hold is queued.
    int flush();
    // The oldest converted packet, or null; the caller frees it with av_packet_free.
    AVPacket* pop();
    // Drops every queued packet; the codecs stay open.
    void clear();
    int count() const;
    // Bounds the output queue (0: unbounded); beyond it the oldest packets are dropped.
    void setQueueLimit(int limit);
    // 3 with the output rate, channel count and sample format; 0 before init.
    int outputFormat(int* sampleRate, int* channels, int* sampleFormat) const;
    void release();

    bool isTranscoding() const { return m_transcoding; }

    // The encoder for a codec id; for MP3 LAME is preferred over whatever FFmpeg lists first.
    static const AVCodec* findEncoder(AVCodecID id);
    // Samples per frame when an encoder takes frames of any size: the parameters' frame size, else
    // 20 ms.
    static int defaultFrameSize(const AVCodecParameters* parameters);
    // Fills in a layout from the old-style fields or the channel count when the parameters carry
    // none (mono below 2 channels, stereo for 2).
    static void normaliseLayout(AVCodecParameters* parameters);

private:
    int passThrough(const AVPacket* packet);
    int emitPassThroughFrames(bool all);

    bool m_transcoding = false;
    bool m_failed = false;
    AVCodecParameters* m_inParams = nullptr;
    AVCodecParameters* m_outParams = nullptr;
    Decoder m_decoder;
    FrameEncoder m_encoder;
    // Pass-through of constant-rate codecs: bytes waiting to fill a frame.
    RDRingBuffer* m_passRing = nullptr;
    int m_passFrameBytes = 0;
    int64_t m_passPts = 0;
    PacketQueue* m_queue = nullptr;
    int m_queueLimit = 0;
};
