#pragma once

#include "VexaClientObserver.h"

#include <memory>
#include <mutex>
#include <vector>

class VexaClient;
class VexaServer;

// The connected clients of one server, shared by the P2P and the WebSocket server. It is every
// client's observer and hands each message on to the server's observers.
//
// Run on the server's listen thread: admit for each new connection (which purges the dead
// first), stopAll when the listen loop ends. sendToAll and count may be called from any thread.
//
// Lock order: the client lock is taken alone, or before a client's own queue locks (sendToAll
// only queues). Clients are unlinked under it and then stopped, announced and released after it
// is let go: a read thread that handles a message under the server's observer lock may be
// waiting for sendToAll, and stop waits for that read thread.
class VexaClientRegistry : public VexaClientObserver
{
public:
    explicit VexaClientRegistry(VexaServer& server);
    ~VexaClientRegistry() override;
    VexaClientRegistry(const VexaClientRegistry&) = delete;
    VexaClientRegistry& operator=(const VexaClientRegistry&) = delete;

    // A new connection's client, made with new by the server: after purging the dead, it is
    // given this observer, made shared and started. A client that starts is listed (in order of
    // arrival) and announced, and its shared pointer returned; one that does not is stopped and
    // released at once, never listed nor announced, and null is returned.
    std::shared_ptr<VexaClient> admit(VexaClient* client);
    // Stops, announces as gone and releases every listed client that is no longer connected:
    // the number purged.
    int purgeDisconnected();
    // The same for every listed client.
    void stopAll();

    // send (data, length) to every listed client, or, while the server's authentication is on,
    // to every listed client that has logged in: the number of clients it was queued to.
    int sendToAll(const char* data, int length);
    int count() const;
    // The listed clients, in order of arrival.
    std::vector<std::shared_ptr<VexaClient>> clients() const;

    // VexaClientObserver: a client's message, to the server's observers.
    void onData(const std::shared_ptr<VexaClient>& client, VexaBuffer& buffer) override;

private:
    // Unlinks the clients that match (all of them, or the disconnected ones) under the lock
    // and returns them held by shared pointer.
    std::vector<std::shared_ptr<VexaClient>> unlink(bool all);
    // Stop, announce, release: with no lock held.
    void retire(std::vector<std::shared_ptr<VexaClient>>& clients);

    VexaServer& m_server;
    mutable std::mutex m_clientLock;
    // Raw: each client's lifetime is its own `self`, which only this registry releases, and
    // only after unlinking it.
    std::vector<VexaClient*> m_clients;
};
