#include "SipStack.h"

#include "RDIpv4.h"
#include "RDLog.h"
#include "RDThread.h"
#include "SipDigest.h"
#include "SipLocalIp.h"
#include "SipMessage.h"
#include "SipRegistration.h"
#include "SipResolverThread.h"
#include "SipRoutes.h"
#include "SipStackAnswers.h"
#include "SipStackCall.h"
#include "SipStackReceiver.h"
#include "SipStackRegistrations.h"
#include "SipStackSdp.h"
#include "SipStackTransaction.h"
#include "RDFunctionThread.h"
#include "SipText.h"

#include <cmath>
#include <sys/time.h>
#include <time.h>

#include <osip2/osip.h>
#include <osip2/osip_dialog.h>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kT2 = 4000;
constexpr int kReadsPerPass = 256;
constexpr int kMaxWaitMs = 100;
constexpr size_t kEventWarning = 1000;
// Far beyond any backlog a working reader leaves; only a reader that stopped reading gets here.
constexpr size_t kEventLimit = 20000;

std::atomic<int> g_lastId{0};

} // namespace

// ---------------------------------------------------------------------------------------------
// Life cycle

int SipStack::nextId()
{
    // Unique for the whole process, so a stale id held across a restart names nothing.
    return ++g_lastId;
}

SipStack::SipStack()
{
    std::random_device device;
    std::seed_seq seed{device(), device(), device(), device()};
    m_random.seed(seed);
}

void SipStackQuit::operator()(SipStack* stack) const
{
    if (!stack)
        return;
    stack->quit();
    delete stack;
}

SipStackPtr SipStack::create()
{
    SipStackPtr stack(new SipStack());
    if (!stack->initOsip()) {
        RDLOG("cannot initialise the SIP stack");
        return nullptr;
    }
    return stack;
}

bool SipStack::initOsip()
{
    // libosip2 writes its own diagnostics to stdout even with every level disabled, unless a
    // trace function is set; what matters is logged here instead.
    static std::once_flag quiet;
    std::call_once(quiet, [] {
        osip_trace_initialize_func(TRACE_LEVEL0, &SipStack::osipTrace);
        for (int level = TRACE_LEVEL0; level < END_TRACE_LEVEL; ++level)
            osip_trace_disable_level(static_cast<osip_trace_level_t>(level));
    });
    osip_t* context = nullptr;
    if (osip_init(&context) != 0 || !context)
        return false;
    m_osip = context;
    osip_set_application_context(context, this);
    osip_set_cb_send_message(context, &SipStack::osipSend);
    for (int type : {OSIP_ICT_KILL_TRANSACTION, OSIP_IST_KILL_TRANSACTION, OSIP_NICT_KILL_TRANSACTION,
                     OSIP_NIST_KILL_TRANSACTION})
        osip_set_kill_transaction_callback(context, type, &SipStack::osipKill);
    for (int type : {OSIP_NICT_STATUS_1XX_RECEIVED, OSIP_NICT_STATUS_2XX_RECEIVED, OSIP_NICT_STATUS_3XX_RECEIVED,
                     OSIP_NICT_STATUS_4XX_RECEIVED, OSIP_NICT_STATUS_5XX_RECEIVED, OSIP_NICT_STATUS_6XX_RECEIVED})
        osip_set_message_callback(context, type, &SipStack::osipNictResponse);
    for (int type : {OSIP_ICT_TRANSPORT_ERROR, OSIP_IST_TRANSPORT_ERROR, OSIP_NICT_TRANSPORT_ERROR,
                     OSIP_NIST_TRANSPORT_ERROR})
        osip_set_transport_error_callback(context, type, &SipStack::osipTransportError);
    return true;
}

SipStack::~SipStack()
{
    quit();
}

int SipStack::listen(int protocol, int port)
{
    if (m_quit || m_listening || !m_osip)
        return OSIP_WRONG_STATE;
    if (protocol != IPPROTO_UDP) {
        RDLOG("SIP transport protocol %d is not supported, only UDP", protocol);
        return OSIP_UNDEFINED_ERROR;
    }
    if (m_transport.open(port) != 0) {
        RDLOG("cannot listen on UDP port %d: %s", port, strerror(m_transport.lastError()));
        return OSIP_UNDEFINED_ERROR;
    }
    m_listening = true;
    m_resolver = new SipResolverThread([this] { wake(); });
    m_resolver->start();
    // "SipStackThread": reads the socket, runs the transaction state machines and the stack's
    // timers. It never calls application code; it only queues events.
    m_thread = new RDFunctionThread(
        "SipStackThread",
        [this](RDThread* thread) {
            while (!thread->isStop())
                runOnce(thread);
        },
        [this] { wake(); });
    if (!m_thread->start()) {
        quit();
        return OSIP_UNDEFINED_ERROR;
    }
    RDLOG("SIP stack listening on UDP port %d", m_transport.port());
    return 0;
}

