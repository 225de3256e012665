#pragma once

#include "RDSystemNetwork.h"

#include <QString>

#include <atomic>

// What the channel engine needs of the application object: the network adapter that setting
// "network name" selects and the SIP port of setting "sip port". The application object
// implements it and registers itself for its lifetime; tests register a double.
class RtpEngineHost
{
public:
    static constexpr int kDefaultSipPort = 6832;

    virtual ~RtpEngineHost() = default;

    // The selected adapter, by value; an empty one (empty address) when none can be chosen.
    virtual RDSystemNetwork network() = 0;
    // The SIP stack's local port.
    virtual int sipPort() = 0;

    // The registered host; null before the application object exists and after it is gone.
    static RtpEngineHost* instance();
    // Registers host (null to unregister).
    static void setInstance(RtpEngineHost* host);

    // The adapter when there is a host, else an empty one.
    static RDSystemNetwork currentNetwork();

    // Setting "sip port" read as a decimal port: the default when it is missing, unreadable,
    // 0 or less, or above 65535.
    static int sipPortFromSetting(const QString& text);

private:
    static std::atomic<RtpEngineHost*> s_instance;
};
