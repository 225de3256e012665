#include "SipTestManager.h"

#include "RDThread.h"
#include "SipTestChannel.h"

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
    std::lock_guard<std::mutex> guard(m_mutex);
    auto sink = [this](const std::shared_ptr<SipTestDevice>& device) {
        std::lock_guard<std::mutex> devices(m_mutex);
        m_devices.push_back(device);
    };
    auto channel = std::make_shared<SipTestChannel>(sink, m_audioTimeout, m_videoTimeout);
    if (m_clock)
        channel->setClock(m_clock);
    return channel;
}

void SipTestManager::setCallMode(CallMode mode)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    m_callMode = mode;
}

void SipTestManager::setDataTimeouts(double audio, double video)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    m_audioTimeout = audio;
    m_videoTimeout = video;
}

std::vector<std::shared_ptr<SipTestDevice>> SipTestManager::devices() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_devices;
}

std::vector<std::shared_ptr<SipCall>> SipTestManager::incomingCalls() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_incoming;
}

std::vector<std::string> SipTestManager::callHistory(int cid) const
{
    static const char* const kCallRecords[] = {"incoming", "started", "ack",     "stopped", "closed",       "cancelled",
                                               "released", "removed", "reinvite", "call message", "dtmf"};
    std::lock_guard<std::mutex> guard(m_mutex);
    std::vector<std::string> history;
    for (const Record& record : m_records) {
        if (record.id != cid)
            continue;
        for (const char* what : kCallRecords) {
            if (record.what == what)
                history.push_back(record.what);
        }
    }
    return history;
}

void SipTestManager::onCallIncoming(const Channel&, const Call& call)
{
    CallMode mode;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_incoming.push_back(call);
        mode = m_callMode;
    }
    add("incoming", call->cid);
    if (mode == CallMode::Ignore)
        return;
    call->ring();
    if (mode == CallMode::Answer)
        call->answer();
}

void SipTestManager::onCallStarted(const Channel&, const Call& call)
{
    add("started", call->cid);
}

void SipTestManager::onCallAck(const Channel&, const Call& call)
{
    add("ack", call->cid);
}

void SipTestManager::onCallStopped(const Channel&, const Call& call)
{
    add("stopped", call->cid);
}

void SipTestManager::onCallClosed(const Channel&, const Call& call)
{
    add("closed", call->cid);
}

void SipTestManager::onCallCancelled(const Channel&, const Call& call)
{
    add("cancelled", call->cid);
}

void SipTestManager::onCallReleased(const Channel&, const Call& call)
{
    add("released", call->cid);
}

void SipTestManager::onCallRemoved(const Channel&, const Call& call)
{
    add("removed", call->cid);
}

void SipTestManager::onCallReinvite(const Channel&, const Call& call)
{
    add("reinvite", call->cid);
}

void SipTestManager::onCallMessageNew(const Channel&, const Call& call, const SipMessageInfo& info)
{
    add("call message", call->cid, info.method);
}

void SipTestManager::onCallDtmf(const Channel&, const Call& call, const SipTelephoneEvent& event)
{
    add("dtmf", call->cid, std::to_string(event.eventId) + "/" + std::to_string(event.end));
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