int SipStack::localPort() const
{
    return m_transport.port();
}

void SipStack::quit()
{
    if (m_quit)
        return;
    m_quit = true;
    if (m_thread) {
        m_thread->stop();
        m_thread->wait();
        delete m_thread;
        m_thread = nullptr;
    }
    if (m_resolver) {
        m_resolver->stop();
        m_resolver->wait();
        delete m_resolver;
        m_resolver = nullptr;
    }
    lock();
    if (m_osip) {
        // First transmissions queued just before (a BYE, an Expires 0 REGISTER) still leave;
        // retransmissions and answers to them are not waited for.
        osip_ict_execute(m_osip);
        osip_ist_execute(m_osip);
        osip_nict_execute(m_osip);
        osip_nist_execute(m_osip);
    }
    for (ClientResponse& response : m_clientResponses)
        osip_message_free(response.response);
    m_clientResponses.clear();
    m_killed.clear();
    while (!m_txs.empty())
        freeTx(m_txs.begin()->first);
    m_calls.clear();
    m_registrations.clear();
    if (m_osip) {
        osip_release(m_osip);
        m_osip = nullptr;
    }
    m_listening = false;
    unlock();
    m_transport.close();
    std::lock_guard<std::mutex> guard(m_eventMutex);
    for (SipStackEvent* event : m_events)
        delete event;
    m_events.clear();
}

int SipStack::guessLocalIp(char* address, int size)
{
    return SipLocalIp::guess(address, size);
}

int SipStack::addAccountInfo(const char* proxy, const char* natIp, int natPort)
{
    return masqueradeFor(proxy, 0, natIp, natPort);
}

int SipStack::setUserAgent(const char* text)
{
    if (!text || SipText::hasControl(text))
        return OSIP_BADPARAMETER;
    const bool took = !ownsLock();
    if (took)
        lock();
    m_userAgent = text;
    if (took)
        unlock();
    return 0;
}

void SipStack::setT1(int ms)
{
    const bool took = !ownsLock();
    if (took)
        lock();
    m_t1 = std::max(1, std::min(ms, 60000));
    if (took)
        unlock();
}

void SipStack::lock()
{
    m_mutex.lock();
    m_owner.store(std::this_thread::get_id());
}

void SipStack::unlock()
{
    m_owner.store(std::thread::id());
    m_mutex.unlock();
}

bool SipStack::ownsLock() const
{
    return m_owner.load() == std::this_thread::get_id();
}

void SipStack::requireLock(const char* function) const
{
    if (ownsLock())
        return;
    // Running on without the lock would race the stack thread; stop where the fault is.
    RDLOG("SipStack::%s called without the stack lock", function);
    std::fprintf(stderr, "SipStack::%s called without the stack lock\n", function);
    std::abort();
}

void SipStack::wake()
{
    m_transport.wake();
}

int64_t SipStack::nowMs() const
{
    return std::llround(RDThread::tickTime() * 1000);
}

std::string SipStack::randomHex(int bytes)
{
    std::string text;
    while (static_cast<int>(text.size()) < bytes * 2) {
        const uint64_t value = m_random();
        unsigned char raw[8];
        std::memcpy(raw, &value, sizeof(raw));
        text += SipText::hex(raw, sizeof(raw));
    }
    text.resize(static_cast<size_t>(bytes) * 2);
    return text;
}

// ---------------------------------------------------------------------------------------------
// Events

SipStackEvent* SipStack::eventWait(int seconds, int ms)
{
    std::unique_lock<std::mutex> lock(m_eventMutex);
    const auto timeout = std::chrono::milliseconds(static_cast<int64_t>(std::max(0, seconds)) * 1000 + std::max(0, ms));
    m_eventCondition.wait_for(lock, timeout, [this] { return !m_events.empty(); });
    if (m_events.empty())
        return nullptr;
    SipStackEvent* event = m_events.front();
    m_events.pop_front();
    if (m_events.size() < kEventWarning / 2)
        m_eventBacklogLogged = false;
    return event;
}

