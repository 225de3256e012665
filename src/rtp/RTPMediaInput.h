#pragma once

#include <QString>

#include <functional>
#include <memory>

extern "C" {
#include <libavcodec/codec_par.h>
}

struct AVFormatContext;
struct AVPacket;
struct AVStream;
class AVPacketConverter;
class RTPAudioPacket;

// One media file or URL opened through FFmpeg's demuxers, its first audio stream converted into
// packets of one RTP payload type. Shared by the sources that read media (bell file, playlist).
//
// An open never outlasts its owner's stop: every blocking call of the demuxer polls the
// interrupt test given to open(), and paths with a URL scheme also get a socket time-out and a
// list of the network protocols they may use (a local-file or "concat:" trick named as a URL
// is refused). For one thread at a time.
class RTPMediaInput
{
public:
    // Consumer of converted packets; it takes each one over.
    using Sink = std::function<void(RTPAudioPacket*)>;
    // True once the owner wants the blocking calls to give up.
    using Interrupt = std::function<bool()>;

    // readPacket results besides FFmpeg's negative errors (AVERROR_EOF at the end).
    static constexpr int kAudio = 0;
    static constexpr int kSkipped = 1;

    // open failures besides FFmpeg's negative errors.
    static constexpr int kNoAudioStream = -0x4e4f4155;   // no audio stream in the media
    static constexpr int kNoConversion = -0x4e4f4356;    // the payload type cannot be produced from it

    // Socket time-out of URL opens and reads, microseconds.
    static constexpr const char* kUrlTimeout = "10000000";
    static constexpr const char* kUrlProtocols =
        "http,https,tcp,tls,crypto,hls,rtmp,rtsp,rtp,udp,mmsh,mmst";

    RTPMediaInput();
    ~RTPMediaInput();
    RTPMediaInput(const RTPMediaInput&) = delete;
    RTPMediaInput& operator=(const RTPMediaInput&) = delete;

    // 0, or a negative code (a failed open is closed again). interrupt is kept while open.
    int open(const QString& path, int payloadType, Interrupt interrupt);
    void close();
    bool isOpen() const { return m_context != nullptr; }

    // Reads one packet of the media. An audio packet is converted and whatever the conversion
    // gives out goes to sink (possibly nothing yet): kAudio. A packet of another stream is
    // dropped: kSkipped. At the end AVERROR_EOF, on a read error another negative code.
    int readPacket(const Sink& sink);
    // End of the audio: what the codecs and the frame cutter still hold goes to sink.
    void flush(const Sink& sink);
    // Moves to seconds from the start of the media (to the frame at or before it) and restarts
    // the conversion; 0 or a negative code (nothing changes then).
    int seek(double seconds);
    // Playing time of the audio stream (of the whole media when the stream does not say),
    // 0 when unknown.
    double duration() const;

    // True for "scheme:..." paths other than "file:" (a one-letter scheme is a drive letter).
    static bool isUrl(const QString& path);
    // A readable text for an open() or readPacket() code.
    static QString errorText(int code);
    // One packet of a conversion to target as an RTP packet of payloadType, its duration taken
    // from the packet or counted from the samples it holds; null when it holds no payload. The
    // packet is freed in any case. The other converting sources (a SIP call) share it.
    static std::unique_ptr<RTPAudioPacket> packetFrom(AVPacket* out, const AVCodecParameters& target, int payloadType);

private:
    static int interruptCallback(void* opaque);
    bool initConverter();
    void convert(const Sink& sink);

    AVFormatContext* m_context = nullptr;
    AVStream* m_stream = nullptr;
    AVCodecParameters* m_target = nullptr;
    AVPacketConverter* m_converter = nullptr;
    int m_payloadType = -1;
    Interrupt m_interrupt;
};
