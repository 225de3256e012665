#include "VexaServer.h"

#include "VexaServerObserver.h"

void VexaServer::addObserver(VexaServerObserver* observer)
{
    std::lock_guard<std::mutex> lock(m_observerLock);
    m_observers.push_back(observer);
}

void VexaServer::setAuth(int enable, const std::string& username, const std::string& password)
{
    std::lock_guard<std::mutex> lock(m_authLock);
    m_authEnable = enable;
    m_username = username;
    m_password = password;
}

bool VexaServer::checkAuth(const std::string& username, const std::string& password) const
{
    std::lock_guard<std::mutex> lock(m_authLock);
    return username == m_username && password == m_password;
}

int VexaServer::isAuthEnabled() const
{
    std::lock_guard<std::mutex> lock(m_authLock);
    return m_authEnable;
}

template <typename Call>
void VexaServer::forEachObserver(Call call)
{
    std::lock_guard<std::mutex> lock(m_observerLock);
    for (VexaServerObserver* observer : m_observers) {
        if (observer)
            call(observer);
    }
}

void VexaServer::notifyConnected(const std::shared_ptr<VexaClient>& client)
{
    forEachObserver([&](VexaServerObserver* observer) { observer->onClientConnected(this, client); });
}

void VexaServer::notifyDisconnected(const std::shared_ptr<VexaClient>& client)
{
    forEachObserver([&](VexaServerObserver* observer) { observer->onClientDisconnected(this, client); });
}

void VexaServer::notifyData(const std::shared_ptr<VexaClient>& client, VexaBuffer& buffer)
{
    forEachObserver([&](VexaServerObserver* observer) { observer->onClientData(this, client, buffer); });
}