void SipStack::eventFree(SipStackEvent* event)
{
    delete event;
}

SipStackEvent* SipStack::makeEvent(SipStackEvent::Type type, const char* text)
{
    auto* event = new SipStackEvent();
    event->type = type;
    std::snprintf(event->textinfo, sizeof(event->textinfo), "%s", text);
    return event;
}

void SipStack::pushEvent(SipStackEvent* event)
{
    std::lock_guard<std::mutex> guard(m_eventMutex);
    if (m_events.size() >= kEventLimit) {
        RDLOG("SIP event queue holds %zu events: event %d dropped", m_events.size(), event->type);
        delete event;
        return;
    }
    m_events.push_back(event);
    if (m_events.size() > kEventWarning && !m_eventBacklogLogged) {
        m_eventBacklogLogged = true;
        RDLOG("%zu SIP events wait to be read", m_events.size());
    }
    m_eventCondition.notify_one();
}

int SipStack::automaticAction()
{
    requireLock(__func__);
    return 0;
}

// ---------------------------------------------------------------------------------------------
// The stack thread's pass

void SipStack::runOnce(RDThread* thread)
{
    lock();
    const int timeout = nextTimeoutMs();
    unlock();
    m_transport.wait(timeout);
    if (thread->isStop())
        return;
    lock();
    processPass(true);
    unlock();
}

void SipStack::injectDatagram(const char* data, size_t size, const char* fromIp, int fromPort, const char* localIp)
{
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_port = htons(static_cast<uint16_t>(fromPort));
    inet_pton(AF_INET, fromIp, &from.sin_addr);
    in_addr local{};
    inet_pton(AF_INET, localIp, &local);
    lock();
    if (m_osip) {
        m_receiver.handleDatagram(data, size, from, local);
        processPass(false);
    }
    unlock();
}

void SipStack::pump()
{
    lock();
    if (m_osip)
        processPass(false);
    unlock();
}

void SipStack::processPass(bool readSocket)
{
    if (readSocket) {
        std::vector<char>& buffer = m_receiveBuffer;
        if (buffer.empty())
            buffer.resize(kMaxDatagram + 1);
        for (int i = 0; i < kReadsPerPass; ++i) {
            sockaddr_in from{};
            in_addr local{};
            const ssize_t length = m_transport.receive(buffer.data(), buffer.size(), &from, &local);
            if (length <= 0)
                break;
            if (length > kMaxDatagram) {
                RDLOG("dropped an oversized datagram from %s:%d", ipv4Text(from.sin_addr).c_str(),
                      ntohs(from.sin_port));
                continue;
            }
            m_receiver.handleDatagram(buffer.data(), static_cast<size_t>(length), from, local);
        }
    }
    takeResolverResults();
    executeMachines();
    osip_timers_ict_execute(m_osip);
    osip_timers_ist_execute(m_osip);
    osip_timers_nict_execute(m_osip);
    osip_timers_nist_execute(m_osip);
    executeMachines();
    runTimers();
    executeMachines();
    m_fruitlessReclaims.clear();
}

void SipStack::executeMachines()
{
    for (int round = 0; round < 8; ++round) {
        // Server non-INVITE first: the 200 to a CANCEL leaves before the 487 to its INVITE.
        osip_nist_execute(m_osip);
        osip_ist_execute(m_osip);
        osip_nict_execute(m_osip);
        osip_ict_execute(m_osip);
        if (m_clientResponses.empty() && m_killed.empty())
            return;
        std::vector<ClientResponse> responses;
        responses.swap(m_clientResponses);
        for (ClientResponse& item : responses) {
            auto it = m_txs.find(item.tid);
            if (it == m_txs.end()) {
                osip_message_free(item.response);
            } else if (it->second->kind == Tx::ClientRegister) {
                m_registrations.handleResponse(it->second.get(), item.response);
            } else if (it->second->kind == Tx::ClientBye) {
                handleByeResponse(it->second.get(), item.response);
            } else {
                osip_message_free(item.response);
            }
        }
        std::vector<int> killed;
        killed.swap(m_killed);
        for (int tid : killed) {
            auto it = m_txs.find(tid);
            if (it == m_txs.end())
                continue;
            Tx* tx = it->second.get();
            if ((tx->kind == Tx::ClientRegister || tx->kind == Tx::ClientBye) && !tx->finalSeen)
                clientFailed(tx);
            freeTx(tid);
        }
    }
}

