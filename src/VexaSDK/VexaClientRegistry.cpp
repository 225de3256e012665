#include "VexaClientRegistry.h"

#include "RDLog.h"
#include "VexaClient.h"
#include "VexaServer.h"

VexaClientRegistry::VexaClientRegistry(VexaServer& server)
    : m_server(server)
{
}

VexaClientRegistry::~VexaClientRegistry()
{
    stopAll();
}

std::shared_ptr<VexaClient> VexaClientRegistry::admit(VexaClient* client)
{
    purgeDisconnected();
    if (!client)
        return nullptr;
    client->setObserver(this);
    client->makeShared();
    std::shared_ptr<VexaClient> shared = client->sharedSelf();
    if (!client->start()) {
        RDLOG("a remote client did not start; it is released");
        client->stop();
        client->resetShared();
        return nullptr;
    }
    {
        std::lock_guard<std::mutex> lock(m_clientLock);
        m_clients.push_back(client);
    }
    m_server.notifyConnected(shared);
    return shared;
}

std::vector<std::shared_ptr<VexaClient>> VexaClientRegistry::unlink(bool all)
{
    std::vector<std::shared_ptr<VexaClient>> unlinked;
    std::lock_guard<std::mutex> lock(m_clientLock);
    auto keep = m_clients.begin();
    for (VexaClient* client : m_clients) {
        if (client && (all || !client->isConnected()))
            unlinked.push_back(client->sharedSelf());
        else if (client)
            *keep++ = client;
    }
    m_clients.erase(keep, m_clients.end());
    return unlinked;
}

void VexaClientRegistry::retire(std::vector<std::shared_ptr<VexaClient>>& clients)
{
    for (std::shared_ptr<VexaClient>& client : clients) {
        if (!client)
            continue;
        client->stop();
        m_server.notifyDisconnected(client);
        client->resetShared();
        // The last owner may be this copy: the client goes here unless the channel engine
        // still holds it.
        client.reset();
    }
}

int VexaClientRegistry::purgeDisconnected()
{
    std::vector<std::shared_ptr<VexaClient>> dead = unlink(false);
    const int purged = static_cast<int>(dead.size());
    retire(dead);
    return purged;
}

void VexaClientRegistry::stopAll()
{
    std::vector<std::shared_ptr<VexaClient>> all = unlink(true);
    retire(all);
}

int VexaClientRegistry::sendToAll(const char* data, int length)
{
    // With authentication on, an app that never logged in would otherwise hear every channel
    // start and stop; read once, so one message goes to one set of clients.
    const bool loggedInOnly = m_server.isAuthEnabled() != 0;
    int sent = 0;
    std::lock_guard<std::mutex> lock(m_clientLock);
    for (VexaClient* client : m_clients) {
        if (!client || (loggedInOnly && !client->isAuthorized()))
            continue;
        if (client->send(data, length) >= 0)
            ++sent;
    }
    return sent;
}

int VexaClientRegistry::count() const
{
    std::lock_guard<std::mutex> lock(m_clientLock);
    return static_cast<int>(m_clients.size());
}

std::vector<std::shared_ptr<VexaClient>> VexaClientRegistry::clients() const
{
    std::vector<std::shared_ptr<VexaClient>> listed;
    std::lock_guard<std::mutex> lock(m_clientLock);
    for (VexaClient* client : m_clients)
        listed.push_back(client->sharedSelf());
    return listed;
}

void VexaClientRegistry::onData(const std::shared_ptr<VexaClient>& client, VexaBuffer& buffer)
{
    m_server.notifyData(client, buffer);
}
