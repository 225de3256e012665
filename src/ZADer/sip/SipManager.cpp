#include "SipManager.h"

#include "RDLog.h"
#include "RDString.h"
#include "RDSystemNetwork.h"
#include "RDThread.h"
#include "RtpPortManager.h"
#include "SipCall.h"
#include "SipChannel.h"
#include "SipChannelEventThread.h"
#include "SipManagerEventThread.h"
#include "SipStack.h"
#include "SipStackLock.h"

#include <osipparser2/osip_parser.h>

#include <algorithm>
#include <cstdio>
#include <netinet/in.h>

namespace {

constexpr const char* kLoopback = "127.0.0.1";

// The events of a call after its INVITE (routed to the call's channel), and the events of
// requests outside a dialog.
bool isCallEvent(int type)
{
    return type >= SipStackEvent::CallReinvite && type <= SipStackEvent::CallReleased;
}

bool isMessageEvent(int type)
{
    return type >= SipStackEvent::MessageNew && type <= SipStackEvent::MessageGlobalFailure;
}

} // namespace

SipManager::SipManager() = default;

SipManager::~SipManager()
{
    // An owner that forgot uninit must not leave threads running on a freed manager.
    uninit();
}

std::shared_ptr<SipChannel> SipManager::createChannel(const SipAccountInfo&)
{
    return std::make_shared<SipChannel>();
}

std::string SipManager::adapterAddress()
{
    return RDSystemNetwork::select(QString()).ip().toStdString();
}

std::string SipManager::chooseLocalIp(const std::string& guessed, const std::string& adapter)
{
    if (!guessed.empty())
        return guessed;
    if (!adapter.empty())
        return adapter;
    return kLoopback;
}

std::string SipManager::resolveLocalIp()
{
    char guessed[256] = {};
    if (SipStack::guessLocalIp(guessed, sizeof(guessed)) != 0)
        guessed[0] = '\0';
    std::string adapter;
    if (!guessed[0])
        adapter = adapterAddress();
    return chooseLocalIp(guessed, adapter);
}

void SipManager::setLocalIp(const std::string& ip)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    m_localIp = ip;
    m_fixedLocalIp = !ip.empty();
}

void SipManager::setT1(int ms)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    m_t1 = ms;
}

void SipManager::setKeepaliveInterval(double seconds)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    m_keepaliveInterval = seconds;
}

int SipManager::init(int port, int transport)
{
    // Start-up in steps: a listening stack on a port (searched when none is given), set up
    // for this machine's address, then wired into the manager with its threads. The stack is
    // quit and freed on every early return.
    std::lock_guard<std::mutex> life(m_lifeMutex);
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        if (m_stack) {
            RDLOG("SIP agent already listens on port %d", m_port);
            return -1;
        }
    }
    SipStackPtr stack = SipStack::create();
    if (!stack)
        return -1;
    if (port < 1)
        port = searchPort(transport);
    if (port < 1) {
        RDLOG("no free SIP port from %d", kFirstSearchPort);
        return -1;
    }
    const int listened = listen(*stack, port, transport);
    if (listened != 0)
        return listened;
    const std::string localIp = configureStack(*stack, port);
    adoptStack(std::move(stack), port, transport, localIp);
    return 0;
}

int SipManager::searchPort(int transport)
{
    for (int candidate = kFirstSearchPort; candidate < 65536; ++candidate) {
        const bool free = transport == Udp ? RtpPortManager::isUdpPortFree(candidate)
                                           : RtpPortManager::isTcpPortFree(candidate);
        if (free)
            return candidate;
    }
    return -1;
}

int SipManager::listen(SipStack& stack, int port, int transport)
{
    int protocol = 0;
    switch (transport) {
    case Udp:
        protocol = IPPROTO_UDP;
        break;
    case Tcp:
    case Tls:
        protocol = IPPROTO_TCP;
        break;
    default:
        RDLOG("unknown SIP transport %d", transport);
        return -1;
    }
    const int listened = stack.listen(protocol, port);
    if (listened != 0)
        RDLOG("SIP agent cannot listen on port %d (transport %d): error %d", port, transport, listened);
    return listened;
}

std::string SipManager::configureStack(SipStack& stack, int port)
{
    std::string localIp;
    int t1 = 0;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        localIp = m_localIp;
        t1 = m_t1;
        if (!m_fixedLocalIp)
            localIp.clear();
    }
    // Guessed anew on every start: the machine's address may have changed since the last one.
    if (localIp.empty())
        localIp = resolveLocalIp();
    if (t1 > 0)
        stack.setT1(t1);
    if (stack.addAccountInfo(localIp.c_str(), localIp.c_str(), port) == 0)
        RDLOG("set local loop account info to %s:%d %s", localIp.c_str(), port, localIp.c_str());
    stack.setUserAgent(kUserAgent);
    return localIp;
}

