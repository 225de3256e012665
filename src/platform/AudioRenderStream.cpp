#include "AudioRenderStream.h"

#include "AudioEndpoints.h"

#include <pulse/channelmap.h>
#include <pulse/introspect.h>
#include <pulse/operation.h>
#include <pulse/stream.h>

extern "C" {
#include <libavutil/samplefmt.h>
}

#include <QByteArray>

#include <algorithm>
#include <cstring>

namespace {

struct SinkLookup
{
    QByteArray defaultSink;
    bool found = false;
    pa_sample_spec pulseFormat{};
};

void onServerInfo(pa_context*, const pa_server_info* info, void* data)
{
    auto* lookup = static_cast<SinkLookup*>(data);
    if (info && info->default_sink_name)
        lookup->defaultSink = QByteArray(info->default_sink_name);
}

void onSinkInfo(pa_context*, const pa_sink_info* info, int eol, void* data)
{
    auto* lookup = static_cast<SinkLookup*>(data);
    if (eol || !info)
        return;
    lookup->found = true;
    lookup->pulseFormat = info->sample_spec;
}

} // namespace

AudioRenderStream::AudioRenderStream() = default;

AudioRenderStream::~AudioRenderStream()
{
    close();
}

int AudioRenderStream::failOpen(int result, const QString& error)
{
    m_error = error;
    close();
    return result;
}

void AudioRenderStream::onUnderflow(pa_stream*, void* data)
{
    static_cast<AudioRenderStream*>(data)->m_underruns.fetch_add(1, std::memory_order_relaxed);
}

int AudioRenderStream::open(const QString& id, int bufferMs, int chunkMs)
{
    close();
    m_error.clear();
    m_underruns.store(0, std::memory_order_relaxed);
    if (!m_pulse.connect("Quorvel Sonaris player", AudioEndpoints::kServerTimeoutMs))
        return failOpen(kNoServer, m_pulse.errorText());

    SinkLookup lookup;
    QByteArray name = id.toUtf8();
    if (name.isEmpty()) {
        if (!m_pulse.wait(pa_context_get_server_info(m_pulse.context(), onServerInfo, &lookup),
                          AudioEndpoints::kServerTimeoutMs))
            return failOpen(kNoServer, m_pulse.errorText());
        name = lookup.defaultSink;
        if (name.isEmpty())
            return failOpen(kNotFound, QStringLiteral("the server has no default output"));
    }
    m_pulse.wait(pa_context_get_sink_info_by_name(m_pulse.context(), name.constData(),
                                                  onSinkInfo, &lookup),
                 AudioEndpoints::kServerTimeoutMs);
    if (!lookup.found)
        return failOpen(kNotFound,
                        QStringLiteral("no output named %1").arg(QString::fromUtf8(name)));

    m_format = AudioFormat::fromPulse(lookup.pulseFormat);
    pa_sample_spec pulseFormat;
    if (!m_format.toPulse(&pulseFormat)) {
        // The server converts from float to whatever the endpoint takes.
        pulseFormat = lookup.pulseFormat;
        pulseFormat.format = PA_SAMPLE_FLOAT32LE;
        m_format = AudioFormat::fromPulse(pulseFormat);
    }
    m_stream = m_pulse.newStream("preview", pulseFormat);
    if (!m_stream)
        return failOpen(kFailed, m_pulse.errorText());
    pa_stream_set_underflow_callback(m_stream, onUnderflow, this);

    m_chunkBytes = m_format.bytesForMs(std::max(chunkMs, 1));
    m_bufferBytes = std::max(m_format.bytesForMs(std::max(bufferMs, 1)), 2 * m_chunkBytes);
    pa_buffer_attr attr;
    std::memset(&attr, 0xff, sizeof attr);
    attr.tlength = uint32_t(m_bufferBytes);
    attr.minreq = uint32_t(m_chunkBytes);
    if (pa_stream_connect_playback(m_stream, name.constData(), &attr, PA_STREAM_ADJUST_LATENCY, nullptr,
                                   nullptr) < 0)
        return failOpen(kFailed, m_pulse.errorText());

    if (!m_pulse.waitStreamReady(m_stream, AudioEndpoints::kServerTimeoutMs))
        return failOpen(kFailed, m_pulse.errorText());
    // The server may have settled on other sizes than asked for.
    if (const pa_buffer_attr* actual = pa_stream_get_buffer_attr(m_stream)) {
        if (actual->tlength != uint32_t(-1) && actual->tlength > 0)
            m_bufferBytes = int(actual->tlength);
        if (actual->minreq != uint32_t(-1) && actual->minreq > 0)
            m_chunkBytes = std::min(int(actual->minreq), m_bufferBytes);
    }
    return kOk;
}

void AudioRenderStream::close()
{
    if (m_stream) {
        pa_stream_set_underflow_callback(m_stream, nullptr, nullptr);
        pa_stream_disconnect(m_stream);
        pa_stream_unref(m_stream);
        m_stream = nullptr;
    }
    m_pulse.disconnect();
}

bool AudioRenderStream::streamGood() const
{
    return m_pulse.isStreamGood(m_stream);
}

int AudioRenderStream::waitWritable(int timeoutMs)
{
    const long long deadline = PulseContext::nowMs() + std::max(timeoutMs, 0);
    for (;;) {
        if (!streamGood()) {
            m_error = m_pulse.isReady() ? QStringLiteral("the output went away")
                                        : m_pulse.errorText();
            return kEnded;
        }
        const size_t writable = pa_stream_writable_size(m_stream);
        if (writable == size_t(-1)) {
            m_error = m_pulse.errorText();
            return kEnded;
        }
        const long long left = deadline - PulseContext::nowMs();
        if (int(writable) >= m_chunkBytes || left <= 0)
            return int(writable) - int(writable) % std::max(m_format.blockAlign, 1);
        if (!m_pulse.iterate(int(left))) {
            m_error = m_pulse.errorText();
            return kEnded;
        }
    }
}

int AudioRenderStream::write(const char* data, int bytes)
{
    if (!streamGood())
        return kEnded;
    bytes -= bytes % std::max(m_format.blockAlign, 1);
    if (!data || bytes <= 0)
        return 0;
    if (pa_stream_write(m_stream, data, size_t(bytes), nullptr, 0, PA_SEEK_RELATIVE) < 0) {
        m_error = m_pulse.errorText();
        return kEnded;
    }
    return bytes;
}

int AudioRenderStream::drain(int timeoutMs, const std::function<bool()>& keepWaiting)
{
    if (!streamGood())
        return kEnded;
    pa_operation* operation = pa_stream_drain(m_stream, nullptr, nullptr);
    if (!operation) {
        m_error = m_pulse.errorText();
        return kEnded;
    }
    const long long deadline = PulseContext::nowMs() + std::max(timeoutMs, 0);
    int result = kOk;
    while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING) {
        const long long left = deadline - PulseContext::nowMs();
        if (left <= 0 || (keepWaiting && !keepWaiting()))
            break;
        if (!m_pulse.iterate(int(std::min<long long>(left, 10)))) {
            m_error = m_pulse.errorText();
            result = kEnded;
            break;
        }
    }
    if (pa_operation_get_state(operation) == PA_OPERATION_RUNNING)
        pa_operation_cancel(operation);
    pa_operation_unref(operation);
    return result;
}
