#pragma once

#include "RDSystemNetwork.h"

#include <QString>

#include <memory>

class RDHttpStreamServer;

// What the channel engine needs of the application object that hosts it. The application
// implements it and registers itself for the time it runs; the engine reaches it only through
// the static calls below, which never hand out a host that has been unregistered.
class RtpEngineHost
{
public:
    static constexpr int kDefaultSipPort = 6832;

    virtual ~RtpEngineHost() = default;

    // The application's HTTP stream server. One object serves the whole run (a restart is
    // stop, configure, start on it), so the host returns it from creation to destruction,
    // running or not. Called from any thread, often (on every packet); it must not block.
    virtual std::shared_ptr<RDHttpStreamServer> httpStreamServer() = 0;
    // The adapter that setting "network name" selects (RDSystemNetwork::select), read on the
    // calling thread; an empty one (empty address) when none can be chosen. It may read the
    // settings, so it is not called where blocking matters.
    virtual RDSystemNetwork network() { return RDSystemNetwork(); }
    // Setting "sip port", read with sipPortFromSetting.
    virtual int sipPort() { return kDefaultSipPort; }

    // Registers the host (null unregisters). Unregistering waits for calls in progress, so
    // the host may be destroyed as soon as this returns.
    static void setInstance(RtpEngineHost* host);
    // The registered host's stream server; null while no host is registered or it has none.
    // The shared pointer keeps the server alive for as long as the caller holds it.
    static std::shared_ptr<RDHttpStreamServer> currentHttpStreamServer();
    // The registered host's adapter and SIP port; an empty adapter and the default port without
    // a host.
    static RDSystemNetwork currentNetwork();
    static int currentSipPort();

    // Setting "sip port" read as a decimal port: the default when it is missing, unreadable,
    // 0 or less, or above 65535.
    static int sipPortFromSetting(const QString& text);
};
