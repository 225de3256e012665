#include "SipChannel.h"

#include "RDLanguage.h"
#include "RDLog.h"
#include "RDString.h"
#include "RDThread.h"
#include "SipCall.h"
#include "SipChannelEventThread.h"
#include "SipChannelObserver.h"
#include "SipMessage.h"
#include "SipNat.h"
#include "SipSdp.h"
#include "SipStack.h"
#include "SipText.h"

#include <osipparser2/osip_parser.h>

#include <algorithm>
#include <arpa/inet.h>

namespace {


int statusOf(const SipStackEvent* event)
{
    return event && event->response ? event->response->status_code : 0;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// StackGuard

SipChannel::StackGuard::StackGuard(const SipChannel& channel)
    : m_lock(channel.m_contextMutex), m_stack(channel.m_context), m_stackLock(m_stack)
{
}

// ---------------------------------------------------------------------------------------------
// Life and wiring

SipChannel::SipChannel() = default;

SipChannel::~SipChannel()
{
    terminateAllCalls();
}

std::shared_ptr<SipCall> SipChannel::createCall()
{
    return std::make_shared<SipCall>();
}

void SipChannel::setSelf(const std::shared_ptr<SipChannel>& self)
{
    m_self = self;
}

std::shared_ptr<SipChannel> SipChannel::self() const
{
    return m_self.lock();
}

void SipChannel::setId(int id)
{
    std::lock_guard<std::mutex> guard(m_registerMutex);
    m_account.id = id;
}

void SipChannel::setContext(SipStack* stack)
{
    std::lock_guard<std::mutex> guard(m_contextMutex);
    m_context = stack;
}

void SipChannel::setTransport(int transport)
{
    m_transport = transport;
}

void SipChannel::setLocalIp(const std::string& ip)
{
    std::lock_guard<std::mutex> guard(m_contextMutex);
    m_localIp = ip;
}

void SipChannel::setLocalPort(int port)
{
    m_localPort = port;
}

void SipChannel::setCommandThread(SipChannelEventThread* thread)
{
    std::lock_guard<std::mutex> guard(m_contextMutex);
    m_commandThread = thread;
}

void SipChannel::setObserver(SipChannelObserver* observer)
{
    m_observer = observer;
}

void SipChannel::setClock(Clock clock)
{
    std::lock_guard<std::mutex> guard(m_registerMutex);
    m_clock = std::move(clock);
}

void SipChannel::detach()
{
    m_observer = nullptr;
    std::lock_guard<std::mutex> guard(m_registerMutex);
    {
        std::lock_guard<std::mutex> context(m_contextMutex);
        m_context = nullptr;
        m_commandThread = nullptr;
    }
    // The registration lived in the stack that is going away.
    if (m_registerId > 0)
        m_registerId = 0;
    m_unregisterPending = false;
}

double SipChannel::now() const
{
    return m_clock ? m_clock() : RDThread::tickTime();
}

void SipChannel::notify(Notice notice, const SipAccountInfo& account)
{
    if (notice == Notice::None)
        return;
    SipChannelObserver* target = m_observer.load();
    const std::shared_ptr<SipChannel> channel = self();
    if (!target)
        return;
    switch (notice) {
    case Notice::Registered:
        target->onChannelRegistered(channel, account);
        break;
    case Notice::RegisterFailed:
        target->onChannelRegisterFailed(channel, account);
        break;
    case Notice::Unregistered:
        target->onChannelUnregistered(channel, account);
        break;
    case Notice::UnregisterFailed:
        target->onChannelUnregisterFailed(channel, account);
        break;
    case Notice::None:
        break;
    }
}

// ---------------------------------------------------------------------------------------------
// Registration

int SipChannel::registerServer(const SipAccountInfo& account)
{
    Notice notice = Notice::None;
    SipAccountInfo copy;
    {
        std::lock_guard<std::mutex> guard(m_registerMutex);
        m_account = account;
        m_account.applyDefaults();
        m_unregisterPending = false;
        if (m_account.mode == SipAccountInfo::kModeRegistrationOff) {
            m_state = Unregistered;
            return 0;
        }
        if (!m_account.isComplete()) {
            RDLOG("account %d (%s@%s:%d) lacks a registrar, port, user name or password; not registered",
                  m_account.id, m_account.username.c_str(), m_account.server.c_str(), m_account.serverPort);
            m_state = Unregistered;
            return -1;
        }
        m_masqueraded = false;
        notice = startRegisterLocked(m_account.username);
        copy = m_account;
    }
    notify(notice, copy);
    return notice == Notice::RegisterFailed ? -1 : 0;
}

void SipChannel::sendRegister()
{
    Notice notice = Notice::None;
    SipAccountInfo copy;
    {
        std::lock_guard<std::mutex> guard(m_registerMutex);
        notice = sendRegisterLocked();
        copy = m_account;
    }
    notify(notice, copy);
}

SipChannel::Notice SipChannel::sendRegisterLocked()
{
    if (m_account.authId.empty() && m_account.password.empty())
        return Notice::None;
    m_masqueraded = false;
    return startRegisterLocked(fromUserLocked());
}

std::string SipChannel::fromUserLocked() const
{
    return m_account.username.empty() ? m_account.authId : m_account.username;
}

std::string SipChannel::scheme() const
{
    return m_transport == 2 ? "sips" : "sip";
}

SipChannel::Notice SipChannel::startRegisterLocked(const std::string& user)
{
    // A registration of an earlier cycle would otherwise live on in the stack.
    removeRegistrationLocked();
    const std::string port = std::to_string(m_account.serverPort);
    const std::string from = scheme() + ":" + SipText::escapeUser(user) + "@" + m_account.server + ":" + port;
    const std::string registrar = scheme() + ":" + m_account.server + ":" + port;
    m_state = Registering;
    m_authRetries = 0;
    bool sent = false;
    if (from.size() > kMaxUriLength || registrar.size() > kMaxUriLength) {
        RDLOG("build initial register failure: address of %s@%s too long", user.c_str(), m_account.server.c_str());
    } else {
        StackGuard stack(*this);
        if (!stack) {
            RDLOG("no SIP stack to register %s@%s:%d", user.c_str(), m_account.server.c_str(),
                  m_account.serverPort);
        } else {
            osip_message_t* message = nullptr;
            const char* contact = m_account.contact.empty() ? nullptr : m_account.contact.c_str();
            const int rid =
                stack->registerBuildInitial(from.c_str(), registrar.c_str(), contact, m_account.expire, &message);
            m_registerId = rid;
            if (rid < 0) {
                RDLOG("build initial register failure");
                if (message)
                    osip_message_free(message);
            } else {
                const int result = stack->registerSend(rid, message);
                if (result < 0) {
                    RDLOG("send register failure %d for %s@%s:%d", result, user.c_str(), m_account.server.c_str(),
                          m_account.serverPort);
                    stack->registerRemove(rid);
                    m_registerId = 0;
                } else {
                    sent = true;
                    m_sentTime = now();
                }
            }
        }
    }
    if (sent)
        return Notice::None;
    // Not "Registering" forever: the back-off of a failed attempt tries again.
    m_lastRegisterTime = now();
    m_state = Failed;
    ++m_failCount;
    return Notice::RegisterFailed;
}

void SipChannel::resendLocked()
{
    StackGuard stack(*this);
    if (stack && m_registerId > 0 && stack->registerSend(m_registerId, nullptr) >= 0)
        m_sentTime = now();
}

void SipChannel::removeRegistration()
{
    std::lock_guard<std::mutex> guard(m_registerMutex);
    removeRegistrationLocked();
}

void SipChannel::removeRegistrationLocked()
{
    const int rid = m_registerId;
    if (rid > 0) {
        StackGuard stack(*this);
        if (stack)
            stack->registerRemove(rid);
    }
    m_registerId = 0;
}

double SipChannel::refreshDueTime() const
{
    std::lock_guard<std::mutex> guard(m_registerMutex);
    return refreshDueLocked();
}

double SipChannel::refreshDueLocked() const
{
    // Early enough that the refresh, its challenge and a lost datagram or two fit before the
    // binding lapses; a registrar granting less than asked is honoured.
    const double granted = m_grantedExpire > 0 ? m_grantedExpire : m_account.expire;
    const double margin = std::min(std::max(granted / 10.0, kMinRefreshMargin), granted / 2.0);
    return m_lastRegisterTime + granted - margin;
}

void SipChannel::keepalive()
{
    Notice notice = Notice::None;
    SipAccountInfo copy;
    {
        std::lock_guard<std::mutex> guard(m_registerMutex);
        const double time = now();
        const bool off = m_account.mode == SipAccountInfo::kModeRegistrationOff;
        switch (m_state.load()) {
        case Registering:
            // Only a REGISTER left without any outcome for a whole tick is sent again: the
            // stack reports every REGISTER's end, and an answer may be waiting in its queue.
            if (!off && time - m_sentTime >= kRepeatAfter)
                resendLocked();
            break;
        case Registered:
            if (time < refreshDueLocked())
                break;
            m_state = RefreshDue;
            if (!off)
                resendLocked();
            break;
        case RefreshDue:
            m_lastRegisterTime = time;
            m_failCount = 0;
            if (!off) {
                removeRegistrationLocked();
                notice = sendRegisterLocked();
                RDLOG("timeout send register again, expire = %d", m_account.expire);
            }
            break;
        case Failed: {
            const double wait = m_failCount <= 5 ? m_failCount * kBackoffUnit : kBackoffMax;
            if (time - m_lastRegisterTime >= wait && !off) {
                removeRegistrationLocked();
                notice = sendRegisterLocked();
            }
            break;
        }
        default:
            break;
        }
        copy = m_account;
    }
    notify(notice, copy);
}

void SipChannel::updateGrantedLocked(SipStackEvent* event)
{
    const int granted = SipMessage::grantedExpires(event->response, event->request);
    m_grantedExpire = granted > 0 ? std::min(granted, m_account.expire) : m_account.expire;
}

void SipChannel::onRegisterFailure(SipStackEvent* event)
{
    if (!event)
        return;
    Notice notice = Notice::None;
    SipAccountInfo copy;
    {
        std::lock_guard<std::mutex> guard(m_registerMutex);
        if (event->rid != m_registerId)
            return; // an outcome of a registration this channel no longer has
        if (m_unregisterPending) {
            sendUnregisterLocked();
            return;
        }
        const int status = statusOf(event);
        if ((status == 401 || status == 403 || status == 407) && m_authRetries < kMaxAuthRetries) {
            m_realm.clear();
            osip_www_authenticate_t* challenge = nullptr;
            if (osip_message_get_www_authenticate(event->response, 0, &challenge) >= 0 && challenge)
                m_realm = stringFromCStr(osip_www_authenticate_get_realm(challenge));
            ++m_authRetries;
            const std::string user = fromUserLocked();
            StackGuard stack(*this);
            if (stack) {
                stack->removeAuthInfo(user.c_str(), m_realm.c_str());
                stack->addAuthInfo(user.c_str(), m_account.authId.c_str(), m_account.password.c_str(), nullptr,
                                   m_realm.c_str());
                if (stack->registerSend(m_registerId, nullptr) >= 0)
                    m_sentTime = now();
            }
            return;
        }
        removeRegistrationLocked();
        switch (m_state.load()) {
        case Registering:
            m_lastRegisterTime = now();
            m_state = Failed;
            ++m_failCount;
            notice = Notice::RegisterFailed;
            RDLOG("register %s@%s:%d failure, status %d, attempt %d", m_account.username.c_str(),
                  m_account.server.c_str(), m_account.serverPort, status, m_failCount);
            break;
        case Unregistering:
            m_state = UnregisterFailed;
            notice = Notice::UnregisterFailed;
            break;
        default:
            break;
        }
        copy = m_account;
    }
    notify(notice, copy);
}

void SipChannel::onRegisterSuccess(SipStackEvent* event)
{
    if (!event)
        return;
    Notice notice = Notice::None;
    SipAccountInfo copy;
    bool endCalls = false;
    {
        std::lock_guard<std::mutex> guard(m_registerMutex);
        if (event->rid != m_registerId)
            return;
        // Counts consecutive challenges: a registrar that challenges every refresh is answered
        // every time.
        m_authRetries = 0;
        if (m_unregisterPending) {
            sendUnregisterLocked();
            return;
        }
        switch (m_state.load()) {
        case Unregistering:
            m_state = Unregistered;
            endCalls = true;
            removeRegistrationLocked();
            notice = Notice::Unregistered;
            break;
        case Registered:
            m_lastRegisterTime = now();
            updateGrantedLocked(event);
            break;
        case RefreshDue:
            m_lastRegisterTime = now();
            updateGrantedLocked(event);
            m_state = Registered;
            break;
        case Registering:
            m_lastRegisterTime = now();
            updateGrantedLocked(event);
            if (masqueradeLocked(event, &notice))
                break;
            m_state = Registered;
            notice = Notice::Registered;
            break;
        default:
            break;
        }
        copy = m_account;
    }
    if (endCalls)
        terminateAllCalls();
    notify(notice, copy);
}

bool SipChannel::masqueradeLocked(SipStackEvent* event, Notice* notice)
{
    std::string receivedText;
    int port = 0;
    if (m_masqueraded || !SipNat::masqueradeTarget(event->response, event->request, &receivedText, &port))
        return false;
    const std::string rportText = std::to_string(port);
    const std::string masqueraded = "sip:" + SipText::escapeUser(m_account.username) + "@" + receivedText + ":" +
                                    rportText;
    if (masqueraded.size() > kMaxUriLength)
        return false;
    {
        StackGuard stack(*this);
        if (!stack)
            return false;
        stack->registerRemove(m_registerId);
        m_registerId = 0;
        RDLOG("%s@%s:%d set masquerade %s %s", m_account.username.c_str(), m_account.server.c_str(),
              m_account.serverPort, receivedText.c_str(), rportText.c_str());
        // Only for this registrar: other accounts may reach theirs by another way.
        stack->masqueradeFor(m_account.server.c_str(), m_account.serverPort, receivedText.c_str(), port);
    }
    m_account.contact = masqueraded;
    m_masqueraded = true;
    *notice = startRegisterLocked(m_account.username);
    return true;
}

void SipChannel::unregister()
{
    terminateAllCalls();
    std::lock_guard<std::mutex> guard(m_registerMutex);
    if (m_state == Unregistering)
        return;
    if (m_registerId <= 0) {
        m_registerId = 0;
        m_state = Unregistered;
        return;
    }
    m_authRetries = 0;
    m_state = Unregistering;
    sendUnregisterLocked();
}

void SipChannel::sendUnregisterLocked()
{
    m_unregisterPending = false;
    const int rid = m_registerId;
    int result = OSIP_NOTFOUND;
    {
        StackGuard stack(*this);
        if (stack && rid > 0) {
            osip_message_t* message = nullptr;
            result = stack->registerBuild(rid, 0, &message);
            if (result == OSIP_WRONG_STATE) {
                // A REGISTER is on its way: the expiry 0 follows its answer.
                m_unregisterPending = true;
                return;
            }
            if (result >= 0)
                result = stack->registerSend(rid, message);
        }
    }
    if (result >= 0)
        return;
    RDLOG("unregister %s@%s:%d failure %d, registration dropped", m_account.username.c_str(),
          m_account.server.c_str(), m_account.serverPort, result);
    removeRegistrationLocked();
    m_state = Unregistered;
}

int SipChannel::id() const
{
    std::lock_guard<std::mutex> guard(m_registerMutex);
    return m_account.id;
}

SipAccountInfo SipChannel::account() const
{
    std::lock_guard<std::mutex> guard(m_registerMutex);
    return m_account;
}

int SipChannel::authRetries() const
{
    std::lock_guard<std::mutex> guard(m_registerMutex);
    return m_authRetries;
}

int SipChannel::failCount() const
{
    std::lock_guard<std::mutex> guard(m_registerMutex);
    return m_failCount;
}

double SipChannel::lastRegisterTime() const
{
    std::lock_guard<std::mutex> guard(m_registerMutex);
    return m_lastRegisterTime;
}

int SipChannel::grantedExpire() const
{
    std::lock_guard<std::mutex> guard(m_registerMutex);
    return m_grantedExpire;
}

std::string SipChannel::localAddress() const
{
    {
        std::lock_guard<std::mutex> guard(m_contextMutex);
        if (!m_localIp.empty())
            return m_localIp;
    }
    char address[32] = {};
    if (SipStack::guessLocalIp(address, sizeof(address)) != 0)
        return std::string();
    return address;
}

QString SipChannel::statusText(int state)
{
    switch (state) {
    case Registering:
        return RDLanguage::translate("Registering");
    case Registered:
        return RDLanguage::translate("Register Success");
    case Failed:
        return RDLanguage::translate("Register Failure");
    default:
        return QString();
    }
}

// ---------------------------------------------------------------------------------------------
// Account matchers

bool SipChannel::matchAuthId(const std::string& text) const
{
    std::lock_guard<std::mutex> guard(m_registerMutex);
    return m_account.authId == text;
}

bool SipChannel::matchUsername(const std::string& text) const
{
    std::lock_guard<std::mutex> guard(m_registerMutex);
    return m_account.username == text;
}

bool SipChannel::matchServerAuthId(const std::string& host, int port, const std::string& text) const
{
    std::lock_guard<std::mutex> guard(m_registerMutex);
    return m_account.server == host && m_account.serverPort == port && m_account.authId == text;
}

bool SipChannel::matchServerUsername(const std::string& host, int port, const std::string& text) const
{
    std::lock_guard<std::mutex> guard(m_registerMutex);
    return m_account.server == host && m_account.serverPort == port && m_account.username == text;
}

bool SipChannel::isId(int id) const
{
    std::lock_guard<std::mutex> guard(m_registerMutex);
    return m_account.id == id;
}

// ---------------------------------------------------------------------------------------------
// Calls

std::shared_ptr<SipCall> SipChannel::newCall()
{
    std::shared_ptr<SipCall> call = createCall();
    if (!call)
        return nullptr;
    call->setSelf(call);
    call->setChannel(self());
    call->setCreatedTick(now());
    const SipAccountInfo info = account();
    if (!info.server.empty()) {
        call->toHost = info.server;
        call->toPort = info.serverPort;
        call->toUser = info.authId;
        call->toName = info.username;
    } else {
        call->toHost = localAddress();
        call->toPort = localPort();
        call->toUser = std::to_string(info.id);
        call->toName = call->toUser;
    }
    return call;
}

std::vector<std::shared_ptr<SipCall>> SipChannel::calls() const
{
    std::lock_guard<std::mutex> guard(m_callMutex);
    return m_calls;
}

std::shared_ptr<SipCall> SipChannel::callById(int cid) const
{
    std::lock_guard<std::mutex> guard(m_callMutex);
    for (const auto& call : m_calls) {
        if (call->cid == cid)
            return call;
    }
    return nullptr;
}

std::shared_ptr<SipCall> SipChannel::findCall(const std::string& host, int port, const std::string& user) const
{
    std::lock_guard<std::mutex> guard(m_callMutex);
    for (const auto& call : m_calls) {
        if (call->fromHost == host && call->fromPort == port && call->fromUser == user)
            return call;
    }
    return nullptr;
}

void SipChannel::removeCall(const std::shared_ptr<SipCall>& call)
{
    std::lock_guard<std::mutex> guard(m_callMutex);
    m_calls.erase(std::remove(m_calls.begin(), m_calls.end(), call), m_calls.end());
}

void SipChannel::logCall(const char* what, const SipCall& call)
{
    RDLOG("%s call(%d) form(%s@%s:%d) -> to(%s@%s:%d)", what, call.cid.load(), call.fromName.c_str(),
          call.fromHost.c_str(), call.fromPort, call.toName.c_str(), call.toHost.c_str(), call.toPort);
}

void SipChannel::terminateAllCalls()
{
    std::vector<std::shared_ptr<SipCall>> ending;
    {
        std::lock_guard<std::mutex> guard(m_callMutex);
        ending.swap(m_calls);
    }
    const std::shared_ptr<SipChannel> channel = self();
    for (const auto& call : ending) {
        if (!call->markEnded())
            continue; // ended meanwhile by its own event or a queued terminate
        {
            StackGuard stack(*this);
            if (stack)
                stack->callTerminate(call->cid, call->did);
        }
        call->stop();
        // Not raised from the destructor: no one may be given a channel that is going away.
        SipChannelObserver* target = observer();
        if (target && channel)
            target->onCallStopped(channel, call);
    }
}

int SipChannel::makeCall(const std::shared_ptr<SipCall>& call)
{
    RDLOG("channel %d places no calls; call dropped", id());
    if (call)
        call->state = SipCall::Terminated;
    return -1;
}

int SipChannel::sendCallAnswer(int tid, int status, const SipCall* withSdp, const char* what)
{
    std::string body;
    if (withSdp) {
        const auto audio = withSdp->audioMedia();
        const auto video = withSdp->videoMedia();
        body = SipSdp::buildSdp(localAddress(), audio.get(), video.get());
    }
    StackGuard stack(*this);
    if (!stack)
        return -1;
    osip_message_t* answer = nullptr;
    if (stack->callBuildAnswer(tid, status, &answer) != 0 || !answer) {
        RDLOG("build answer failure (%s %d, transaction %d)", what, status, tid);
        if (answer)
            osip_message_free(answer);
        return -1;
    }
    if (!body.empty()) {
        osip_message_set_body(answer, body.c_str(), body.size());
        osip_message_set_content_type(answer, "application/sdp");
    }
    return stack->callSendAnswer(tid, status, answer);
}

int SipChannel::ringCall(const std::shared_ptr<SipCall>& call)
{
    if (!call)
        return -1;
    call->state = SipCall::Ringing;
    logCall("ring", *call);
    StackGuard stack(*this);
    return stack ? stack->callSendAnswer(call->tid, 180, nullptr) : -1;
}

int SipChannel::answerCall(const std::shared_ptr<SipCall>& call)
{
    if (!call)
        return -1;
    call->state = SipCall::Answered;
    logCall("answer", *call);
    return sendCallAnswer(call->tid, 200, call.get(), "answer");
}

int SipChannel::rejectCall(const std::shared_ptr<SipCall>& call, int status)
{
    if (!call)
        return -1;
    call->state = SipCall::Terminated;
    return sendCallAnswer(call->tid, status, nullptr, "reject");
}

int SipChannel::terminateCall(const std::shared_ptr<SipCall>& call)
{
    if (!call || !call->markEnded())
        return 0;
    RDLOG("terminate call(%d) form(%s@%s:%d) -> to(%s@%s:%d)", call->cid.load(), call->fromName.c_str(),
          call->fromHost.c_str(), call->fromPort, call->toName.c_str(), call->toHost.c_str(), call->toPort);
    call->stop();
    const std::shared_ptr<SipChannel> channel = self();
    if (SipChannelObserver* target = observer())
        target->onCallStopped(channel, call);
    call->state = SipCall::Terminated;
    {
        StackGuard stack(*this);
        if (stack)
            stack->callTerminate(call->cid, call->did);
    }
    removeCall(call);
    if (SipChannelObserver* target = observer())
        target->onCallRemoved(channel, call);
    return 0;
}

void SipChannel::postTerminateCall(const std::shared_ptr<SipCall>& call)
{
    SipChannelCommand command;
    command.type = SipChannelCommand::TerminateCall;
    command.channel = self();
    command.call = call;
    if (!postCommand(command))
        RDLOG("no command thread to end call(%d)", call ? call->cid.load() : 0);
}

bool SipChannel::postCommand(const SipChannelCommand& command)
{
    std::lock_guard<std::mutex> guard(m_contextMutex);
    if (!m_commandThread)
        return false;
    m_commandThread->post(command);
    return true;
}

void SipChannel::notifyDtmf(const std::shared_ptr<SipCall>& call, const SipTelephoneEvent& event)
{
    if (SipChannelObserver* target = observer())
        target->onCallDtmf(self(), call, event);
}
