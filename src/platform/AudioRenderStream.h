#pragma once

#include "AudioFormat.h"
#include "PulseContext.h"

#include <QString>

#include <atomic>
#include <functional>

struct pa_stream;

// Plays PCM on a render endpoint of the sound server (the default one when no id is given) in
// the endpoint's own format (its mix format), or in 32-bit float at its rate and channel count
// when that format cannot be taken. The writer waits in waitWritable() until the server wants
// more, so nobody needs to poll. One thread at a time uses an object.
class AudioRenderStream
{
public:
    enum Result {
        kOk = 0,
        kNoServer = -1,   // no sound server answered
        kNotFound = -2,   // no such endpoint, or no default endpoint
        kFailed = -3,     // the stream could not be set up
        kEnded = -4       // the endpoint or the server went away
    };

    AudioRenderStream();
    ~AudioRenderStream();

    AudioRenderStream(const AudioRenderStream&) = delete;
    AudioRenderStream& operator=(const AudioRenderStream&) = delete;

    // bufferMs is how much the server holds ahead of the endpoint; chunkMs the smallest block it
    // asks for.
    int open(const QString& id, int bufferMs, int chunkMs);
    void close();
    bool isOpen() const { return m_stream != nullptr; }

    const AudioFormat& format() const { return m_format; }
    // The server's buffer in bytes, and the size of the blocks it asks for.
    int bufferBytes() const { return m_bufferBytes; }
    int chunkBytes() const { return m_chunkBytes; }

    // Waits up to timeoutMs until the server takes at least one chunk; returns how many bytes it
    // takes now (0 when it wanted nothing in time), or kEnded.
    int waitWritable(int timeoutMs);
    // Queues whole frames for playing; the count queued, or kEnded.
    int write(const char* data, int bytes);

    // Plays out everything written (even less than the server waits for before it starts) and
    // returns when the endpoint has played it: kOk, or kEnded. Waits at most timeoutMs, and
    // gives up early when keepWaiting (asked every few milliseconds) answers false.
    int drain(int timeoutMs, const std::function<bool()>& keepWaiting);

    // Times the endpoint ran out of data since open.
    int underruns() const { return m_underruns.load(std::memory_order_relaxed); }

    QString errorText() const { return m_error; }

private:
    static void onUnderflow(pa_stream* stream, void* data);
    int failOpen(int result, const QString& error);
    bool streamGood() const;

    PulseContext m_pulse;
    pa_stream* m_stream = nullptr;
    AudioFormat m_format;
    int m_bufferBytes = 0;
    int m_chunkBytes = 0;
    std::atomic<int> m_underruns{0};
    QString m_error;
};
