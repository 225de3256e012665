#pragma once

#include <QString>

struct pa_context;
struct pa_mainloop;
struct pa_operation;
struct pa_sample_spec;
struct pa_stream;

// One connection to the sound server (PulseAudio, or PipeWire's PulseAudio server) with a main
// loop of its own that the owning thread drives. Nothing here starts threads: every callback runs
// inside iterate() on the caller's thread, so one object belongs to one thread at a time.
class PulseContext
{
public:
    PulseContext();
    ~PulseContext();

    PulseContext(const PulseContext&) = delete;
    PulseContext& operator=(const PulseContext&) = delete;

    // Connects to the server the environment names (PULSE_SERVER, else the user's default
    // socket); never spawns a server. False when none is ready within timeoutMs; errorText() then
    // tells why.
    bool connect(const char* clientName, int timeoutMs);
    void disconnect();
    bool isReady() const;

    // Runs the loop once, waiting at most timeoutMs for an event. False when the connection is
    // gone.
    bool iterate(int timeoutMs);
    // Runs the loop until the operation is done, the connection fails or timeoutMs pass (the
    // operation is then cancelled). Takes over the operation's reference; true when it completed.
    bool wait(pa_operation* operation, int timeoutMs);

    // A stream of this connection in pulseFormat, its channels in WAVE order (FFmpeg's default
    // order for every channel count). Null on failure (errorText() tells why).
    pa_stream* newStream(const char* name, const pa_sample_spec& pulseFormat);
    // Runs the loop until a connecting stream is ready. False when it failed or timeoutMs passed.
    bool waitStreamReady(pa_stream* stream, int timeoutMs);
    // The stream is ready on a ready connection.
    bool isStreamGood(pa_stream* stream) const;

    pa_context* context() const { return m_context; }
    pa_mainloop* mainloop() const { return m_mainloop; }
    // The server's last error, or why connecting failed.
    QString errorText() const;

    // Milliseconds on the monotonic clock, for deadlines.
    static long long nowMs();

private:
    pa_mainloop* m_mainloop = nullptr;
    pa_context* m_context = nullptr;
    QString m_connectError;
};
