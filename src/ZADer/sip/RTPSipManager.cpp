#include "RTPSipManager.h"

#include "RDLog.h"
#include "RTPSipAudioReader.h"
#include "RTPSipCall.h"
#include "RTPSipChannel.h"
#include "RtpEngineHost.h"
#include "RtpInfo.h"

namespace {

// The record whose account addChannel is adding on this thread: createChannel, which
// SipManager::addChannel calls on the same thread, gives it to the new channel before its
// first REGISTER leaves, so no call can find the channel without its record.
thread_local const RtpInfo* t_adding = nullptr;

} // namespace

RTPSipManager::RTPSipManager(RtpManagerQueue* queue) : m_queue(queue) {}

RTPSipManager::~RTPSipManager()
{
    dropWaiting();
    // While this part still exists: the agent's threads call its overrides until they stop.
    SipManager::uninit();
}

bool RTPSipManager::accountFromRecord(const RtpInfo& info, SipAccountInfo* account)
{
    if (info.sip.status == 0 || info.id < 1)
        return false;
    SipAccountInfo made;
    made.id = info.id;
    made.username = info.sip.username.toUtf8().toStdString();
    made.authId = info.sip.authId.toUtf8().toStdString();
    made.password = info.sip.password.toUtf8().toStdString();
    made.server = info.sip.server.toUtf8().toStdString();
    bool ok = false;
    const int expire = info.sip.expire.trimmed().toInt(&ok);
    made.expire = ok && expire >= 1 ? expire : kDefaultExpire;
    const uint port = info.sip.port.trimmed().toUInt(&ok);
    made.serverPort = ok && port > 0 && port <= 65535 ? int(port) : kDefaultServerPort;
    if (account)
        *account = made;
    return true;
}

int RTPSipManager::init(int port, int transport)
{
    return SipManager::init(port, transport);
}

void RTPSipManager::uninit()
{
    dropWaiting();
    SipManager::uninit();
}

int RTPSipManager::restart(int port)
{
    dropWaiting();
    SipManager::uninit();
    return SipManager::init(port, 0);
}

void RTPSipManager::unregisterAll()
{
    dropWaiting();
    SipManager::unregisterAll();
}

int RTPSipManager::port()
{
    return isListening() ? SipManager::port() : 0;
}

bool RTPSipManager::addChannel(const RtpInfo& info)
{
    if (!accountFromRecord(info, nullptr))
        return false;
    // The old account's Expires 0 carries the same Contact as the new REGISTER: sent after it,
    // it would remove the binding just made. So the record waits until the old one is gone.
    {
        std::lock_guard<std::mutex> guard(m_waitingMutex);
        m_waiting[info.id] = info;
    }
    for (const auto& channel : channels()) {
        if (!channel->isId(info.id))
            continue;
        if (channel->state() != SipChannel::Unregistered)
            channel->unregister();
        // Never registered: gone at once; otherwise when its unregistration is answered.
        if (channel->state() == SipChannel::Unregistered)
            SipManager::removeChannel(channel);
    }
    registerWaiting(info.id);
    return true;
}

bool RTPSipManager::registerWaiting(int id)
{
    RtpInfo info;
    {
        std::lock_guard<std::mutex> guard(m_waitingMutex);
        const auto waiting = m_waiting.find(id);
        if (waiting == m_waiting.end())
            return false;
        for (const auto& channel : channels()) {
            if (channel->isId(id) && channel->state() == SipChannel::Unregistering)
                return false;
        }
        info = waiting->second;
        m_waiting.erase(waiting);
    }
    SipAccountInfo account;
    if (!accountFromRecord(info, &account))
        return false;
    t_adding = &info;
    const std::shared_ptr<SipChannel> channel = SipManager::addChannel(account);
    t_adding = nullptr;
    if (!channel)
        return false;
    if (auto own = std::dynamic_pointer_cast<RTPSipChannel>(channel))
        own->setRtpInfo(info);
    return true;
}

void RTPSipManager::dropWaiting()
{
    std::lock_guard<std::mutex> guard(m_waitingMutex);
    m_waiting.clear();
}

void RTPSipManager::onChannelUnregistered(const Channel& channel, const SipAccountInfo& account)
{
    SipManager::onChannelUnregistered(channel, account);
    registerWaiting(account.id);
}

void RTPSipManager::onChannelUnregisterFailed(const Channel& channel, const SipAccountInfo& account)
{
    SipManager::onChannelUnregisterFailed(channel, account);
    registerWaiting(account.id);
}

bool RTPSipManager::removeChannel(const RtpInfo& info)
{
    {
        std::lock_guard<std::mutex> guard(m_waitingMutex);
        m_waiting.erase(info.id);
    }
    std::shared_ptr<SipChannel> channel = channelById(info.id);
    if (!channel)
        return false;
    if (channel->state() != SipChannel::Unregistered)
        channel->unregister();
    // The agent drops the channel when its unregistration is answered; one that had no
    // registration to end is unregistered already and leaves now.
    if (channel->state() == SipChannel::Unregistered)
        SipManager::removeChannel(channel);
    return true;
}

int RTPSipManager::channelState(int id)
{
    const std::shared_ptr<SipChannel> channel = channelById(id);
    return channel ? channel->state() : 0;
}

QString RTPSipManager::statusText(int id)
{
    return SipChannel::statusText(channelState(id));
}

int RTPSipManager::findCallSource(const RtpInfo& info, std::shared_ptr<RTPAudioReader>* source)
{
    if (source)
        source->reset();
    const std::shared_ptr<SipChannel> channel = channelById(info.id);
    if (!channel)
        return -1;
    const auto calls = channel->calls();
    if (calls.empty())
        return -1;
    // A channel plays its first call (a second caller is refused busy).
    const std::shared_ptr<SipDevice> media = calls.front()->device();
    auto* reader = dynamic_cast<RTPSipAudioReader*>(media.get());
    // Shares the call's ownership of its media, which the reader is.
    if (reader && source)
        *source = std::shared_ptr<RTPAudioReader>(media, reader);
    return 0;
}

void RTPSipManager::endCalls(const RtpInfo& info)
{
    for (const auto& channel : channels()) {
        if (!channel->isId(info.id))
            continue;
        // The channel has stopped the source already: the calls' end must not stop it again.
        for (const auto& call : channel->calls()) {
            if (auto* source = dynamic_cast<RTPSipAudioReader*>(call->device().get()))
                source->forgetStart();
        }
        channel->terminateAllCalls();
    }
}

std::shared_ptr<SipChannel> RTPSipManager::createChannel(const SipAccountInfo& account)
{
    auto channel = std::make_shared<RTPSipChannel>();
    channel->setQueue(m_queue);
    if (t_adding && t_adding->id == account.id)
        channel->setRtpInfo(*t_adding);
    return channel;
}

void RTPSipManager::onCallIncoming(const Channel& channel, const Call& call)
{
    if (!channel || !call)
        return;
    const auto own = std::dynamic_pointer_cast<RTPSipChannel>(channel);
    const RtpInfo info = own ? own->rtpInfo() : RtpInfo();
    // Calls to the agent's own address that name no channel land on the local-loop channel:
    // there is no channel to play them on.
    if (info.id < 1) {
        RDLOG("call(%d) names no channel: refused with 404", call->cid.load());
        call->reject(404);
        return;
    }
    // The channel has refused calls it cannot play (488) and a second caller (486) already.
    call->ring();
    call->answer();
}

std::string RTPSipManager::adapterAddress()
{
    return RtpEngineHost::currentNetwork().ip().toStdString();
}
