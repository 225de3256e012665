#include "AudioEndpoints.h"

#include "PulseContext.h"

#include <pulse/introspect.h>

namespace {

struct ListState
{
    QVector<AudioEndpoints::Endpoint>* endpoints;
    bool failed = false;
};

void appendEndpoint(ListState* state, const char* name, const char* description)
{
    AudioEndpoints::Endpoint endpoint;
    endpoint.id = QString::fromUtf8(name ? name : "");
    endpoint.name = QString::fromUtf8(description ? description : "");
    state->endpoints->append(endpoint);
}

void onSink(pa_context*, const pa_sink_info* info, int eol, void* data)
{
    auto* state = static_cast<ListState*>(data);
    if (eol < 0)
        state->failed = true;
    if (eol || !info)
        return;
    appendEndpoint(state, info->name, info->description);
}

void onSource(pa_context*, const pa_source_info* info, int eol, void* data)
{
    auto* state = static_cast<ListState*>(data);
    if (eol < 0)
        state->failed = true;
    if (eol || !info)
        return;
    if (info->monitor_of_sink != PA_INVALID_INDEX)
        return;
    appendEndpoint(state, info->name, info->description);
}

} // namespace

bool AudioEndpoints::list(Flow flow, QVector<Endpoint>* endpoints, QString* error)
{
    if (!endpoints)
        return false;
    endpoints->clear();
    PulseContext pulse;
    if (!pulse.connect("Quorvel Sonaris endpoints", kServerTimeoutMs)) {
        if (error)
            *error = pulse.errorText();
        return false;
    }
    ListState state{endpoints};
    pa_operation* operation =
        flow == Render ? pa_context_get_sink_info_list(pulse.context(), onSink, &state)
                       : pa_context_get_source_info_list(pulse.context(), onSource, &state);
    if (!pulse.wait(operation, kServerTimeoutMs) || state.failed) {
        if (error)
            *error = pulse.errorText();
        endpoints->clear();
        return false;
    }
    return true;
}
