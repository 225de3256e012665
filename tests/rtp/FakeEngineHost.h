#pragma once

#include "RDHttpStreamServer.h"
#include "RtpEngineHost.h"

#include <memory>
#include <mutex>

// The application's part for engine tests: hands out the stream server the test sets (or none)
// and is registered for its lifetime.
class FakeEngineHost : public RtpEngineHost
{
public:
    FakeEngineHost() { RtpEngineHost::setInstance(this); }
    ~FakeEngineHost() override { RtpEngineHost::setInstance(nullptr); }
    FakeEngineHost(const FakeEngineHost&) = delete;
    FakeEngineHost& operator=(const FakeEngineHost&) = delete;

    std::shared_ptr<RDHttpStreamServer> httpStreamServer() override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_server;
    }
    void setServer(std::shared_ptr<RDHttpStreamServer> server)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_server = std::move(server);
    }

private:
    std::mutex m_mutex;
    std::shared_ptr<RDHttpStreamServer> m_server;
};
