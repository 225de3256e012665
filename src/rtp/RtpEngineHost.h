#pragma once

#include <memory>

class RDHttpStreamServer;

// What the channel engine needs of the application object that hosts it. The application
// implements it and registers itself for the time it runs; the engine reaches it only through
// the static calls below, which never hand out a host that has been unregistered.
class RtpEngineHost
{
public:
    virtual ~RtpEngineHost() = default;

    // The application's HTTP stream server. One object serves the whole run (a restart is
    // stop, configure, start on it), so the host returns it from creation to destruction,
    // running or not. Called from any thread, often (on every packet); it must not block.
    virtual std::shared_ptr<RDHttpStreamServer> httpStreamServer() = 0;

    // Registers the host (null unregisters). Unregistering waits for calls in progress, so
    // the host may be destroyed as soon as this returns.
    static void setInstance(RtpEngineHost* host);
    // The registered host's stream server; null while no host is registered or it has none.
    // The shared pointer keeps the server alive for as long as the caller holds it.
    static std::shared_ptr<RDHttpStreamServer> currentHttpStreamServer();
};
