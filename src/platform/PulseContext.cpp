#include "PulseContext.h"

#include "RDThread.h"

#include <cmath>
#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/mainloop.h>
#include <pulse/operation.h>
#include <pulse/channelmap.h>
#include <pulse/stream.h>

PulseContext::PulseContext() = default;

PulseContext::~PulseContext()
{
    disconnect();
}

long long PulseContext::nowMs()
{
    return std::llround(RDThread::tickTime() * 1000);
}

bool PulseContext::connect(const char* clientName, int timeoutMs)
{
    disconnect();
    m_connectError.clear();
    m_mainloop = pa_mainloop_new();
    if (!m_mainloop) {
        m_connectError = QStringLiteral("no main loop");
        return false;
    }
    m_context = pa_context_new(pa_mainloop_get_api(m_mainloop), clientName);
    if (!m_context) {
        m_connectError = QStringLiteral("no context");
        disconnect();
        return false;
    }
    if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        m_connectError = QString::fromUtf8(pa_strerror(pa_context_errno(m_context)));
        disconnect();
        return false;
    }
    const long long deadline = nowMs() + timeoutMs;
    for (;;) {
        const pa_context_state_t state = pa_context_get_state(m_context);
        if (state == PA_CONTEXT_READY)
            return true;
        if (!PA_CONTEXT_IS_GOOD(state)) {
            m_connectError = QString::fromUtf8(pa_strerror(pa_context_errno(m_context)));
            break;
        }
        const long long left = deadline - nowMs();
        if (left <= 0) {
            m_connectError = QStringLiteral("no answer from the sound server");
            break;
        }
        if (!iterate(int(left)))
            break;
    }
    if (m_connectError.isEmpty())
        m_connectError = QStringLiteral("connection failed");
    disconnect();
    return false;
}

void PulseContext::disconnect()
{
    if (m_context) {
        pa_context_disconnect(m_context);
        pa_context_unref(m_context);
        m_context = nullptr;
    }
    if (m_mainloop) {
        pa_mainloop_free(m_mainloop);
        m_mainloop = nullptr;
    }
}

bool PulseContext::isReady() const
{
    return m_context && pa_context_get_state(m_context) == PA_CONTEXT_READY;
}

bool PulseContext::iterate(int timeoutMs)
{
    if (!m_mainloop)
        return false;
    if (pa_mainloop_prepare(m_mainloop, timeoutMs < 0 ? 0 : timeoutMs * 1000) < 0)
        return false;
    if (pa_mainloop_poll(m_mainloop) < 0)
        return false;
    if (pa_mainloop_dispatch(m_mainloop) < 0)
        return false;
    return !m_context || PA_CONTEXT_IS_GOOD(pa_context_get_state(m_context));
}

bool PulseContext::wait(pa_operation* operation, int timeoutMs)
{
    if (!operation)
        return false;
    const long long deadline = nowMs() + timeoutMs;
    bool done = false;
    for (;;) {
        if (pa_operation_get_state(operation) != PA_OPERATION_RUNNING) {
            done = pa_operation_get_state(operation) == PA_OPERATION_DONE;
            break;
        }
        const long long left = deadline - nowMs();
        if (left <= 0 || !iterate(int(left))) {
            pa_operation_cancel(operation);
            break;
        }
    }
    pa_operation_unref(operation);
    return done;
}

QString PulseContext::errorText() const
{
    if (!m_connectError.isEmpty())
        return m_connectError;
    if (!m_context)
        return QStringLiteral("not connected");
    return QString::fromUtf8(pa_strerror(pa_context_errno(m_context)));
}

pa_stream* PulseContext::newStream(const char* name, const pa_sample_spec& pulseFormat)
{
    if (!isReady())
        return nullptr;
    pa_channel_map map;
    if (!pa_channel_map_init_extend(&map, pulseFormat.channels, PA_CHANNEL_MAP_WAVEEX)) {
        m_connectError = QStringLiteral("no channel map for %1 channels").arg(pulseFormat.channels);
        return nullptr;
    }
    return pa_stream_new(m_context, name, &pulseFormat, &map);
}

bool PulseContext::waitStreamReady(pa_stream* stream, int timeoutMs)
{
    const long long deadline = nowMs() + timeoutMs;
    for (;;) {
        const pa_stream_state_t state = pa_stream_get_state(stream);
        if (state == PA_STREAM_READY)
            return true;
        if (!PA_STREAM_IS_GOOD(state))
            return false;
        const long long left = deadline - nowMs();
        if (left <= 0) {
            m_connectError = QStringLiteral("the stream did not start");
            return false;
        }
        if (!iterate(int(left)))
            return false;
    }
}

bool PulseContext::isStreamGood(pa_stream* stream) const
{
    return stream && isReady() && pa_stream_get_state(stream) == PA_STREAM_READY;
}