int SipStack::reclaimAnswered(const in_addr* source)
{
    // Answered non-INVITE server transactions, and INVITE ones whose non-2xx answer was
    // acknowledged, only absorb retransmissions until Timer J or I; when a table or a share is
    // full the oldest of them make room (a late retransmission then counts as a new request).
    // A scan that found nothing is not repeated within the pass: a flood refused at its share
    // would otherwise walk the whole table for every datagram, and what could be freed changes
    // mostly as the state machines run, between passes.
    const in_addr_t scanned = source ? source->s_addr : INADDR_NONE;
    if (std::find(m_fruitlessReclaims.begin(), m_fruitlessReclaims.end(), scanned) != m_fruitlessReclaims.end())
        return 0;
    const size_t batch = static_cast<size_t>(source ? SipStackShares::kMaxTransactionsPerAddress / 8
                                                    : kMaxTransactions / 8);
    std::vector<int> oldest;
    for (const auto& entry : m_txs) {
        const Tx* tx = entry.second.get();
        if (source && (tx->peer.sin_addr.s_addr != source->s_addr ||
                       (tx->kind != Tx::ServerRequest && tx->kind != Tx::ServerInvite)))
            continue;
        const bool absorbing = (tx->kind == Tx::ServerRequest && tx->finalSent) ||
                               (tx->kind == Tx::ServerInvite && tx->tr && tx->tr->state == IST_CONFIRMED);
        if (absorbing)
            oldest.push_back(entry.first);
        if (oldest.size() >= batch)
            break;
    }
    for (int tid : oldest)
        freeTx(tid);
    if (oldest.empty())
        m_fruitlessReclaims.push_back(scanned);
    return static_cast<int>(oldest.size());
}

void SipStack::freeTx(int tid)
{
    auto it = m_txs.find(tid);
    if (it == m_txs.end())
        return;
    if (it->second->tr) {
        osip_remove_transaction(m_osip, it->second->tr);
        osip_transaction_free(it->second->tr);
        it->second->tr = nullptr;
    }
    m_txs.erase(it);
}

int SipStack::nextTimeoutMs()
{
    if (!m_osip)
        return kMaxWaitMs;
    timeval lower{};
    osip_timers_gettimeout(m_osip, &lower);
    int64_t wait = static_cast<int64_t>(lower.tv_sec) * 1000 + (lower.tv_usec + 999) / 1000;
    wait = std::min<int64_t>(std::max<int64_t>(wait, 0), kMaxWaitMs);
    const int64_t now = nowMs();
    for (const auto& entry : m_calls) {
        const Call* call = entry.second.get();
        if (call->okWaitingAck && !call->okBytes.empty())
            wait = std::min(wait, std::min(call->okNextMs, call->okDeadlineMs) - now);
    }
    for (const auto& entry : m_txs) {
        const Tx* tx = entry.second.get();
        if (tx->tr && tx->appAnswers && !tx->finalSent && tx->deadlineMs)
            wait = std::min(wait, tx->deadlineMs - now);
    }
    return static_cast<int>(std::max<int64_t>(wait, 0));
}

