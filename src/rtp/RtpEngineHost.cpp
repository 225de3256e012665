#include "RtpEngineHost.h"

std::atomic<RtpEngineHost*> RtpEngineHost::s_instance{nullptr};

RtpEngineHost* RtpEngineHost::instance()
{
    return s_instance.load(std::memory_order_acquire);
}

void RtpEngineHost::setInstance(RtpEngineHost* host)
{
    s_instance.store(host, std::memory_order_release);
}

RDSystemNetwork RtpEngineHost::currentNetwork()
{
    RtpEngineHost* host = instance();
    return host ? host->network() : RDSystemNetwork();
}

int RtpEngineHost::sipPortFromSetting(const QString& text)
{
    bool ok = false;
    const int port = text.trimmed().toInt(&ok, 10);
    return ok && port > 0 && port <= 65535 ? port : kDefaultSipPort;
}
