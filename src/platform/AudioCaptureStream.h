#pragma once

#include "AudioFormat.h"
#include "PulseContext.h"

#include <QString>

struct pa_stream;

// Records one endpoint of the sound server: a capture endpoint directly, or a render endpoint as
// loopback through its monitor. The stream is pinned to that endpoint: when the endpoint goes
// away (unplugged, unloaded) or the server ends, reads report the end instead of the server
// moving the stream elsewhere. One thread at a time uses an object.
class AudioCaptureStream
{
public:
    enum Result {
        kOk = 0,
        kNoServer = -1,   // no sound server answered
        kNotFound = -2,   // no endpoint with that id
        kFailed = -3,     // the stream could not be set up
        kEnded = -4       // the endpoint or the server went away
    };

    AudioCaptureStream();
    ~AudioCaptureStream();

    AudioCaptureStream(const AudioCaptureStream&) = delete;
    AudioCaptureStream& operator=(const AudioCaptureStream&) = delete;

    // The endpoint's own format (its mix format) without opening a stream.
    static int probe(const QString& id, bool loopback, AudioFormat* format,
                     QString* error = nullptr);

    // Opens the endpoint and starts recording in its own format, or in AudioFormat::fallback()
    // when that format cannot be taken. fragmentMs is the size of the fragments the server hands
    // over, which is also the latency it is asked for. The server keeps what is not read yet
    // (several seconds) before it drops the oldest.
    int open(const QString& id, bool loopback, int fragmentMs);
    void close();
    bool isOpen() const { return m_stream != nullptr; }

    // The endpoint's own format, and the format of the recorded bytes.
    const AudioFormat& deviceFormat() const { return m_deviceFormat; }
    const AudioFormat& format() const { return m_format; }

    // Copies recorded bytes (whole frames, at most capacity) into buffer, waiting up to timeoutMs
    // for them. The byte count, 0 when nothing came in time, kEnded when the endpoint is gone.
    int read(char* buffer, int capacity, int timeoutMs);

    QString errorText() const { return m_error; }

private:
    int failOpen(int result, const QString& error);
    bool streamGood() const;

    PulseContext m_pulse;
    pa_stream* m_stream = nullptr;
    AudioFormat m_deviceFormat;
    AudioFormat m_format;
    // The fragment being handed out, from pa_stream_peek.
    const char* m_fragment = nullptr;
    int m_fragmentSize = 0;
    int m_fragmentOffset = 0;
    bool m_fragmentHole = false;
    bool m_peeked = false;
    QString m_error;
};