void SipManager::adoptStack(SipStackPtr stack, int port, int transport, const std::string& localIp)
{
    SipAccountInfo loopAccount;
    loopAccount.id = 0;
    loopAccount.server = localIp;
    loopAccount.serverPort = port;
    std::shared_ptr<SipChannel> loop = createChannel(loopAccount);

    double interval = kKeepaliveInterval;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        interval = m_keepaliveInterval;
    }
    auto* commandThread = new SipChannelEventThread();
    auto* eventThread = new SipManagerEventThread(this, stack.get(), interval);
    std::vector<std::shared_ptr<SipChannel>> adopted;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_stack = std::move(stack);
        m_port = port;
        m_transport = transport;
        m_localIp = localIp;
        m_commandThread = commandThread;
        m_eventThread = eventThread;
        if (loop) {
            wire(loop, 0, false);
            loop->setCommandThread(commandThread);
        }
        m_localLoopChannel = loop;
        // Channels added while there was no stack: they failed to register and now retry on
        // this one after their back-off.
        for (const auto& channel : m_channels) {
            wire(channel, channel->id(), true);
            adopted.push_back(channel);
        }
    }
    m_running = true;
    eventThread->start();
    commandThread->start();
    if (!adopted.empty())
        RDLOG("%d SIP channels take the new stack", static_cast<int>(adopted.size()));
}

void SipManager::wire(const std::shared_ptr<SipChannel>& channel, int id, bool withCommandThread)
{
    channel->setSelf(channel);
    channel->setId(id);
    channel->setContext(m_stack.get());
    channel->setTransport(m_transport);
    channel->setLocalIp(m_localIp);
    channel->setLocalPort(m_port);
    if (withCommandThread)
        channel->setCommandThread(m_commandThread);
    channel->setObserver(this);
    m_wired.erase(std::remove_if(m_wired.begin(), m_wired.end(),
                                 [](const std::weak_ptr<SipChannel>& entry) { return entry.expired(); }),
                  m_wired.end());
    m_wired.push_back(channel);
}

void SipManager::uninit()
{
    std::lock_guard<std::mutex> life(m_lifeMutex);
    m_running = false;
    SipStack* stack = currentStack();
    if (!stack)
        return;

    // Calls end first: their media stop and their dialogs get their BYE or final answer.
    for (const auto& channel : channels())
        channel->terminateAllCalls();
    if (auto loop = localLoopChannel())
        loop->terminateAllCalls();

    // Channels unregistering get a moment for their answer while the event thread still runs.
    const double deadline = RDThread::tickTime() + kUnregisterWait;
    for (;;) {
        const auto listed = channels();
        const bool waiting = std::any_of(listed.begin(), listed.end(), [](const std::shared_ptr<SipChannel>& c) {
            return c->state() == SipChannel::Unregistering;
        });
        if (!waiting || RDThread::tickTime() >= deadline)
            break;
        RDThread::msleep(20);
    }

    SipChannelEventThread* commandThread = nullptr;
    SipManagerEventThread* eventThread = nullptr;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        commandThread = m_commandThread;
        eventThread = m_eventThread;
    }
    commandThread->stop();
    commandThread->wait();
    eventThread->stop();
    eventThread->wait();

    std::vector<std::shared_ptr<SipChannel>> detached;
    SipStackPtr owned;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_channels.clear();
        m_localLoopChannel.reset();
        for (const auto& entry : m_wired) {
            if (auto channel = entry.lock())
                detached.push_back(channel);
        }
        m_wired.clear();
        owned = std::move(m_stack);
        m_commandThread = nullptr;
        m_eventThread = nullptr;
    }
    // After this no channel reaches the stack or the threads, whoever still holds it.
    for (const auto& channel : detached)
        channel->detach();
    detached.clear();
    delete commandThread;
    delete eventThread;
    owned.reset();
}

std::shared_ptr<SipChannel> SipManager::addChannel(const SipAccountInfo& account)
{
    std::shared_ptr<SipChannel> channel = createChannel(account);
    if (!channel)
        return nullptr;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        wire(channel, account.id, true);
        // Listed before its first REGISTER leaves, so that the answer always finds it.
        m_channels.push_back(channel);
    }
    channel->registerServer(account);
    return channel;
}

void SipManager::removeChannel(const std::shared_ptr<SipChannel>& channel)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    m_channels.erase(std::remove(m_channels.begin(), m_channels.end(), channel), m_channels.end());
}

