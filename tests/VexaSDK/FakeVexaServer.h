#pragma once

#include "FakeVexaClient.h"
#include "VexaClientRegistry.h"
#include "VexaServer.h"

#include <atomic>
#include <memory>

// A server without a transport: the test plays its listen thread by calling connect, which
// runs the client registry exactly as the P2P and WebSocket servers do for a new connection.
class FakeVexaServer : public VexaServer
{
public:
    FakeVexaServer() : m_registry(*this) {}
    ~FakeVexaServer() override { stop(); }

    bool start() override
    {
        m_running = true;
        return true;
    }
    // As when a listen loop ends: every client stopped, announced as gone and released.
    void stop() override
    {
        m_registry.stopAll();
        m_running = false;
    }
    bool isRunning() const override { return m_running.load(); }
    bool isListening() const override { return m_running.load(); }
    void sendToAll(const char* data, int length) override { m_registry.sendToAll(data, length); }

    // A new connection: the client (made with new) is admitted; null when it did not start.
    std::shared_ptr<FakeVexaClient> connect(FakeVexaClient* client)
    {
        return std::static_pointer_cast<FakeVexaClient>(m_registry.admit(client));
    }
    std::shared_ptr<FakeVexaClient> connect(bool threaded = false)
    {
        return connect(new FakeVexaClient(100000, threaded));
    }

    VexaClientRegistry& registry() { return m_registry; }

private:
    VexaClientRegistry m_registry;
    std::atomic<bool> m_running{false};
};
