#pragma once

#include <QString>

extern "C" {
#include <libavcodec/packet.h>
#include <libavcodec/codec_par.h>
}

struct AVFormatContext;

// Reads the first audio stream of a media file packet by packet, as the channel's file readers
// do, so tests can feed real demuxed packets to the converters.
class TestMedia
{
public:
    TestMedia() = default;
    ~TestMedia();
    TestMedia(const TestMedia&) = delete;
    TestMedia& operator=(const TestMedia&) = delete;

    // False when the file cannot be opened or has no audio stream.
    bool open(const QString& path);
    void close();

    const AVCodecParameters* parameters() const;
    AVRational timeBase() const;

    // The next packet of the audio stream, stamped with the stream's time base; null at the end
    // of the file or on a read error. The caller frees it with av_packet_free.
    AVPacket* next();

private:
    AVFormatContext* m_context = nullptr;
    int m_stream = -1;
};
