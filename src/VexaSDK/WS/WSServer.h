#pragma once

#include "RDSocketAddress.h"
#include "VexaClientRegistry.h"
#include "VexaServer.h"
#include "WSClient.h"

#include <atomic>
#include <memory>
#include <mutex>

class RDFunctionThread;
class RDTcpSocketServer;
class RDThread;

// The WebSocket server of the remote apps: it listens on its address, turns each accepted
// connection into a WSClient and keeps them in the shared client registry, which hands their
// messages to this server's observers.
//
// start opens the listening socket on the calling thread, so its result says whether the
// server is up, then runs the accept loop on its own thread ("WSServer Listen"); stop ends the
// loop and stops every client. Both run on the owner's thread (the GUI thread), never at the
// same time. sendToAll may be called from any thread.
class WSServer : public VexaServer
{
public:
    // Connections served at once; one more is closed as soon as it is accepted. Each client
    // costs two threads and its queues. A client that only holds its slot loses it after the
    // waits of WSClient::Timeouts (with authentication on, the login one counts too).
    static constexpr int kMaxClients = 64;

    // timeouts: how long each client waits on its app (tests shorten them).
    explicit WSServer(const WSClient::Timeouts& timeouts = WSClient::Timeouts());
    ~WSServer() override;

    // Stops a running server, then listens on address(): true when listening.
    bool start() override;
    void stop() override;
    // True from a successful start until stop.
    bool isRunning() const override;
    bool isListening() const override;
    void sendToAll(const char* data, int length) override;

    const RDSocketAddress& address() const { return m_address; }
    void setAddress(const RDSocketAddress& address) { m_address = address; }
    // The port listened on (the chosen one when the address asked for port 0); 0 when not
    // listening.
    int listeningPort() const { return m_listeningPort.load(); }
    // Clients listed now (dead ones stay until the next connection or stop).
    int clientCount() const { return m_registry.count(); }
    // Connections refused because kMaxClients were served.
    int refusedCount() const { return m_refused.load(); }
    // Every client goes by the new waits from its next wake on (within seconds), also the ones
    // connected already. Any thread.
    void setTimeouts(const WSClient::Timeouts& timeouts);
    WSClient::Timeouts timeouts() const;

private:
    void run(RDThread* thread);
    void acceptOne();

    mutable std::mutex m_timeoutsLock;
    WSClient::Timeouts m_timeouts;
    RDSocketAddress m_address;
    std::unique_ptr<RDTcpSocketServer> m_listenSocket;
    std::atomic<int> m_listeningPort{0};
    std::atomic<int> m_refused{0};
    VexaClientRegistry m_registry;
    std::unique_ptr<RDFunctionThread> m_listenThread;
};