std::shared_ptr<SipChannel> SipManager::channelById(int id)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    for (const auto& channel : m_channels) {
        if (channel->isId(id))
            return channel;
    }
    return nullptr;
}

std::shared_ptr<SipChannel> SipManager::channelByRegisterId(int registerId)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    for (const auto& channel : m_channels) {
        if (channel->registerId() == registerId)
            return channel;
    }
    return nullptr;
}

std::shared_ptr<SipCall> SipManager::callByCallId(int cid)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    for (const auto& channel : m_channels) {
        if (auto call = channel->callById(cid))
            return call;
    }
    return m_localLoopChannel ? m_localLoopChannel->callById(cid) : nullptr;
}

std::shared_ptr<SipChannel> SipManager::findInviteChannelByUri(const std::string& host, int port,
                                                               const std::string& user, bool byAuthId)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    for (const auto& channel : m_channels) {
        if (byAuthId ? channel->matchServerAuthId(host, port, user) : channel->matchServerUsername(host, port, user))
            return channel;
    }
    return nullptr;
}

std::shared_ptr<SipChannel> SipManager::findInviteChannel(SipStackEvent* event)
{
    if (!event || !event->request)
        return nullptr;
    osip_message_t* request = event->request;

    bool haveUri = false;
    std::string uriHost, uriUser;
    int uriPort = SipNameAddr::kDefaultPort;
    if (const osip_uri_t* uri = request->req_uri) {
        haveUri = uri->host && uri->username;
        uriHost = stringFromCStr(uri->host);
        uriUser = stringFromCStr(uri->username);
        uriPort = SipNameAddr::portOf(uri->port);
    }
    const bool haveToUser = request->to && request->to->url && request->to->url->username;
    const std::string toUser = haveToUser ? request->to->url->username : std::string();

    // The first Via of the response: the hop the INVITE came from. No response or no Via: no
    // Via host, and the steps that need one are skipped.
    bool haveVia = false;
    std::string viaHost;
    int viaPort = SipNameAddr::kDefaultPort;
    if (event->response) {
        auto* via = static_cast<osip_via_t*>(osip_list_get(&event->response->vias, 0));
        if (via && via->host) {
            haveVia = true;
            viaHost = via->host;
            viaPort = SipNameAddr::portOf(via->port);
        }
    }

    if (haveUri && !uriUser.empty()) {
        if (auto channel = findInviteChannelByUri(uriHost, uriPort, uriUser, true))
            return channel;
        if (auto channel = findInviteChannelByUri(uriHost, uriPort, uriUser, false))
            return channel;
    }
    if (haveVia && haveToUser && !toUser.empty()) {
        if (auto channel = findInviteChannelByUri(viaHost, viaPort, toUser, true))
            return channel;
        if (auto channel = findInviteChannelByUri(viaHost, viaPort, toUser, false))
            return channel;
    }

    std::string localIp;
    int port = 0;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        localIp = m_localIp;
        port = m_port;
    }
    if (uriHost != localIp || uriPort != port)
        return nullptr;
    std::lock_guard<std::mutex> guard(m_mutex);
    if (!toUser.empty()) {
        for (const auto& channel : m_channels) {
            if (channel->matchAuthId(toUser))
                return channel;
        }
        for (const auto& channel : m_channels) {
            if (channel->matchUsername(toUser))
                return channel;
        }
    }
    if (haveToUser) {
        int number = 0;
        if (std::sscanf(toUser.c_str(), "%d", &number) != 1)
            number = 0;
        if (number >= 1) {
            for (const auto& channel : m_channels) {
                if (channel->isId(number))
                    return channel;
            }
        }
    }
    return m_localLoopChannel;
}

void SipManager::unregisterAll()
{
    std::shared_ptr<SipChannel> loop;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        for (const auto& channel : m_channels)
            channel->unregister();
        m_channels.erase(std::remove_if(m_channels.begin(), m_channels.end(),
                                        [](const std::shared_ptr<SipChannel>& channel) {
                                            return channel->state() == SipChannel::Unregistered;
                                        }),
                         m_channels.end());
        loop = m_localLoopChannel;
    }
    if (loop)
        loop->unregister();
}

void SipManager::lock()
{
    m_mutex.lock();
}

void SipManager::unlock()
{
    m_mutex.unlock();
}

std::vector<std::shared_ptr<SipChannel>> SipManager::channels()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_channels;
}

std::shared_ptr<SipChannel> SipManager::localLoopChannel()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_localLoopChannel;
}

bool SipManager::isListening()
{
    return currentStack() != nullptr;
}

SipStack* SipManager::currentStack()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_stack.get();
}

int SipManager::port()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_port;
}

int SipManager::transport()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_transport;
}

std::string SipManager::localIp()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_localIp;
}

