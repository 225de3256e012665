#include "AudioCaptureStream.h"

#include "AudioEndpoints.h"

#include <pulse/channelmap.h>
#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/stream.h>

#include <QByteArray>

#include <algorithm>
#include <cstring>

namespace {

struct EndpointLookup
{
    bool loopback = false;
    bool found = false;
    QByteArray source;   // the source to record: the endpoint itself, or the sink's monitor
    pa_sample_spec pulseFormat{};
};

void onSourceInfo(pa_context*, const pa_source_info* info, int eol, void* data)
{
    auto* lookup = static_cast<EndpointLookup*>(data);
    if (eol || !info)
        return;
    lookup->found = true;
    lookup->source = QByteArray(info->name ? info->name : "");
    lookup->pulseFormat = info->sample_spec;
}

void onSinkInfo(pa_context*, const pa_sink_info* info, int eol, void* data)
{
    auto* lookup = static_cast<EndpointLookup*>(data);
    if (eol || !info)
        return;
    lookup->found = true;
    lookup->source = QByteArray(info->monitor_source_name ? info->monitor_source_name : "");
    lookup->pulseFormat = info->sample_spec;
}

// Finds the endpoint: a render endpoint (loopback) among the sinks, else among the sources.
int lookUp(PulseContext& pulse, const QString& id, bool loopback, EndpointLookup* lookup,
           QString* error)
{
    if (!pulse.connect("Quorvel Sonaris capture", AudioEndpoints::kServerTimeoutMs)) {
        *error = pulse.errorText();
        return AudioCaptureStream::kNoServer;
    }
    const QByteArray name = id.toUtf8();
    if (name.isEmpty()) {
        *error = QStringLiteral("no endpoint id");
        return AudioCaptureStream::kNotFound;
    }
    lookup->loopback = loopback;
    pa_operation* operation =
        loopback ? pa_context_get_sink_info_by_name(pulse.context(), name.constData(),
                                                    onSinkInfo, lookup)
                 : pa_context_get_source_info_by_name(pulse.context(), name.constData(),
                                                      onSourceInfo, lookup);
    if (!pulse.wait(operation, AudioEndpoints::kServerTimeoutMs) && !pulse.isReady()) {
        *error = pulse.errorText();
        return AudioCaptureStream::kNoServer;
    }
    if (!lookup->found || lookup->source.isEmpty()) {
        *error = QStringLiteral("no endpoint named %1").arg(id);
        return AudioCaptureStream::kNotFound;
    }
    return AudioCaptureStream::kOk;
}

} // namespace

AudioCaptureStream::AudioCaptureStream() = default;

AudioCaptureStream::~AudioCaptureStream()
{
    close();
}

int AudioCaptureStream::probe(const QString& id, bool loopback, AudioFormat* format,
                              QString* error)
{
    PulseContext pulse;
    EndpointLookup lookup;
    QString text;
    const int result = lookUp(pulse, id, loopback, &lookup, &text);
    if (error)
        *error = text;
    if (result == kOk && format)
        *format = AudioFormat::fromPulse(lookup.pulseFormat);
    return result;
}

int AudioCaptureStream::failOpen(int result, const QString& error)
{
    m_error = error;
    close();
    return result;
}

int AudioCaptureStream::open(const QString& id, bool loopback, int fragmentMs)
{
    close();
    m_error.clear();
    EndpointLookup lookup;
    const int found = lookUp(m_pulse, id, loopback, &lookup, &m_error);
    if (found != kOk)
        return failOpen(found, m_error);

    m_deviceFormat = AudioFormat::fromPulse(lookup.pulseFormat);
    m_format = m_deviceFormat.isUsable() ? m_deviceFormat : AudioFormat::fallback();
    pa_sample_spec pulseFormat;
    if (!m_format.toPulse(&pulseFormat)) {
        m_format = AudioFormat::fallback();
        m_format.toPulse(&pulseFormat);
    }
    m_stream = m_pulse.newStream("capture", pulseFormat);
    if (!m_stream)
        return failOpen(kFailed, m_pulse.errorText());

    pa_buffer_attr attr;
    std::memset(&attr, 0xff, sizeof attr);
    attr.fragsize = uint32_t(m_format.bytesForMs(std::max(fragmentMs, 1)));
    const auto flags = pa_stream_flags_t(PA_STREAM_DONT_MOVE | PA_STREAM_ADJUST_LATENCY);
    if (pa_stream_connect_record(m_stream, lookup.source.constData(), &attr, flags) < 0)
        return failOpen(kFailed, m_pulse.errorText());

    if (!m_pulse.waitStreamReady(m_stream, AudioEndpoints::kServerTimeoutMs))
        return failOpen(kFailed, m_pulse.errorText());
    return kOk;
}

void AudioCaptureStream::close()
{
    if (m_stream) {
        if (m_peeked && streamGood())
            pa_stream_drop(m_stream);
        pa_stream_disconnect(m_stream);
        pa_stream_unref(m_stream);
        m_stream = nullptr;
    }
    m_peeked = false;
    m_fragment = nullptr;
    m_fragmentSize = 0;
    m_fragmentOffset = 0;
    m_fragmentHole = false;
    m_pulse.disconnect();
}

bool AudioCaptureStream::streamGood() const
{
    return m_pulse.isStreamGood(m_stream);
}

int AudioCaptureStream::read(char* buffer, int capacity, int timeoutMs)
{
    if (!m_stream)
        return kEnded;
    const int frame = std::max(m_format.blockAlign, 1);
    capacity -= capacity % frame;
    if (!buffer || capacity <= 0)
        return 0;
    const long long deadline = PulseContext::nowMs() + std::max(timeoutMs, 0);
    for (;;) {
        if (!streamGood()) {
            m_error = m_pulse.isReady() ? QStringLiteral("the endpoint went away")
                                        : m_pulse.errorText();
            return kEnded;
        }
        if (!m_peeked && pa_stream_readable_size(m_stream) > 0) {
            const void* data = nullptr;
            size_t size = 0;
            if (pa_stream_peek(m_stream, &data, &size) < 0) {
                m_error = m_pulse.errorText();
                return kEnded;
            }
            if (size > 0) {
                m_peeked = true;
                m_fragment = static_cast<const char*>(data);
                m_fragmentHole = data == nullptr;
                m_fragmentSize = int(size);
                m_fragmentOffset = 0;
            }
        }
        if (m_peeked) {
            int count = std::min(capacity, m_fragmentSize - m_fragmentOffset);
            count -= count % frame;
            if (count <= 0)
                count = std::min(capacity, m_fragmentSize - m_fragmentOffset);
            // A hole (the server lost data) is handed out as silence, so timing holds.
            if (m_fragmentHole)
                std::memset(buffer, m_format.silenceByte(), size_t(count));
            else
                std::memcpy(buffer, m_fragment + m_fragmentOffset, size_t(count));
            m_fragmentOffset += count;
            if (m_fragmentOffset >= m_fragmentSize) {
                pa_stream_drop(m_stream);
                m_peeked = false;
                m_fragment = nullptr;
            }
            return count;
        }
        const long long left = deadline - PulseContext::nowMs();
        if (left <= 0)
            return 0;
        if (!m_pulse.iterate(int(left))) {
            m_error = m_pulse.errorText();
            return kEnded;
        }
    }
}