void SipStack::runTimers()
{
    const int64_t now = nowMs();
    std::vector<int> ids;
    for (const auto& entry : m_calls)
        ids.push_back(entry.first);
    for (int cid : ids) {
        auto it = m_calls.find(cid);
        if (it == m_calls.end())
            continue;
        Call* call = it->second.get();
        if (!call->okWaitingAck || call->okBytes.empty())
            continue;
        if (now >= call->okDeadlineMs) {
            call->okWaitingAck = false;
            RDLOG("no ACK for the 200 of call %d, ending it", call->cid);
            if (call->byeHeld) {
                call->byeHeld = false;
                sendBye(call);
            } else if (call->state != Call::Ending) {
                sendBye(call);
                auto* event = makeEvent(SipStackEvent::CallClosed, "no ACK for the 200, call ended");
                event->cid = call->cid;
                event->did = call->did;
                pushEvent(event);
            }
        } else if (now >= call->okNextMs) {
            m_transport.send(call->okBytes.data(), call->okBytes.size(), call->okPeer);
            call->okIntervalMs = std::min(call->okIntervalMs * 2, kT2);
            call->okNextMs = now + call->okIntervalMs;
        }
    }
    ids.clear();
    for (const auto& entry : m_txs)
        ids.push_back(entry.first);
    for (int tid : ids) {
        auto it = m_txs.find(tid);
        if (it == m_txs.end())
            continue;
        Tx* tx = it->second.get();
        if (!tx->tr || !tx->appAnswers || tx->finalSent || !tx->deadlineMs || now < tx->deadlineMs)
            continue;
        RDLOG("%s (transaction %d) left unanswered, answering 500", SipMessage::methodOf(tx->request.get()), tx->tid);
        auto callIt = m_calls.find(tx->cid);
        Call* call = callIt == m_calls.end() ? nullptr : callIt->second.get();
        m_answers.answer(tx, 500);
        if (call && tx->kind == Tx::ServerInvite) {
            if (tx->tid == call->inviteTid)
                releaseCall(call);
            else if (call->reinviteTid == tx->tid)
                call->reinviteTid = 0;
        }
    }
}