void SipManager::keepaliveAll()
{
    // Ticked outside the list mutex: a tick may report a failure, and an observer may edit the
    // list from its callback.
    for (const auto& channel : channels())
        channel->keepalive();
}

// ---------------------------------------------------------------------------------------------
// Dispatch

void SipManager::readEvent(SipStackEvent* event)
{
    if (!event)
        return;
    RDLOG("type = %d, tid = %d, did = %d, rid = %d, cid = %d, sid = %d, nid = %d, %s\n", int(event->type), event->tid,
          event->did, event->rid, event->cid, event->sid, event->nid, event->textinfo);
    const bool registration =
        event->type == SipStackEvent::RegistrationSuccess || event->type == SipStackEvent::RegistrationFailure;
    if (!m_running && !registration)
        return;

    switch (event->type) {
    case SipStackEvent::RegistrationSuccess:
    case SipStackEvent::RegistrationFailure:
        registrationOutcome(event);
        return;
    case SipStackEvent::CallInvite:
        incomingCall(event);
        return;
    default:
        break;
    }
    if (isCallEvent(event->type))
        dispatchCallEvent(event);
    else if (isMessageEvent(event->type))
        dispatchMessageEvent(event);
    else
        answerOtherEvent(event);
}

void SipManager::registrationOutcome(SipStackEvent* event)
{
    // A channel whose unregistration ended, either way, leaves the list.
    if (auto channel = channelByRegisterId(event->rid)) {
        const bool success = event->type == SipStackEvent::RegistrationSuccess;
        if (success)
            channel->onRegisterSuccess(event);
        else
            channel->onRegisterFailure(event);
        if (channel->state() == (success ? SipChannel::Unregistered : SipChannel::UnregisterFailed))
            removeChannel(channel);
    }
}

void SipManager::incomingCall(SipStackEvent* event)
{
    if (auto channel = findInviteChannel(event)) {
        channel->callEvents().onInvite(event);
        return;
    }
    RDLOG("can't find channel with invite, terminate it");
    SipStack* stack = currentStack();
    SipStackLock lock(stack);
    if (stack)
        stack->callTerminate(event->cid, event->did);
}

void SipManager::dispatchMessageEvent(SipStackEvent* event)
{
    const SipMessageInfo info = SipMessageInfo::fromEvent(event);
    switch (event->type) {
    case SipStackEvent::MessageNew: {
        // OPTIONS asks what we are: it gets 200. Message receipts we cannot honour get 488.
        int status = 202;
        if (compareIgnoreCase(info.method, "OPTIONS") == 0)
            status = 200;
        else if (info.contentType.sameAs(SipContentType::parse("message/imdn+xml")))
            status = 488;
        sendMessageAnswer(event, status);
        onMessageNew(info);
        break;
    }
    case SipStackEvent::MessageProceeding:
        onMessageProceeding(info);
        break;
    case SipStackEvent::MessageAnswered:
        onMessageAnswered(info);
        break;
    case SipStackEvent::MessageRedirected:
        onMessageRedirected(info);
        break;
    default:
        onMessageFailure(info);
        break;
    }
}

void SipManager::dispatchCallEvent(SipStackEvent* event)
{
    const std::shared_ptr<SipCall> call = callByCallId(event->cid);
    const std::shared_ptr<SipChannel> channel = call ? call->channel() : nullptr;
    if (!call || !channel)
        return;
    channel->callEvents().dispatch(event, call);
}

void SipManager::answerOtherEvent(SipStackEvent* event)
{
    SipStack* stack = currentStack();
    if (!stack)
        return;
    SipStackLock lock(stack);
    osip_message_t* request = event->request;
    if (request && request->status_code == 0 && request->sip_method &&
        (compareStringIgnoreCase(request->sip_method, "OPTIONS") == 0 ||
         compareStringIgnoreCase(request->sip_method, "NOTIFY") == 0)) {
        osip_message_t* answer = nullptr;
        if (stack->messageBuildAnswer(event->tid, 200, &answer) != 0)
            RDLOG("build answer failure");
        else
            stack->messageSendAnswer(event->tid, 200, answer);
    } else {
        stack->automaticAction();
    }
}

void SipManager::sendMessageAnswer(SipStackEvent* event, int status)
{
    if (!event)
        return;
    SipStack* stack = currentStack();
    if (!stack)
        return;
    SipStackLock lock(stack);
    osip_message_t* answer = nullptr;
    if (stack->messageBuildAnswer(event->tid, status, &answer) != 0) {
        RDLOG("build answer failure");
        if (answer)
            osip_message_free(answer);
    } else {
        stack->messageSendAnswer(event->tid, status, answer);
    }
}
