#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

class VexaBuffer;
class VexaClient;
class VexaServerObserver;

// A remote-access server (P2P or WebSocket): it owns its connected clients (a
// VexaClientRegistry) and reports their arrival, departure and messages to its observers, and
// it keeps the credentials that ZvAPI checks a login against.
//
// Locks: observers run with the observer lock held, so the messages of all clients of one
// server are handled one after another. The registry's client lock is never held while
// observers run or clients stop (it only guards the list), and the auth lock guards the three
// credential fields alone, so none of the three waits for another.
class VexaServer
{
public:
    VexaServer() = default;
    VexaServer(const VexaServer&) = delete;
    VexaServer& operator=(const VexaServer&) = delete;
    virtual ~VexaServer() = default;

    virtual bool start() = 0;
    virtual void stop() = 0;
    virtual bool isRunning() const = 0;
    virtual bool isListening() const = 0;
    // Queues one message to every listed client, in order of arrival; while authentication is
    // on, only to those that have logged in.
    virtual void sendToAll(const char* data, int length) = 0;

    // Appended, no duplicate check; there is no removal (observers outlive the server).
    void addObserver(VexaServerObserver* observer);

    // The password is the lower-case hex MD5 text of the real one; it is never logged.
    void setAuth(int enable, const std::string& username, const std::string& password);
    // Both texts equal the stored ones byte for byte; whether auth is on is not looked at.
    bool checkAuth(const std::string& username, const std::string& password) const;
    int isAuthEnabled() const;

    // Call every observer in the order added, under the observer lock.
    void notifyConnected(const std::shared_ptr<VexaClient>& client);
    void notifyDisconnected(const std::shared_ptr<VexaClient>& client);
    void notifyData(const std::shared_ptr<VexaClient>& client, VexaBuffer& buffer);

private:
    template <typename Call>
    void forEachObserver(Call call);

    std::mutex m_observerLock;
    std::vector<VexaServerObserver*> m_observers;

    mutable std::mutex m_authLock;
    int m_authEnable = 0;
    std::string m_username;
    std::string m_password;
};