int SipStack::scaledTimers(osip_transaction_t* transaction)
{
    timeval now{};
    osip_gettimeofday(&now, nullptr);
    const int t1 = m_t1;
    switch (transaction->ctx_type) {
    case IST:
        if (transaction->ist_context && transaction->ist_context->timer_g_length > 0) {
            transaction->ist_context->timer_g_length = t1;
            transaction->ist_context->timer_h_length = 64 * t1;
        }
        break;
    case NIST:
        if (transaction->nist_context && transaction->nist_context->timer_j_length > 0)
            transaction->nist_context->timer_j_length = 64 * t1;
        break;
    case NICT:
        if (transaction->nict_context) {
            osip_nict_t* nict = transaction->nict_context;
            if (nict->timer_e_length > 0)
                nict->timer_e_length = t1;
            nict->timer_f_length = 64 * t1;
            if (nict->timer_f_start.tv_sec != -1) {
                nict->timer_f_start = now;
                add_gettimeofday(&nict->timer_f_start, nict->timer_f_length);
            }
        }
        break;
    default:
        break;
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------
// osip callbacks: they run inside the state machines; they only record what happened.

int SipStack::osipSend(osip_transaction_t* transaction, osip_message_t* message, char* host, int port, int)
{
    auto* self = static_cast<SipStack*>(osip_get_application_context(static_cast<osip_t*>(transaction->config)));
    return self ? self->onSend(transaction, message, host, port) : -1;
}

int SipStack::onSend(osip_transaction_t* transaction, osip_message_t* message, const char* host, int port)
{
    auto* tx = static_cast<Tx*>(osip_transaction_get_your_instance(transaction));
    sockaddr_in to{};
    if (tx) {
        to = tx->peer;
    } else {
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(port));
        if (!host || inet_pton(AF_INET, host, &to.sin_addr) != 1)
            return -1;
    }
    char* text = nullptr;
    size_t length = 0;
    if (osip_message_to_str(message, &text, &length) != 0 || !text) {
        RDLOG("cannot write a %s message", MSG_IS_RESPONSE(message) ? "response" : SipMessage::methodOf(message));
        return -1;
    }
    m_transport.send(text, length, to);
    if (tx && tx->kind == Tx::ServerInvite && MSG_IS_RESPONSE(message) && MSG_IS_STATUS_2XX(message))
        m_answers.okSent(tx, text, length);
    osip_free(text);
    return 0;
}

void SipStack::osipKill(int, osip_transaction_t* transaction)
{
    auto* self = static_cast<SipStack*>(osip_get_application_context(static_cast<osip_t*>(transaction->config)));
    auto* tx = static_cast<Tx*>(osip_transaction_get_your_instance(transaction));
    if (self && tx)
        self->m_killed.push_back(tx->tid);
}

void SipStack::osipNictResponse(int, osip_transaction_t* transaction, osip_message_t* message)
{
    auto* self = static_cast<SipStack*>(osip_get_application_context(static_cast<osip_t*>(transaction->config)));
    auto* tx = static_cast<Tx*>(osip_transaction_get_your_instance(transaction));
    if (!self || !tx || !message)
        return;
    osip_message_t* copy = SipMessage::clone(message);
    if (copy)
        self->m_clientResponses.push_back({tx->tid, copy});
}

void SipStack::osipTrace(const char*, int, osip_trace_level_t, const char*, va_list)
{
}

void SipStack::osipTransportError(int type, osip_transaction_t* transaction, int error)
{
    RDLOG("SIP transport error %d on transaction %d (machine %d)", error,
          transaction ? transaction->transactionid : 0, type);
}

// ---------------------------------------------------------------------------------------------
// Answers

int SipStack::messageBuildAnswer(int tid, int status, osip_message_t** answer)
{
    requireLock(__func__);
    return m_answers.buildAnswer(tid, status, answer, false);
}

int SipStack::messageSendAnswer(int tid, int status, osip_message_t* answer)
{
    requireLock(__func__);
    return m_answers.sendAnswer(tid, status, answer, false);
}

int SipStack::callBuildAnswer(int tid, int status, osip_message_t** answer)
{
    requireLock(__func__);
    return m_answers.buildAnswer(tid, status, answer, true);
}

int SipStack::callSendAnswer(int tid, int status, osip_message_t* answer)
{
    requireLock(__func__);
    return m_answers.sendAnswer(tid, status, answer, true);
}

int SipStack::callTerminate(int cid, int did)
{
    requireLock(__func__);
    auto it = m_calls.find(cid);
    if (it == m_calls.end() || (did > 0 && did != it->second->did))
        return OSIP_NOTFOUND;
    Call* call = it->second.get();
    if (call->state == Call::Ending || call->byeHeld)
        return OSIP_WRONG_STATE;
    if (call->state == Call::Early) {
        auto txIt = m_txs.find(call->inviteTid);
        if (txIt != m_txs.end() && txIt->second->tr && !txIt->second->finalSent)
            m_answers.answer(txIt->second.get(), 603);
        releaseCall(call);
        return 0;
    }
    if (call->okWaitingAck) {
        // BYE before the ACK would cross it; it leaves when the ACK comes or retransmission ends.
        call->byeHeld = true;
        return 0;
    }
    sendBye(call);
    return 0;
}

void SipStack::releaseCall(Call* call)
{
    auto* released = makeEvent(SipStackEvent::CallReleased, "Call released");
    released->cid = call->cid;
    released->did = call->did;
    pushEvent(released);
    m_calls.erase(call->cid);
}

void SipStack::sendBye(Call* call)
{
    call->state = Call::Ending;
    auto reinvite = m_txs.find(call->reinviteTid);
    if (reinvite != m_txs.end() && reinvite->second->tr && !reinvite->second->finalSent)
        m_answers.answer(reinvite->second.get(), 487);
    osip_dialog_t* dialog = call->dialog;
    osip_message_t* bye = nullptr;
    if (!dialog || osip_message_init(&bye) != 0) {
        releaseCall(call);
        return;
    }
    osip_message_set_method(bye, osip_strdup("BYE"));
    osip_message_set_version(bye, osip_strdup("SIP/2.0"));
    osip_uri_t* target = nullptr;
    if (dialog->remote_contact_uri && dialog->remote_contact_uri->url)
        osip_uri_clone(dialog->remote_contact_uri->url, &target);
    else if (dialog->remote_uri && dialog->remote_uri->url)
        osip_uri_clone(dialog->remote_uri->url, &target);
    if (target)
        osip_message_set_uri(bye, target);
    for (int i = 0; !osip_list_eol(&dialog->route_set, i); ++i) {
        osip_route_t* route = nullptr;
        if (osip_route_clone(static_cast<osip_route_t*>(osip_list_get(&dialog->route_set, i)), &route) == 0)
            osip_list_add(&bye->routes, route, -1);
    }
    osip_from_clone(dialog->local_uri, &bye->from);
    if (bye->from && !SipMessage::tagOf(bye->from))
        osip_from_set_tag(bye->from, osip_strdup(dialog->local_tag));
    osip_to_clone(dialog->remote_uri, &bye->to);
    if (bye->to && !SipMessage::tagOf(bye->to) && dialog->remote_tag)
        osip_to_set_tag(bye->to, osip_strdup(dialog->remote_tag));
    osip_message_set_call_id(bye, dialog->call_id);
    osip_message_set_cseq(bye, (std::to_string(++call->localCseq) + " BYE").c_str());
    osip_message_set_max_forwards(bye, "70");
    if (!m_userAgent.empty())
        osip_message_set_header(bye, "User-Agent", m_userAgent.c_str());

    // Next hop: the first route, else the remote target; without either, where the INVITE came from.
    std::string host = ipv4Text(call->peer.sin_addr);
    int port = ntohs(call->peer.sin_port);
    osip_route_t* first = static_cast<osip_route_t*>(osip_list_get(&bye->routes, 0));
    const osip_uri_t* hop = first && first->url ? first->url : bye->req_uri;
    if (hop && hop->host && *hop->host && SipMessage::portOf(hop->port, 5060) > 0) {
        host = hop->host;
        port = SipMessage::portOf(hop->port, 5060);
    }
    auto tx = std::make_unique<Tx>();
    tx->tid = nextId();
    tx->kind = Tx::ClientBye;
    tx->cid = call->cid;
    call->byeTid = tx->tid;
    Tx* raw = tx.get();
    m_txs[raw->tid] = std::move(tx);
    if (!bye->req_uri || !bye->from || !bye->to || !bye->call_id) {
        osip_message_free(bye);
        clientFailed(raw);
        return;
    }
    transmit(raw, bye, host, port);
}

// ---------------------------------------------------------------------------------------------
// Requests we send

int SipStack::transmit(Tx* tx, osip_message_t* request, const std::string& host, int port)
{
    in_addr address{};
    if (inet_pton(AF_INET, host.c_str(), &address) == 1) {
        finishTransmit(tx, request, address, port);
        return 0;
    }
    tx->waitHost = host;
    tx->waitPort = port;
    SipRoutes::Lookup cached;
    if (m_routes.cachedLookup(host, nowMs(), &cached)) {
        if (cached.ok) {
            finishTransmit(tx, request, cached.address, port);
        } else {
            osip_message_free(request);
            clientFailed(tx);
        }
        return 0;
    }
    if (!m_resolver || SipText::hasControl(host)) {
        osip_message_free(request);
        clientFailed(tx);
        return 0;
    }
    tx->waiting.reset(request);
    m_resolver->request(host);
    return 0;
}

void SipStack::finishTransmit(Tx* tx, osip_message_t* request, const in_addr& address, int port)
{
    tx->peer = sockaddr_in{};
    tx->peer.sin_family = AF_INET;
    tx->peer.sin_addr = address;
    tx->peer.sin_port = htons(static_cast<uint16_t>(port));
    in_addr ip{};
    int natPort = 0;
    localAddressFor(tx->waitHost.empty() ? ipv4Text(address) : tx->waitHost, port, address, &ip, &natPort);
    SipMessage::clearList(&request->vias, &osip_via_free);
    const std::string via = "SIP/2.0/UDP " + ipv4Text(ip) + ":" + std::to_string(natPort) + ";rport;branch=z9hG4bK" +
                            randomHex(8);
    osip_message_set_via(request, via.c_str());
    if (tx->kind == Tx::ClientRegister) {
        const SipRegistration* reg = m_registrations.find(tx->rid);
        if (reg && reg->autoContact && request->from && request->from->url) {
            SipMessage::clearList(&request->contacts, &osip_contact_free);
            const char* user = request->from->url->username;
            m_answers.addContact(request, user ? user : "", ip, natPort);
        }
    }
    osip_message_force_update(request);
    osip_transaction_t* transaction = nullptr;
    if (osip_transaction_init(&transaction, NICT, m_osip, request) != 0 || !transaction) {
        RDLOG("cannot open a transaction for %s", SipMessage::methodOf(request));
        osip_message_free(request);
        clientFailed(tx);
        return;
    }
    scaledTimers(transaction);
    osip_transaction_set_your_instance(transaction, tx);
    tx->tr = transaction;
    tx->request.reset(SipMessage::clone(request));
    osip_event_t* event = osip_new_outgoing_sipmessage(request);
    if (event)
        osip_transaction_add_event(transaction, event);
    wake();
}

void SipStack::clientFailed(Tx* tx)
{
    if (tx->finalSeen)
        return;
    tx->finalSeen = true;
    if (tx->kind == Tx::ClientRegister) {
        m_registrations.failed(tx);
    } else if (tx->kind == Tx::ClientBye) {
        auto it = m_calls.find(tx->cid);
        if (it != m_calls.end() && it->second->byeTid == tx->tid)
            releaseCall(it->second.get());
    }
    if (!tx->tr)
        m_killed.push_back(tx->tid);
}

void SipStack::handleByeResponse(Tx* tx, osip_message_t* response)
{
    const int status = response->status_code;
    auto it = m_calls.find(tx->cid);
    Call* call = it == m_calls.end() ? nullptr : it->second.get();
    if (status >= 200)
        tx->finalSeen = true;
    if (!call || call->byeTid != tx->tid) {
        osip_message_free(response);
        return;
    }
    // 1xx to 6xx: CallMessageProceeding to CallMessageGlobalFailure, one type per class.
    const auto type = static_cast<SipStackEvent::Type>(SipStackEvent::CallMessageProceeding +
                                                       std::min(std::max(status / 100, 1), 6) - 1);
    auto* event = makeEvent(type, "Answer to BYE");
    event->cid = call->cid;
    event->did = call->did;
    event->tid = tx->tid;
    event->request = SipMessage::clone(tx->request.get());
    event->response = response;
    pushEvent(event);
    if (status >= 200)
        releaseCall(call);
}

// ---------------------------------------------------------------------------------------------
// Registrations

int SipStack::registerBuildInitial(const char* from, const char* registrar, const char* contact, int expires,
                                   osip_message_t** registerMessage)
{
    requireLock(__func__);
    return m_registrations.buildInitial(from, registrar, contact, expires, registerMessage);
}

int SipStack::registerSend(int rid, osip_message_t* registerMessage)
{
    requireLock(__func__);
    return m_registrations.send(rid, registerMessage);
}

int SipStack::registerBuild(int rid, int expires, osip_message_t** registerMessage)
{
    requireLock(__func__);
    return m_registrations.build(rid, expires, registerMessage);
}

int SipStack::registerRemove(int rid)
{
    requireLock(__func__);
    return m_registrations.remove(rid);
}

int SipStack::addAuthInfo(const char* user, const char* userid, const char* password, const char* ha1,
                          const char* realm)
{
    requireLock(__func__);
    return m_registrations.credentials().add(user, userid, password, ha1, realm);
}

int SipStack::removeAuthInfo(const char* user, const char* realm)
{
    requireLock(__func__);
    return m_registrations.credentials().remove(user, realm);
}

// ---------------------------------------------------------------------------------------------
// Addresses

int SipStack::masqueradeFor(const char* destHost, int destPort, const char* ip, int port)
{
    const bool took = !ownsLock();
    if (took)
        lock();
    const int result = m_routes.masquerade(destHost, destPort, ip, port);
    if (took)
        unlock();
    return result;
}

bool SipStack::localAddressFor(const std::string& host, int port, const in_addr& address, in_addr* ip, int* natPort)
{
    return m_routes.localAddressFor(host, port, address, m_transport.port(), nowMs(), ip, natPort);
}

void SipStack::takeResolverResults()
{
    if (!m_resolver)
        return;
    const std::vector<SipResolverThread::Result> results = m_resolver->takeResults();
    if (results.empty())
        return;
    const int64_t now = nowMs();
    for (const SipResolverThread::Result& result : results) {
        m_routes.storeLookup(result.host, result.ok, result.address, now);
        std::vector<int> waiting;
        for (const auto& item : m_txs) {
            if (item.second->waiting && item.second->waitHost == result.host)
                waiting.push_back(item.first);
        }
        for (int tid : waiting) {
            Tx* tx = m_txs[tid].get();
            osip_message_t* request = tx->waiting.release();
            if (result.ok) {
                finishTransmit(tx, request, result.address, tx->waitPort);
            } else {
                tx->waiting.reset(request); // kept for the failure event
                clientFailed(tx);
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Helpers for the application

sdp_message_t* SipStack::remoteSdp(int tid)
{
    requireLock(__func__);
    auto it = m_txs.find(tid);
    if (it == m_txs.end() || !it->second->request.get())
        return nullptr;
    osip_message_t* request = it->second->request.get();
    osip_body_t* body = nullptr;
    if (osip_message_get_body(request, 0, &body) < 0 || !body || !body->body)
        return nullptr;
    const osip_content_type_t* type = request->content_type;
    if (!type || !SipText::equalsIgnoreCase(type->type, "application") ||
        !SipText::equalsIgnoreCase(type->subtype, "sdp"))
        return nullptr;
    return SipStackSdp::parse(body->body, body->length);
}
