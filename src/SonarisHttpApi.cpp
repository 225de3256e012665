#include "SonarisHttpApi.h"

#include "RDDecimal.h"
#include "RDHttpRequest.h"
#include "RDString.h"
#include "RtpInfo.h"
#include "RtpManager.h"

#include <climits>

namespace {

std::string failure(int code, const char* error)
{
    return "{\"result\":" + std::to_string(code) + ",\"error\":\"" + error + "\"}";
}

std::string value(const std::map<std::string, std::string>& query, const char* key)
{
    const auto it = query.find(key);
    return it == query.end() ? std::string() : it->second;
}

} // namespace

bool SonarisHttpApi::handles(const std::string& path)
{
    return path == "/api";
}

std::string SonarisHttpApi::answer(RtpManagerControl& control, const std::string& query)
{
    const std::map<std::string, std::string> items = parseUrlQuery(query);
    // The whole value must be the number: "1abc", "+1", "1.0" or " 1" name no channel.
    const int id = decimalOr(value(items, "id"), 1, INT_MAX, 0);
    const std::string action = value(items, "action");

    RtpInfo info;
    if (id > 0)
        control.getRtpInfo(id, info);
    if (!info.isValid())
        return failure(-1, "invalid id");
    if (!info.httpApi)
        return failure(-1, "rtp http api not enabled");

    const bool running = info.startedSource != 0;
    if (compareIgnoreCase(action, "start") == 0) {
        if (running)
            return failure(-1, "rtp has been started");
        const int result = control.startRtpInfo(info, info.source, RtpInfo::kTriggerHttp);
        // The manager's own code, so that a caller can tell a failed start from a started one.
        if (result < 0)
            return failure(result, "rtp start failed");
        return "{\"result\":0}";
    }
    if (compareIgnoreCase(action, "stop") == 0) {
        if (!running)
            return failure(-1, "rtp not started");
        control.stopRtpInfo(info, RtpInfo::kSourceAll, RtpInfo::kTriggerHttp);
        return "{\"result\":0}";
    }
    return failure(-1, "invalid action");
}
