#include "RtpEngineHost.h"

#include "RDDecimal.h"

#include <mutex>

namespace {

// Two locks, so that a slow settings read never holds up the stream server's callers (the send
// loops, on every packet). Registration takes both.
std::mutex g_hostMutex;
std::mutex g_settingsMutex;
RtpEngineHost* g_host = nullptr;

} // namespace

void RtpEngineHost::setInstance(RtpEngineHost* host)
{
    std::scoped_lock lock(g_settingsMutex, g_hostMutex);
    g_host = host;
}

std::shared_ptr<RDHttpStreamServer> RtpEngineHost::currentHttpStreamServer()
{
    std::lock_guard<std::mutex> lock(g_hostMutex);
    return g_host ? g_host->httpStreamServer() : nullptr;
}

RDSystemNetwork RtpEngineHost::currentNetwork()
{
    std::lock_guard<std::mutex> lock(g_settingsMutex);
    return g_host ? g_host->network() : RDSystemNetwork();
}

int RtpEngineHost::currentSipPort()
{
    std::lock_guard<std::mutex> lock(g_settingsMutex);
    return g_host ? g_host->sipPort() : kDefaultSipPort;
}

int RtpEngineHost::sipPortFromSetting(const QString& text)
{
    const int port = parsePort(text.trimmed().toStdString());
    return port > 0 ? port : kDefaultSipPort;
}
