#include "RtpEngineHost.h"

#include <mutex>

namespace {

std::mutex g_hostMutex;
RtpEngineHost* g_host = nullptr;

} // namespace

void RtpEngineHost::setInstance(RtpEngineHost* host)
{
    std::lock_guard<std::mutex> lock(g_hostMutex);
    g_host = host;
}

std::shared_ptr<RDHttpStreamServer> RtpEngineHost::currentHttpStreamServer()
{
    std::lock_guard<std::mutex> lock(g_hostMutex);
    return g_host ? g_host->httpStreamServer() : nullptr;
}
