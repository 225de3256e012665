#include "SipTestManager.h"

#include "RDThread.h"

#include <chrono>

SipTestManager::~SipTestManager()
{
    // Stops the threads while the overrides above still exist.
    uninit();
}

void SipTestManager::setClock(SipChannel::Clock clock)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    m_clock = std::move(clock);
}

void SipTestManager::setAdapterAddress(const std::string& address)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    m_haveAdapter = true;
    m_adapter = address;
}

std::string SipTestManager::adapterAddress()
{
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        if (m_haveAdapter)
            return m_adapter;
    }
    return SipManager::adapterAddress();
}

std::shared_ptr<SipChannel> SipTestManager::createChannel(const SipAccountInfo&)
{
    auto channel = std::make_shared<SipChannel>();
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_clock)
        channel->setClock(m_clock);
    return channel;
}

void SipTestManager::add(const std::string& what, int id, const std::string& detail)
{
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_records.push_back({what, id, detail});
    }
    m_changed.notify_all();
}

void SipTestManager::onChannelRegistered(const Channel&, const SipAccountInfo& account)
{
    add("registered", account.id);
}

void SipTestManager::onChannelRegisterFailed(const Channel&, const SipAccountInfo& account)
{
    add("register failed", account.id);
}

void SipTestManager::onChannelUnregistered(const Channel&, const SipAccountInfo& account)
{
    add("unregistered", account.id);
}

void SipTestManager::onChannelUnregisterFailed(const Channel&, const SipAccountInfo& account)
{
    add("unregister failed", account.id);
}

void SipTestManager::onMessageNew(const SipMessageInfo& info)
{
    add("message", 0, info.method);
}

std::vector<SipTestManager::Record> SipTestManager::records() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_records;
}

int SipTestManager::count(const std::string& what, int id) const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    int n = 0;
    for (const Record& record : m_records)
        n += record.what == what && (id < 0 || record.id == id);
    return n;
}

bool SipTestManager::waitFor(const std::string& what, int n, int timeoutMs, int id) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        int seen = 0;
        for (const Record& record : m_records)
            seen += record.what == what && (id < 0 || record.id == id);
        return seen >= n;
    });
}

bool SipTestManager::waitState(const std::shared_ptr<SipChannel>& channel, int state, int timeoutMs)
{
    const double deadline = RDThread::tickTime() + timeoutMs / 1000.0;
    while (channel->state() != state) {
        if (RDThread::tickTime() >= deadline)
            return false;
        RDThread::msleep(5);
    }
    return true;
}

SipAccountInfo SipTestManager::account(int id, const std::string& server, int port, const std::string& username,
                                       const std::string& password)
{
    SipAccountInfo info;
    info.id = id;
    info.username = username;
    info.server = server;
    info.serverPort = port;
    info.password = password;
    info.expire = 60;
    return info;
}
