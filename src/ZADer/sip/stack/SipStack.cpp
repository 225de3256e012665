#include "SipStack.h"

#include "RDLog.h"
#include "RDThread.h"
#include "SipDigest.h"
#include "SipLocalIp.h"
#include "SipResolverThread.h"
#include "SipStackThread.h"
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
constexpr int kMaxDatagram = 65535;
constexpr int kReadsPerPass = 256;
constexpr int kMaxWaitMs = 100;
// An INVITE that the application has answered with a provisional response may ring this long.
constexpr int kRingingLimitMs = 180000;
constexpr int64_t kResolvedMs = 60000;
constexpr int64_t kUnresolvedMs = 10000;
constexpr size_t kCacheLimit = 256;
constexpr size_t kEventWarning = 1000;
// Far beyond any backlog a working reader leaves; only a reader that stopped reading gets here.
constexpr size_t kEventLimit = 20000;
const char* const kAllow = "INVITE, ACK, CANCEL, BYE, OPTIONS, INFO, UPDATE, NOTIFY, MESSAGE";

std::atomic<int> g_lastId{0};

// Ids are unique for the whole process, so a stale id held across a restart names nothing.
int nextId()
{
    return ++g_lastId;
}

std::string addressText(const in_addr& address)
{
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, text, sizeof(text));
    return text;
}

const char* methodOf(const osip_message_t* message)
{
    return message && message->sip_method ? message->sip_method : "";
}

bool isMethod(const osip_message_t* message, const char* method)
{
    return message && MSG_IS_REQUEST(message) && message->sip_method &&
           std::strcmp(message->sip_method, method) == 0;
}

// A CSeq number: 1 to 10 digits below 2^31.
bool parseCseq(const char* text, int* value)
{
    if (!text || !*text)
        return false;
    long long number = 0;
    int digits = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9' || ++digits > 10)
            return false;
        number = number * 10 + (*p - '0');
    }
    if (number > 0x7FFFFFFF)
        return false;
    if (value)
        *value = static_cast<int>(number);
    return true;
}

int cseqOf(const osip_message_t* message)
{
    int value = -1;
    if (message && message->cseq)
        parseCseq(message->cseq->number, &value);
    return value;
}

// A port text of a URI; fallback when absent, -1 when it is not a port.
int portOf(const char* text, int fallback)
{
    if (!text || !*text)
        return fallback;
    int value = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9' || value > 65535)
            return -1;
        value = value * 10 + (*p - '0');
    }
    return value >= 1 && value <= 65535 ? value : -1;
}

// The value of a ;name=value parameter; null when absent or bare.
const char* paramOf(osip_list_t* params, const char* name)
{
    osip_generic_param_t* param = nullptr;
    if (osip_generic_param_get_byname(params, const_cast<char*>(name), &param) == 0 && param && param->gvalue)
        return param->gvalue;
    return nullptr;
}

const char* tagOf(osip_from_t* header)
{
    return header ? paramOf(&header->gen_params, "tag") : nullptr;
}

const char* branchOf(const osip_message_t* message)
{
    osip_via_t* via = static_cast<osip_via_t*>(osip_list_get(&message->vias, 0));
    return via ? paramOf(&via->via_params, "branch") : nullptr;
}

bool sameText(const char* a, const char* b)
{
    return a && b && std::strcmp(a, b) == 0;
}

// Empties a header list of a message, freeing its entries.
template <typename Header>
void clearList(osip_list_t* list, void (*release)(Header*))
{
    while (!osip_list_eol(list, 0)) {
        auto* header = static_cast<Header*>(osip_list_get(list, 0));
        osip_list_remove(list, 0);
        release(header);
    }
}

// Sets a header that occurs once, replacing an earlier value.
void replaceHeader(osip_message_t* message, const char* name, const std::string& value)
{
    osip_header_t* header = nullptr;
    if (osip_message_header_get_byname(message, name, 0, &header) >= 0 && header) {
        osip_free(header->hvalue);
        header->hvalue = osip_strdup(value.c_str());
    } else {
        osip_message_set_header(message, name, value.c_str());
    }
}

const char* headerValue(const osip_message_t* message, const char* name)
{
    osip_header_t* header = nullptr;
    if (message && osip_message_header_get_byname(message, name, 0, &header) >= 0 && header)
        return header->hvalue;
    return nullptr;
}

// The option tags of every Require header, comma-separated.
std::string requiredOptions(const osip_message_t* message)
{
    std::string options;
    osip_header_t* header = nullptr;
    int position = 0;
    while ((position = osip_message_header_get_byname(message, "require", position, &header)) >= 0) {
        if (header && header->hvalue && *header->hvalue) {
            if (!options.empty())
                options += ", ";
            options += header->hvalue;
        }
        ++position;
    }
    return options;
}

bool sameUri(const osip_uri_t* a, const osip_uri_t* b)
{
    if (!a || !b || !a->host || !b->host)
        return false;
    const std::string userA = a->username ? a->username : "";
    const std::string userB = b->username ? b->username : "";
    return userA == userB && SipText::equalsIgnoreCase(a->host, b->host) &&
           portOf(a->port, 5060) == portOf(b->port, 5060);
}

// Appends copies of the message's Record-Route entries, in order.
void copyRecordRoutes(const osip_message_t* message, osip_list_t* to)
{
    for (int i = 0; !osip_list_eol(&message->record_routes, i); ++i) {
        osip_record_route_t* copy = nullptr;
        if (osip_record_route_clone(static_cast<osip_record_route_t*>(osip_list_get(&message->record_routes, i)),
                                    &copy) == 0)
            osip_list_add(to, copy, -1);
    }
}

osip_message_t* cloneMessage(const osip_message_t* message)
{
    osip_message_t* copy = nullptr;
    if (!message || osip_message_clone(message, &copy) != 0)
        return nullptr;
    return copy;
}

} // namespace

struct SipStack::Tx
{
    enum Kind { ServerInvite, ServerRequest, ClientRegister, ClientBye };

    ~Tx()
    {
        if (request)
            osip_message_free(request);
        if (waiting)
            osip_message_free(waiting);
    }

    int tid = 0;
    int kind = ServerRequest;
    osip_transaction_t* tr = nullptr;
    // The request as received (server) or as sent (client).
    osip_message_t* request = nullptr;
    // Server: where the request came from and the address it was sent to. Client: destination.
    sockaddr_in peer{};
    in_addr local{};
    int cid = 0;
    int rid = 0;
    bool inDialog = false;
    bool appAnswers = false;
    bool finalSent = false;
    bool finalSeen = false;
    int64_t deadlineMs = 0;
    std::string toTag;
    // A request waiting for the name lookup of its destination.
    osip_message_t* waiting = nullptr;
    std::string waitHost;
    int waitPort = 0;
};

struct SipStack::Call
{
    enum State { Early, Confirmed, Ending };

    ~Call()
    {
        if (dialog)
            osip_dialog_free(dialog);
        if (invite)
            osip_message_free(invite);
        if (okInvite)
            osip_message_free(okInvite);
    }

    int cid = 0;
    int did = 0;
    int state = Early;
    osip_dialog_t* dialog = nullptr;
    std::string localTag;
    osip_message_t* invite = nullptr;
    int inviteTid = 0;
    sockaddr_in peer{};
    in_addr local{};
    int localCseq = 0;
    int reinviteTid = 0;
    bool byeHeld = false;
    int byeTid = 0;
    // The last 2xx to an INVITE of this dialog: sent again for a repeated INVITE, and
    // retransmitted until the ACK while okWaitingAck.
    std::string okBytes;
    sockaddr_in okPeer{};
    int okCseq = -1;
    int okTid = 0;
    osip_message_t* okInvite = nullptr;
    bool okWaitingAck = false;
    int okIntervalMs = 0;
    int64_t okNextMs = 0;
    int64_t okDeadlineMs = 0;
};

struct SipStack::Registration
{
    ~Registration()
    {
        if (last)
            osip_message_free(last);
        if (challenge)
            osip_message_free(challenge);
    }

    int rid = 0;
    // The last REGISTER built or sent; the next one is a copy of it.
    osip_message_t* last = nullptr;
    int expires = 0;
    int cseq = 1;
    bool pending = false;
    int pendingTid = 0;
    bool autoContact = false;
    osip_message_t* challenge = nullptr;
    std::string nonce;
    int nonceCount = 0;
    int consecutive423 = 0;
};

// ---------------------------------------------------------------------------------------------
// Life cycle

SipStack::SipStack()
{
    std::random_device device;
    std::seed_seq seed{device(), device(), device(), device()};
    m_random.seed(seed);
}

SipStack* SipStack::create()
{
    auto* stack = new SipStack();
    if (!stack->initOsip()) {
        RDLOG("cannot initialise the SIP stack");
        delete stack;
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
    m_thread = new SipStackThread(this);
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
    m_auth.clear();
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

SipStackEvent* SipStack::makeEvent(int type, const char* text)
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
        handleDatagram(data, size, from, local);
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
                RDLOG("dropped an oversized datagram from %s:%d", addressText(from.sin_addr).c_str(),
                      ntohs(from.sin_port));
                continue;
            }
            handleDatagram(buffer.data(), static_cast<size_t>(length), from, local);
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
                handleRegisterResponse(it->second.get(), item.response);
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

void SipStack::reclaimAnswered()
{
    // Answered non-INVITE server transactions only absorb retransmissions until Timer J; under a
    // burst the oldest of them make room (a late retransmission then counts as a new request).
    std::vector<int> oldest;
    for (const auto& entry : m_txs) {
        const Tx* tx = entry.second.get();
        if (tx->kind == Tx::ServerRequest && tx->finalSent)
            oldest.push_back(entry.first);
        if (oldest.size() >= static_cast<size_t>(kMaxTransactions / 8))
            break;
    }
    for (int tid : oldest)
        freeTx(tid);
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
        RDLOG("%s (transaction %d) left unanswered, answering 500", methodOf(tx->request), tx->tid);
        auto callIt = m_calls.find(tx->cid);
        Call* call = callIt == m_calls.end() ? nullptr : callIt->second.get();
        answer(tx, 500);
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
        RDLOG("cannot write a %s message", MSG_IS_RESPONSE(message) ? "response" : methodOf(message));
        return -1;
    }
    m_transport.send(text, length, to);
    if (tx && tx->kind == Tx::ServerInvite && MSG_IS_RESPONSE(message) && MSG_IS_STATUS_2XX(message))
        okSent(tx, text, length);
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
    osip_message_t* copy = cloneMessage(message);
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
// Receive path

void SipStack::handleDatagram(const char* data, size_t size, const sockaddr_in& from, const in_addr& local)
{
    if (size == 0 || size > kMaxDatagram)
        return;
    bool blank = true;
    for (size_t i = 0; i < size && blank; ++i)
        blank = data[i] == '\r' || data[i] == '\n' || data[i] == ' ' || data[i] == '\t';
    if (blank)
        return; // keep-alive
    const std::string text(data, size);
    osip_event_t* event = osip_parse(text.c_str(), text.size());
    if (!event || !event->sip) {
        RDLOG("dropped a datagram from %s:%d that is not a SIP message", addressText(from.sin_addr).c_str(),
              ntohs(from.sin_port));
        if (event)
            osip_event_free(event);
        return;
    }
    osip_message_t* message = event->sip;
    if (!wellFormed(message)) {
        RDLOG("dropped a malformed SIP message from %s:%d", addressText(from.sin_addr).c_str(), ntohs(from.sin_port));
        osip_via_t* via = static_cast<osip_via_t*>(osip_list_get(&message->vias, 0));
        if (MSG_IS_REQUEST(message) && message->sip_method && std::strcmp(message->sip_method, "ACK") != 0 && via &&
            via->host)
            sendStateless(message, 400, from);
        osip_event_free(event);
        return;
    }
    if (MSG_IS_RESPONSE(message)) {
        if (osip_find_transaction_and_add_event(m_osip, event) != OSIP_SUCCESS)
            osip_event_free(event);
        return;
    }
    handleRequest(event, from, local);
}

bool SipStack::wellFormed(osip_message_t* message) const
{
    if (!message->from || !message->from->url || !message->to || !message->to->url)
        return false;
    if (!message->call_id || !message->call_id->number || !*message->call_id->number)
        return false;
    if (!message->cseq || !message->cseq->method || !parseCseq(message->cseq->number, nullptr))
        return false;
    osip_via_t* via = static_cast<osip_via_t*>(osip_list_get(&message->vias, 0));
    if (!via || !via->host || !*via->host || !via->protocol || !via->version)
        return false;
    if (MSG_IS_REQUEST(message)) {
        if (!message->sip_method || !message->req_uri || !message->req_uri->scheme)
            return false;
        return std::strcmp(message->sip_method, message->cseq->method) == 0;
    }
    return message->status_code >= 100 && message->status_code <= 699;
}

void SipStack::handleRequest(osip_event_t* event, const sockaddr_in& from, const in_addr& local)
{
    osip_message_t* request = event->sip;
    osip_message_fix_last_via_header(request, addressText(from.sin_addr).c_str(), ntohs(from.sin_port));
    osip_message_force_update(request);
    if (isMethod(request, "ACK")) {
        if (osip_find_transaction_and_add_event(m_osip, event) == OSIP_SUCCESS)
            return; // the ACK of a final non-2xx answer, absorbed by its transaction
        handleDialogAck(request);
        osip_event_free(event);
        return;
    }
    if (osip_find_transaction_and_add_event(m_osip, event) == OSIP_SUCCESS)
        return; // a retransmission; the transaction repeats its last answer
    if (m_txs.size() >= static_cast<size_t>(kMaxTransactions))
        reclaimAnswered();
    if (m_txs.size() >= static_cast<size_t>(kMaxTransactions)) {
        RDLOG("%zu SIP transactions open: %s from %s:%d answered 503", m_txs.size(), methodOf(request),
              addressText(from.sin_addr).c_str(), ntohs(from.sin_port));
        sendStateless(request, 503, from);
        osip_event_free(event);
        return;
    }
    if (isMethod(request, "CANCEL")) {
        handleCancel(event, from, local);
        return;
    }
    if (tagOf(request->to)) {
        handleInDialog(event, findDialog(request), from, local);
        return;
    }
    if (isMethod(request, "INVITE")) {
        handleNewInvite(event, from, local);
        return;
    }
    handleOutOfDialog(event, from, local);
}

SipStack::Tx* SipStack::createServerTx(osip_event_t* event, int kind, const sockaddr_in& from, const in_addr& local)
{
    osip_message_t* copy = cloneMessage(event->sip);
    if (!copy) {
        RDLOG("cannot copy a %s request; dropped", methodOf(event->sip));
        osip_event_free(event);
        return nullptr;
    }
    osip_transaction_t* transaction = osip_create_transaction(m_osip, event);
    if (!transaction) {
        RDLOG("cannot open a transaction for %s; dropped", methodOf(event->sip));
        osip_message_free(copy);
        osip_event_free(event);
        return nullptr;
    }
    scaledTimers(transaction);
    auto tx = std::make_unique<Tx>();
    tx->tid = nextId();
    tx->kind = kind;
    tx->tr = transaction;
    tx->request = copy;
    tx->peer = from;
    tx->local = local;
    osip_transaction_set_your_instance(transaction, tx.get());
    osip_transaction_add_event(transaction, event);
    Tx* raw = tx.get();
    m_txs[raw->tid] = std::move(tx);
    return raw;
}

SipStack::Call* SipStack::findDialog(osip_message_t* request)
{
    for (auto& entry : m_calls) {
        Call* call = entry.second.get();
        if (call->dialog && osip_dialog_match_as_uas(call->dialog, request) == 0)
            return call;
    }
    return nullptr;
}

SipStack::Call* SipStack::findCallByInvite(osip_message_t* invite)
{
    const char* fromTag = tagOf(invite->from);
    for (auto& entry : m_calls) {
        Call* call = entry.second.get();
        if (sameText(call->invite->call_id->number, invite->call_id->number) &&
            sameText(tagOf(call->invite->from), fromTag))
            return call;
    }
    return nullptr;
}

bool SipStack::resendOk(Call* call, osip_message_t* invite)
{
    if (call->okBytes.empty() || call->okCseq != cseqOf(invite))
        return false;
    m_transport.send(call->okBytes.data(), call->okBytes.size(), call->okPeer);
    return true;
}

void SipStack::handleNewInvite(osip_event_t* event, const sockaddr_in& from, const in_addr& local)
{
    if (Call* call = findCallByInvite(event->sip)) {
        // Its transaction ended with the 2xx: a repeated INVITE gets that 2xx again. Another
        // INVITE of that call without a To tag (a fork or a loop back to us) is dropped.
        if (!resendOk(call, event->sip))
            RDLOG("dropped a second INVITE without To tag for call %d", call->cid);
        osip_event_free(event);
        return;
    }
    Tx* tx = createServerTx(event, Tx::ServerInvite, from, local);
    if (!tx)
        return;
    const std::string required = requiredOptions(tx->request);
    if (!required.empty()) {
        answer(tx, 420, "Unsupported", required.c_str());
        return;
    }
    if (m_calls.size() >= static_cast<size_t>(kMaxCalls)) {
        RDLOG("%d calls open: INVITE from %s:%d answered 503", kMaxCalls, addressText(from.sin_addr).c_str(),
              ntohs(from.sin_port));
        answer(tx, 503);
        return;
    }
    Call* call = newCall(tx->request, from, local);
    osip_message_t* trying = call ? buildResponse(tx->request, 100, call->localTag) : nullptr;
    if (!trying || osip_dialog_init_as_uas(&call->dialog, tx->request, trying) != 0) {
        RDLOG("cannot open a dialog for the INVITE from %s:%d", addressText(from.sin_addr).c_str(),
              ntohs(from.sin_port));
        if (trying)
            osip_message_free(trying);
        if (call)
            m_calls.erase(call->cid);
        answer(tx, 400);
        return;
    }
    // The route set is the INVITE's Record-Route list as it stands (libosip2 takes it from the
    // answer, and a 100 carries none).
    if (osip_list_eol(&call->dialog->route_set, 0))
        copyRecordRoutes(tx->request, &call->dialog->route_set);
    call->inviteTid = tx->tid;
    tx->cid = call->cid;
    tx->appAnswers = true;
    tx->deadlineMs = nowMs() + 64LL * m_t1;
    auto* incoming = makeEvent(SipStackEvent::CallInvite, "New call received");
    incoming->cid = call->cid;
    incoming->did = call->did;
    incoming->tid = tx->tid;
    incoming->request = cloneMessage(tx->request);
    incoming->response = cloneMessage(trying);
    sendResponse(tx, trying);
    pushEvent(incoming);
}

SipStack::Call* SipStack::newCall(osip_message_t* invite, const sockaddr_in& from, const in_addr& local)
{
    auto call = std::make_unique<Call>();
    call->invite = cloneMessage(invite);
    if (!call->invite)
        return nullptr;
    call->cid = nextId();
    call->did = nextId();
    call->localTag = randomHex(8);
    call->peer = from;
    call->local = local;
    Call* raw = call.get();
    m_calls[raw->cid] = std::move(call);
    return raw;
}

void SipStack::handleCancel(osip_event_t* event, const sockaddr_in& from, const in_addr& local)
{
    osip_message_t* cancel = event->sip;
    const char* branch = branchOf(cancel);
    Tx* inviteTx = nullptr;
    for (auto& entry : m_txs) {
        Tx* candidate = entry.second.get();
        if (candidate->kind == Tx::ServerInvite && candidate->request && branch &&
            sameText(branchOf(candidate->request), branch) &&
            sameText(candidate->request->call_id->number, cancel->call_id->number)) {
            inviteTx = candidate;
            break;
        }
    }
    Tx* tx = createServerTx(event, Tx::ServerRequest, from, local);
    if (!tx)
        return;
    if (!inviteTx) {
        answer(tx, 481);
        return;
    }
    answer(tx, 200);
    if (inviteTx->finalSent || !inviteTx->tr)
        return;
    answer(inviteTx, 487);
    auto it = m_calls.find(inviteTx->cid);
    if (it == m_calls.end())
        return;
    Call* call = it->second.get();
    if (inviteTx->tid == call->inviteTid) {
        auto* cancelled = makeEvent(SipStackEvent::CallCancelled, "Call cancelled");
        cancelled->cid = call->cid;
        cancelled->did = call->did;
        cancelled->tid = inviteTx->tid;
        pushEvent(cancelled);
        releaseCall(call);
    } else if (call->reinviteTid == inviteTx->tid) {
        call->reinviteTid = 0;
    }
}

void SipStack::handleInDialog(osip_event_t* event, Call* call, const sockaddr_in& from, const in_addr& local)
{
    osip_message_t* request = event->sip;
    const bool invite = isMethod(request, "INVITE");
    if (call && invite && resendOk(call, request)) {
        osip_event_free(event);
        return;
    }
    Tx* tx = createServerTx(event, invite ? Tx::ServerInvite : Tx::ServerRequest, from, local);
    if (!tx)
        return;
    tx->inDialog = true;
    if (!call) {
        answer(tx, 481);
        return;
    }
    tx->cid = call->cid;
    request = tx->request;
    const int cseq = cseqOf(request);
    if (call->dialog && call->dialog->remote_cseq > cseq) {
        answer(tx, 500);
        return;
    }
    const auto update = [&] {
        if (call->dialog)
            call->dialog->remote_cseq = cseq;
    };
    const auto newRequest = [&](int type, const char* text) {
        update();
        tx->appAnswers = true;
        tx->deadlineMs = nowMs() + 64LL * m_t1;
        auto* incoming = makeEvent(type, text);
        incoming->cid = call->cid;
        incoming->did = call->did;
        incoming->tid = tx->tid;
        incoming->request = cloneMessage(request);
        pushEvent(incoming);
    };
    if (invite) {
        const std::string required = requiredOptions(request);
        if (!required.empty()) {
            answer(tx, 420, "Unsupported", required.c_str());
            return;
        }
        auto pending = m_txs.find(call->reinviteTid);
        const bool reinvitePending = pending != m_txs.end() && !pending->second->finalSent;
        if (call->state != Call::Confirmed || reinvitePending) {
            answer(tx, 500, "Retry-After", std::to_string(m_random() % 10 + 1).c_str());
            return;
        }
        // Target refresh: a new Contact becomes the dialog's remote target.
        osip_contact_t* contact = static_cast<osip_contact_t*>(osip_list_get(&request->contacts, 0));
        osip_contact_t* copy = nullptr;
        if (contact && contact->url && osip_contact_clone(contact, &copy) == 0 && call->dialog) {
            if (call->dialog->remote_contact_uri)
                osip_contact_free(call->dialog->remote_contact_uri);
            call->dialog->remote_contact_uri = copy;
        } else if (copy) {
            osip_contact_free(copy);
        }
        call->reinviteTid = tx->tid;
        newRequest(SipStackEvent::CallReinvite, "Call modified");
        return;
    }
    if (isMethod(request, "BYE")) {
        update();
        answer(tx, 200);
        if (call->state == Call::Early) {
            auto it = m_txs.find(call->inviteTid);
            if (it != m_txs.end() && !it->second->finalSent && it->second->tr)
                answer(it->second.get(), 487);
        }
        call->okWaitingAck = false;
        if (call->state != Call::Ending) {
            auto* closed = makeEvent(SipStackEvent::CallClosed, "Call closed");
            closed->cid = call->cid;
            closed->did = call->did;
            closed->request = cloneMessage(request);
            pushEvent(closed);
        }
        releaseCall(call);
        return;
    }
    static const char* const kAnswered[] = {"INFO", "UPDATE", "NOTIFY", "OPTIONS", "MESSAGE"};
    for (const char* method : kAnswered) {
        if (isMethod(request, method)) {
            newRequest(SipStackEvent::CallMessageNew, "New request in call");
            return;
        }
    }
    static const char* const kRefused[] = {"REFER", "SUBSCRIBE", "PRACK", "PUBLISH", "REGISTER"};
    for (const char* method : kRefused) {
        if (isMethod(request, method)) {
            answer(tx, 405);
            return;
        }
    }
    answer(tx, 501);
}

void SipStack::handleOutOfDialog(osip_event_t* event, const sockaddr_in& from, const in_addr& local)
{
    Tx* tx = createServerTx(event, Tx::ServerRequest, from, local);
    if (!tx)
        return;
    osip_message_t* request = tx->request;
    static const char* const kAnswered[] = {"MESSAGE", "OPTIONS", "INFO", "NOTIFY"};
    for (const char* method : kAnswered) {
        if (isMethod(request, method)) {
            tx->appAnswers = true;
            tx->deadlineMs = nowMs() + 64LL * m_t1;
            auto* incoming = makeEvent(SipStackEvent::MessageNew, "New request");
            incoming->tid = tx->tid;
            incoming->request = cloneMessage(request);
            pushEvent(incoming);
            return;
        }
    }
    static const char* const kRefused[] = {"SUBSCRIBE", "REFER", "PUBLISH", "REGISTER", "PRACK"};
    for (const char* method : kRefused) {
        if (isMethod(request, method)) {
            answer(tx, 405);
            return;
        }
    }
    if (isMethod(request, "BYE") || isMethod(request, "UPDATE")) {
        answer(tx, 481);
        return;
    }
    answer(tx, 501);
}

void SipStack::handleDialogAck(osip_message_t* ack)
{
    Call* call = findDialog(ack);
    if (!call || !call->okWaitingAck || call->okCseq != cseqOf(ack))
        return; // a stray or repeated ACK
    call->okWaitingAck = false;
    if (call->byeHeld) {
        call->byeHeld = false;
        sendBye(call);
        return;
    }
    auto* acked = makeEvent(SipStackEvent::CallAck, "ACK received");
    acked->cid = call->cid;
    acked->did = call->did;
    acked->tid = call->okTid;
    acked->request = cloneMessage(call->okInvite);
    acked->ack = cloneMessage(ack);
    pushEvent(acked);
}

// ---------------------------------------------------------------------------------------------
// Answers

osip_message_t* SipStack::buildResponse(const osip_message_t* request, int status, const std::string& toTag)
{
    osip_message_t* response = nullptr;
    if (osip_message_init(&response) != 0)
        return nullptr;
    osip_message_set_version(response, osip_strdup("SIP/2.0"));
    osip_message_set_status_code(response, status);
    const char* reason = osip_message_get_reason(status);
    osip_message_set_reason_phrase(response, osip_strdup(reason && *reason ? reason : "Unknown"));
    for (int i = 0; !osip_list_eol(&request->vias, i); ++i) {
        osip_via_t* copy = nullptr;
        if (osip_via_clone(static_cast<osip_via_t*>(osip_list_get(&request->vias, i)), &copy) == 0)
            osip_list_add(&response->vias, copy, -1);
    }
    if (request->from)
        osip_from_clone(request->from, &response->from);
    if (request->to) {
        osip_to_clone(request->to, &response->to);
        if (response->to && !toTag.empty() && !tagOf(response->to))
            osip_to_set_tag(response->to, osip_strdup(toTag.c_str()));
    }
    if (request->call_id)
        osip_call_id_clone(request->call_id, &response->call_id);
    if (request->cseq)
        osip_cseq_clone(request->cseq, &response->cseq);
    if (!m_userAgent.empty())
        osip_message_set_header(response, "User-Agent", m_userAgent.c_str());
    return response;
}

std::string SipStack::toTagFor(Tx* tx, Call* call)
{
    if (tagOf(tx->request->to))
        return std::string();
    if (call)
        return call->localTag;
    if (tx->toTag.empty())
        tx->toTag = randomHex(8);
    return tx->toTag;
}

void SipStack::answer(Tx* tx, int status, const char* extraName, const char* extraValue)
{
    auto it = m_calls.find(tx->cid);
    osip_message_t* response = buildResponse(tx->request, status, toTagFor(tx, it == m_calls.end() ? nullptr : it->second.get()));
    if (!response)
        return;
    if (status == 405 || status == 501)
        osip_message_set_header(response, "Allow", kAllow);
    if (extraName)
        osip_message_set_header(response, extraName, extraValue);
    sendResponse(tx, response);
}

void SipStack::sendResponse(Tx* tx, osip_message_t* response)
{
    if (!tx->tr) {
        osip_message_free(response);
        return;
    }
    if (response->status_code >= 200)
        tx->finalSent = true;
    osip_event_t* event = osip_new_outgoing_sipmessage(response);
    if (!event) {
        osip_message_free(response);
        return;
    }
    osip_transaction_add_event(tx->tr, event);
    wake();
}

void SipStack::sendStateless(osip_message_t* request, int status, const sockaddr_in& to)
{
    osip_message_t* response = buildResponse(request, status, randomHex(8));
    if (!response)
        return;
    char* text = nullptr;
    size_t length = 0;
    if (osip_message_to_str(response, &text, &length) == 0 && text)
        m_transport.send(text, length, to);
    if (text)
        osip_free(text);
    osip_message_free(response);
}

void SipStack::contactAddressFor(const sockaddr_in& peer, const in_addr& local, in_addr* ip, int* port)
{
    if (!localAddressFor(addressText(peer.sin_addr), ntohs(peer.sin_port), peer.sin_addr, ip, port) &&
        local.s_addr != htonl(INADDR_ANY))
        *ip = local; // the address the request was sent to
}

void SipStack::addContact(osip_message_t* message, const std::string& user, const in_addr& ip, int port)
{
    osip_contact_t* contact = nullptr;
    osip_uri_t* uri = nullptr;
    if (osip_contact_init(&contact) != 0)
        return;
    if (osip_uri_init(&uri) != 0) {
        osip_contact_free(contact);
        return;
    }
    osip_uri_set_scheme(uri, osip_strdup("sip"));
    if (!user.empty())
        osip_uri_set_username(uri, osip_strdup(user.c_str()));
    osip_uri_set_host(uri, osip_strdup(addressText(ip).c_str()));
    osip_uri_set_port(uri, osip_strdup(std::to_string(port).c_str()));
    contact->url = uri;
    osip_list_add(&message->contacts, contact, -1);
}

int SipStack::answerTarget(int tid, bool forCall, Tx** found, Call** foundCall)
{
    auto it = m_txs.find(tid);
    if (it == m_txs.end())
        return OSIP_NOTFOUND;
    Tx* tx = it->second.get();
    const bool server = tx->kind == Tx::ServerInvite || tx->kind == Tx::ServerRequest;
    const bool ofCall = tx->kind == Tx::ServerInvite || tx->inDialog;
    if (!server || ofCall != forCall)
        return OSIP_BADPARAMETER;
    Call* call = nullptr;
    if (forCall) {
        auto callIt = m_calls.find(tx->cid);
        if (callIt == m_calls.end())
            return OSIP_NOTFOUND;
        call = callIt->second.get();
    }
    if (tx->finalSent || !tx->tr)
        return OSIP_WRONG_STATE;
    *found = tx;
    *foundCall = call;
    return 0;
}

int SipStack::buildAnswer(int tid, int status, osip_message_t** answer, bool forCall)
{
    if (!answer)
        return OSIP_BADPARAMETER;
    *answer = nullptr;
    if (status < 101 || status > 699)
        return OSIP_BADPARAMETER;
    Tx* tx = nullptr;
    Call* call = nullptr;
    const int result = answerTarget(tid, forCall, &tx, &call);
    if (result != 0)
        return result;
    osip_message_t* response = buildResponse(tx->request, status, toTagFor(tx, call));
    if (!response)
        return OSIP_NOMEM;
    if (tx->kind == Tx::ServerInvite && status < 300) {
        in_addr ip{};
        int port = 0;
        contactAddressFor(tx->peer, tx->local, &ip, &port);
        const char* user = tx->request->req_uri ? tx->request->req_uri->username : nullptr;
        addContact(response, user ? user : "", ip, port);
        copyRecordRoutes(tx->request, &response->record_routes);
    }
    if (status >= 200 && status < 300 && (tx->kind == Tx::ServerInvite || isMethod(tx->request, "OPTIONS")))
        osip_message_set_header(response, "Allow", kAllow);
    if (status >= 200 && status < 300 && isMethod(tx->request, "OPTIONS"))
        osip_message_set_header(response, "Accept", "application/sdp");
    *answer = response;
    return 0;
}

int SipStack::takeAnswer(int tid, int status, osip_message_t** answer, bool forCall, Tx** tx, Call** call)
{
    const int result = answerTarget(tid, forCall, tx, call);
    if (result != 0) {
        if (*answer)
            osip_message_free(*answer);
        *answer = nullptr;
        return result;
    }
    if (!*answer) {
        const int built = buildAnswer(tid, status, answer, forCall);
        if (built != 0)
            return built;
    }
    if ((*answer)->status_code < 101 || (*answer)->status_code > 699) {
        osip_message_free(*answer);
        *answer = nullptr;
        return OSIP_BADPARAMETER;
    }
    return 0;
}

int SipStack::messageBuildAnswer(int tid, int status, osip_message_t** answer)
{
    requireLock(__func__);
    return buildAnswer(tid, status, answer, false);
}

int SipStack::messageSendAnswer(int tid, int status, osip_message_t* answer)
{
    requireLock(__func__);
    Tx* tx = nullptr;
    Call* call = nullptr;
    const int result = takeAnswer(tid, status, &answer, false, &tx, &call);
    if (result == 0)
        sendResponse(tx, answer);
    return result;
}

int SipStack::callBuildAnswer(int tid, int status, osip_message_t** answer)
{
    requireLock(__func__);
    return buildAnswer(tid, status, answer, true);
}

int SipStack::callSendAnswer(int tid, int status, osip_message_t* answer)
{
    requireLock(__func__);
    Tx* tx = nullptr;
    Call* call = nullptr;
    const int result = takeAnswer(tid, status, &answer, true, &tx, &call);
    if (result != 0)
        return result;
    const int code = answer->status_code;
    if (tx->kind != Tx::ServerInvite) {
        sendResponse(tx, answer);
        return 0;
    }
    if (code >= 200 && code < 300) {
        call->okCseq = cseqOf(tx->request);
        call->okTid = tid;
        if (call->okInvite)
            osip_message_free(call->okInvite);
        call->okInvite = cloneMessage(tx->request);
        call->okBytes.clear();
        call->okWaitingAck = true;
        if (tid == call->inviteTid) {
            call->state = Call::Confirmed;
            if (call->dialog)
                osip_dialog_set_state(call->dialog, DIALOG_CONFIRMED);
        } else if (call->reinviteTid == tid) {
            call->reinviteTid = 0;
        }
        sendResponse(tx, answer);
        return 0;
    }
    if (code >= 300) {
        sendResponse(tx, answer);
        if (tid == call->inviteTid)
            releaseCall(call);
        else if (call->reinviteTid == tid)
            call->reinviteTid = 0;
        return 0;
    }
    tx->deadlineMs = nowMs() + kRingingLimitMs;
    sendResponse(tx, answer);
    return 0;
}

void SipStack::okSent(Tx* tx, const char* bytes, size_t size)
{
    auto it = m_calls.find(tx->cid);
    if (it == m_calls.end() || it->second->okTid != tx->tid)
        return;
    Call* call = it->second.get();
    call->okBytes.assign(bytes, size);
    call->okPeer = tx->peer;
    call->okIntervalMs = m_t1;
    const int64_t now = nowMs();
    call->okNextMs = now + m_t1;
    call->okDeadlineMs = now + 64LL * m_t1;
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
            answer(txIt->second.get(), 603);
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
        answer(reinvite->second.get(), 487);
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
    if (bye->from && !tagOf(bye->from))
        osip_from_set_tag(bye->from, osip_strdup(dialog->local_tag));
    osip_to_clone(dialog->remote_uri, &bye->to);
    if (bye->to && !tagOf(bye->to) && dialog->remote_tag)
        osip_to_set_tag(bye->to, osip_strdup(dialog->remote_tag));
    osip_message_set_call_id(bye, dialog->call_id);
    osip_message_set_cseq(bye, (std::to_string(++call->localCseq) + " BYE").c_str());
    osip_message_set_max_forwards(bye, "70");
    if (!m_userAgent.empty())
        osip_message_set_header(bye, "User-Agent", m_userAgent.c_str());

    // Next hop: the first route, else the remote target; without either, where the INVITE came from.
    std::string host = addressText(call->peer.sin_addr);
    int port = ntohs(call->peer.sin_port);
    osip_route_t* first = static_cast<osip_route_t*>(osip_list_get(&bye->routes, 0));
    const osip_uri_t* hop = first && first->url ? first->url : bye->req_uri;
    if (hop && hop->host && *hop->host && portOf(hop->port, 5060) > 0) {
        host = hop->host;
        port = portOf(hop->port, 5060);
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
    auto cached = m_resolved.find(host);
    if (cached != m_resolved.end() && cached->second.expiresMs > nowMs()) {
        if (cached->second.ok) {
            finishTransmit(tx, request, cached->second.address, port);
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
    tx->waiting = request;
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
    localAddressFor(tx->waitHost.empty() ? addressText(address) : tx->waitHost, port, address, &ip, &natPort);
    clearList(&request->vias, &osip_via_free);
    const std::string via = "SIP/2.0/UDP " + addressText(ip) + ":" + std::to_string(natPort) + ";rport;branch=z9hG4bK" +
                            randomHex(8);
    osip_message_set_via(request, via.c_str());
    if (tx->kind == Tx::ClientRegister) {
        auto reg = m_registrations.find(tx->rid);
        if (reg != m_registrations.end() && reg->second->autoContact && request->from && request->from->url) {
            clearList(&request->contacts, &osip_contact_free);
            const char* user = request->from->url->username;
            addContact(request, user ? user : "", ip, natPort);
        }
    }
    osip_message_force_update(request);
    osip_transaction_t* transaction = nullptr;
    if (osip_transaction_init(&transaction, NICT, m_osip, request) != 0 || !transaction) {
        RDLOG("cannot open a transaction for %s", methodOf(request));
        osip_message_free(request);
        clientFailed(tx);
        return;
    }
    scaledTimers(transaction);
    osip_transaction_set_your_instance(transaction, tx);
    tx->tr = transaction;
    if (tx->request)
        osip_message_free(tx->request);
    tx->request = cloneMessage(request);
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
        auto it = m_registrations.find(tx->rid);
        if (it != m_registrations.end() && it->second->pendingTid == tx->tid) {
            it->second->pending = false;
            it->second->pendingTid = 0;
            auto* failed = makeEvent(SipStackEvent::RegistrationFailure, "Registration failed: no answer");
            failed->rid = tx->rid;
            failed->request = cloneMessage(tx->request ? tx->request : tx->waiting);
            pushEvent(failed);
        }
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
    const int type = SipStackEvent::CallMessageProceeding + std::min(std::max(status / 100, 1), 6) - 1;
    auto* event = makeEvent(type, "Answer to BYE");
    event->cid = call->cid;
    event->did = call->did;
    event->tid = tx->tid;
    event->request = cloneMessage(tx->request);
    event->response = response;
    pushEvent(event);
    if (status >= 200)
        releaseCall(call);
}

void SipStack::handleRegisterResponse(Tx* tx, osip_message_t* response)
{
    const int status = response->status_code;
    if (status < 200) {
        osip_message_free(response);
        return;
    }
    tx->finalSeen = true;
    auto it = m_registrations.find(tx->rid);
    if (it == m_registrations.end() || it->second->pendingTid != tx->tid) {
        osip_message_free(response); // removed meanwhile: its outcome is dropped
        return;
    }
    Registration* reg = it->second.get();
    reg->pending = false;
    reg->pendingTid = 0;
    if (status == 423) {
        const char* minimum = headerValue(response, "min-expires");
        const int raised = minimum ? std::atoi(minimum) : 0;
        if (reg->consecutive423 == 0 && raised > reg->expires) {
            // The registrar asks for a longer lifetime: ask again at once with it.
            ++reg->consecutive423;
            RDLOG("registrar wants an expiry of %d s (asked %d), registering again", raised, reg->expires);
            reg->expires = raised;
            osip_message_free(response);
            osip_message_t* next = nextRegister(reg, reg->expires);
            if (next && transmitRegister(reg, next) == 0)
                return;
            response = nullptr;
        }
    }
    reg->consecutive423 = status == 423 ? reg->consecutive423 : 0;
    if (status == 401 || status == 407) {
        if (reg->challenge)
            osip_message_free(reg->challenge);
        reg->challenge = cloneMessage(response);
    }
    const bool success = status >= 200 && status < 300;
    auto* event = makeEvent(success ? SipStackEvent::RegistrationSuccess : SipStackEvent::RegistrationFailure,
                            success ? "Registration succeeded" : "Registration failed");
    event->rid = reg->rid;
    event->request = cloneMessage(tx->request);
    event->response = response;
    pushEvent(event);
}

osip_message_t* SipStack::nextRegister(Registration* reg, int expires)
{
    osip_message_t* message = cloneMessage(reg->last);
    if (!message || !message->cseq)
        return message;
    clearList(&message->vias, &osip_via_free);
    clearList(&message->authorizations, &osip_authorization_free);
    clearList(&message->proxy_authorizations, &osip_authorization_free);
    osip_free(message->cseq->number);
    message->cseq->number = osip_strdup(std::to_string(++reg->cseq).c_str());
    replaceHeader(message, "Expires", std::to_string(expires));
    addCredentials(reg, message);
    osip_message_force_update(message);
    return message;
}

int SipStack::transmitRegister(Registration* reg, osip_message_t* message)
{
    osip_uri_t* uri = message->req_uri;
    const int port = uri ? portOf(uri->port, 5060) : -1;
    if (!uri || !uri->host || !*uri->host || port < 0 || !message->cseq) {
        osip_message_free(message);
        return OSIP_BADPARAMETER;
    }
    const std::string host = uri->host;
    int cseq = 0;
    if (parseCseq(message->cseq->number, &cseq))
        reg->cseq = cseq;
    if (reg->last != message) {
        if (reg->last)
            osip_message_free(reg->last);
        reg->last = cloneMessage(message);
    }
    auto tx = std::make_unique<Tx>();
    tx->tid = nextId();
    tx->kind = Tx::ClientRegister;
    tx->rid = reg->rid;
    tx->request = cloneMessage(message);
    Tx* raw = tx.get();
    m_txs[raw->tid] = std::move(tx);
    reg->pending = true;
    reg->pendingTid = raw->tid;
    return transmit(raw, message, host, port);
}

void SipStack::addCredentials(Registration* reg, osip_message_t* message)
{
    if (!reg->challenge || !message->from || !message->from->url || !message->req_uri)
        return;
    const bool proxy = reg->challenge->status_code == 407;
    osip_www_authenticate_t* challenge = nullptr;
    for (int i = 0;; ++i) {
        osip_www_authenticate_t* candidate = nullptr;
        const int found = proxy ? osip_message_get_proxy_authenticate(reg->challenge, i, &candidate)
                                : osip_message_get_www_authenticate(reg->challenge, i, &candidate);
        if (found < 0 || !candidate)
            break;
        const std::string algorithm = SipText::unquote(candidate->algorithm);
        if (SipText::equalsIgnoreCase(candidate->auth_type, "Digest") && candidate->nonce &&
            (algorithm.empty() || SipText::equalsIgnoreCase(algorithm.c_str(), "MD5"))) {
            challenge = candidate;
            break;
        }
    }
    if (!challenge) {
        RDLOG("no MD5 digest challenge to answer");
        return;
    }
    const std::string realm = SipText::unquote(challenge->realm);
    const std::string nonce = SipText::unquote(challenge->nonce);
    const std::string user = message->from->url->username ? message->from->url->username : "";
    const AuthInfo* info = nullptr;
    for (const AuthInfo& entry : m_auth) {
        if (entry.user == user && entry.realm == realm)
            info = &entry;
    }
    for (const AuthInfo& entry : m_auth) {
        if (!info && entry.user == user && entry.realm.empty())
            info = &entry;
    }
    if (!info) {
        RDLOG("no credentials for %s in realm %s", user.c_str(), realm.c_str());
        return;
    }
    std::string qop;
    const std::string options = SipText::unquote(challenge->qop_options);
    if (!options.empty()) {
        size_t start = 0;
        while (start <= options.size()) {
            size_t end = options.find(',', start);
            if (end == std::string::npos)
                end = options.size();
            std::string option = options.substr(start, end - start);
            option.erase(0, option.find_first_not_of(" \t"));
            option.erase(option.find_last_not_of(" \t") + 1);
            if (SipText::equalsIgnoreCase(option.c_str(), "auth"))
                qop = "auth";
            start = end + 1;
        }
        if (qop.empty()) {
            RDLOG("the challenge asks for qop %s, which is not supported", options.c_str());
            return;
        }
    }
    char* uriText = nullptr;
    if (osip_uri_to_str(message->req_uri, &uriText) != 0 || !uriText)
        return;
    const std::string uri = uriText;
    osip_free(uriText);
    if (nonce != reg->nonce) {
        reg->nonce = nonce;
        reg->nonceCount = 0;
    }
    char nc[16];
    std::snprintf(nc, sizeof(nc), "%08x", ++reg->nonceCount);
    const std::string cnonce = randomHex(8);
    const std::string ha1 = info->ha1.empty() ? SipDigest::ha1(info->userid, realm, info->password) : info->ha1;
    const std::string digest = SipDigest::response(ha1, nonce, nc, cnonce, qop, "REGISTER", uri);
    std::string header = "Digest username=" + SipText::quote(info->userid) + ", realm=" + SipText::quote(realm) +
                         ", nonce=" + SipText::quote(nonce) + ", uri=" + SipText::quote(uri) +
                         ", response=\"" + digest + "\", algorithm=MD5";
    if (!qop.empty())
        header += ", cnonce=\"" + cnonce + "\", qop=auth, nc=" + nc;
    if (challenge->opaque)
        header += ", opaque=" + SipText::quote(SipText::unquote(challenge->opaque));
    const int result = proxy ? osip_message_set_proxy_authorization(message, header.c_str())
                             : osip_message_set_authorization(message, header.c_str());
    if (result != 0)
        RDLOG("cannot write the credentials for %s", user.c_str());
}

// ---------------------------------------------------------------------------------------------
// Registrations

int SipStack::registerBuildInitial(const char* from, const char* registrar, const char* contact, int expires,
                                   osip_message_t** registerMessage)
{
    requireLock(__func__);
    if (!registerMessage)
        return OSIP_BADPARAMETER;
    *registerMessage = nullptr;
    if (!from || !registrar || expires < 0)
        return OSIP_BADPARAMETER;
    if (SipText::hasControl(from) || SipText::hasControl(registrar) || SipText::hasControl(contact)) {
        RDLOG("REGISTER refused: a control character in its address texts");
        return OSIP_SYNTAXERROR;
    }
    osip_uri_t* uri = nullptr;
    if (osip_uri_init(&uri) != 0)
        return OSIP_NOMEM;
    if (osip_uri_parse(uri, registrar) != 0 || !uri->host || !*uri->host || portOf(uri->port, 5060) < 0) {
        RDLOG("REGISTER refused: registrar %s is not a SIP URI", registrar);
        osip_uri_free(uri);
        return OSIP_SYNTAXERROR;
    }
    osip_message_t* message = nullptr;
    if (osip_message_init(&message) != 0) {
        osip_uri_free(uri);
        return OSIP_NOMEM;
    }
    osip_message_set_method(message, osip_strdup("REGISTER"));
    osip_message_set_version(message, osip_strdup("SIP/2.0"));
    osip_message_set_uri(message, uri);
    const auto refuse = [&](const char* what, const char* text) {
        RDLOG("REGISTER refused: %s %s does not parse", what, text);
        osip_message_free(message);
        return OSIP_SYNTAXERROR;
    };
    if (osip_message_set_from(message, from) != 0 || !message->from || !message->from->url ||
        !message->from->url->host || portOf(message->from->url->port, 5060) < 0)
        return refuse("address", from);
    if (osip_message_set_to(message, from) != 0 || !message->to)
        return refuse("address", from);
    osip_from_set_tag(message->from, osip_strdup(randomHex(8).c_str()));
    osip_message_set_call_id(message, randomHex(16).c_str());
    osip_message_set_cseq(message, "1 REGISTER");
    osip_message_set_max_forwards(message, "70");
    if (!m_userAgent.empty())
        osip_message_set_header(message, "User-Agent", m_userAgent.c_str());
    osip_message_set_header(message, "Expires", std::to_string(expires).c_str());
    const bool autoContact = !contact || !*contact;
    if (!autoContact) {
        osip_contact_t* parsed = nullptr;
        if (osip_message_set_contact(message, contact) != 0 || osip_message_get_contact(message, 0, &parsed) < 0 ||
            !parsed || !parsed->url || !parsed->url->host)
            return refuse("contact", contact);
    }
    auto reg = std::make_unique<Registration>();
    reg->rid = nextId();
    reg->expires = expires;
    reg->cseq = 1;
    reg->autoContact = autoContact;
    reg->last = cloneMessage(message);
    const int rid = reg->rid;
    m_registrations[rid] = std::move(reg);
    *registerMessage = message;
    return rid;
}

int SipStack::registerSend(int rid, osip_message_t* registerMessage)
{
    requireLock(__func__);
    auto it = m_registrations.find(rid);
    const int refused = it == m_registrations.end() ? OSIP_NOTFOUND
                        : it->second->pending      ? OSIP_WRONG_STATE
                        : !m_listening             ? OSIP_NO_NETWORK
                                                   : 0;
    if (refused != 0) {
        if (registerMessage)
            osip_message_free(registerMessage);
        return refused;
    }
    Registration* reg = it->second.get();
    if (!registerMessage) {
        registerMessage = nextRegister(reg, reg->expires);
        if (!registerMessage)
            return OSIP_NOMEM;
    }
    reg->consecutive423 = 0;
    return transmitRegister(reg, registerMessage);
}

int SipStack::registerBuild(int rid, int expires, osip_message_t** registerMessage)
{
    requireLock(__func__);
    if (!registerMessage)
        return OSIP_BADPARAMETER;
    *registerMessage = nullptr;
    auto it = m_registrations.find(rid);
    if (it == m_registrations.end())
        return OSIP_NOTFOUND;
    if (it->second->pending)
        return OSIP_WRONG_STATE;
    if (expires < 0)
        return OSIP_BADPARAMETER;
    it->second->expires = expires;
    *registerMessage = nextRegister(it->second.get(), expires);
    return *registerMessage ? 0 : OSIP_NOMEM;
}

int SipStack::registerRemove(int rid)
{
    requireLock(__func__);
    return m_registrations.erase(rid) ? 0 : OSIP_NOTFOUND;
}

int SipStack::addAuthInfo(const char* user, const char* userid, const char* password, const char* ha1,
                          const char* realm)
{
    requireLock(__func__);
    if (!user || !*user || ((!password || !*password) && (!ha1 || !*ha1)))
        return OSIP_BADPARAMETER;
    if (SipText::hasControl(user) || SipText::hasControl(userid) || SipText::hasControl(password) ||
        SipText::hasControl(ha1) || SipText::hasControl(realm)) {
        RDLOG("credentials refused: a control character in their texts");
        return OSIP_SYNTAXERROR;
    }
    AuthInfo info;
    info.user = user;
    info.userid = userid && *userid ? userid : user;
    info.password = password ? password : "";
    info.ha1 = ha1 ? ha1 : "";
    info.realm = SipText::unquote(realm ? realm : "");
    for (AuthInfo& entry : m_auth) {
        if (entry.user == info.user && entry.realm == info.realm) {
            entry = info;
            return 0;
        }
    }
    m_auth.push_back(info);
    return 0;
}

int SipStack::removeAuthInfo(const char* user, const char* realm)
{
    requireLock(__func__);
    if (!user)
        return OSIP_BADPARAMETER;
    const std::string key = SipText::unquote(realm ? realm : "");
    const auto before = m_auth.size();
    m_auth.erase(std::remove_if(m_auth.begin(), m_auth.end(),
                                [&](const AuthInfo& entry) { return entry.user == user && entry.realm == key; }),
                 m_auth.end());
    return m_auth.size() != before ? 0 : OSIP_NOTFOUND;
}

// ---------------------------------------------------------------------------------------------
// Addresses

int SipStack::masqueradeFor(const char* destHost, int destPort, const char* ip, int port)
{
    const bool took = !ownsLock();
    if (took)
        lock();
    const int result = masqueradeLocked(destHost, destPort, ip, port);
    if (took)
        unlock();
    return result;
}

int SipStack::masqueradeLocked(const char* destHost, int destPort, const char* ip, int port)
{
    in_addr address{};
    if (!destHost || !*destHost || SipText::hasControl(destHost) || !ip || inet_pton(AF_INET, ip, &address) != 1 ||
        port < 1 || port > 65535 || destPort < 0 || destPort > 65535)
        return OSIP_BADPARAMETER;
    for (Masquerade& entry : m_masquerades) {
        if (entry.host == destHost && entry.port == destPort) {
            entry.ip = ip;
            entry.natPort = port;
            return 0;
        }
    }
    m_masquerades.push_back({destHost, destPort, ip, port});
    return 0;
}

const SipStack::Masquerade* SipStack::masqueradeOf(const std::string& host, int port, const in_addr* address) const
{
    for (const Masquerade& entry : m_masquerades) {
        if (entry.port != 0 && entry.port != port)
            continue;
        if (entry.host == host)
            return &entry;
        if (!address)
            continue;
        in_addr literal{};
        if (inet_pton(AF_INET, entry.host.c_str(), &literal) == 1) {
            if (literal.s_addr == address->s_addr)
                return &entry;
            continue;
        }
        auto cached = m_resolved.find(entry.host);
        if (cached != m_resolved.end() && cached->second.ok && cached->second.address.s_addr == address->s_addr)
            return &entry;
    }
    return nullptr;
}

bool SipStack::localAddressFor(const std::string& host, int port, const in_addr& address, in_addr* ip, int* natPort)
{
    if (const Masquerade* entry = masqueradeOf(host, port, &address)) {
        inet_pton(AF_INET, entry->ip.c_str(), ip);
        *natPort = entry->natPort;
        return true;
    }
    *natPort = m_transport.port() > 0 ? m_transport.port() : 5060;
    const int64_t now = nowMs();
    auto cached = m_routeSource.find(address.s_addr);
    if (cached != m_routeSource.end() && cached->second.second > now) {
        *ip = cached->second.first;
        return false;
    }
    // The source address the kernel picks for this destination (connecting sends nothing).
    in_addr source{};
    const int probe = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (probe >= 0) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr = address;
        to.sin_port = htons(static_cast<uint16_t>(port > 0 ? port : 5060));
        sockaddr_in mine{};
        socklen_t length = sizeof(mine);
        if (connect(probe, reinterpret_cast<sockaddr*>(&to), sizeof(to)) == 0 &&
            getsockname(probe, reinterpret_cast<sockaddr*>(&mine), &length) == 0)
            source = mine.sin_addr;
        ::close(probe);
    }
    if (source.s_addr == htonl(INADDR_ANY)) {
        char text[INET_ADDRSTRLEN] = {};
        if (SipLocalIp::guess(text, sizeof(text)) != 0 || inet_pton(AF_INET, text, &source) != 1)
            inet_pton(AF_INET, "127.0.0.1", &source);
    }
    if (m_routeSource.size() >= kCacheLimit)
        m_routeSource.clear();
    m_routeSource[address.s_addr] = {source, now + kResolvedMs};
    *ip = source;
    return false;
}

void SipStack::takeResolverResults()
{
    if (!m_resolver)
        return;
    const std::vector<SipResolverThread::Result> results = m_resolver->takeResults();
    if (results.empty())
        return;
    const int64_t now = nowMs();
    if (m_resolved.size() >= kCacheLimit) {
        for (auto it = m_resolved.begin(); it != m_resolved.end();)
            it = it->second.expiresMs <= now ? m_resolved.erase(it) : std::next(it);
    }
    for (const SipResolverThread::Result& result : results) {
        CacheEntry& entry = m_resolved[result.host];
        entry.ok = result.ok;
        entry.address = result.address;
        entry.expiresMs = now + (result.ok ? kResolvedMs : kUnresolvedMs);
        std::vector<int> waiting;
        for (const auto& item : m_txs) {
            if (item.second->waiting && item.second->waitHost == result.host)
                waiting.push_back(item.first);
        }
        for (int tid : waiting) {
            Tx* tx = m_txs[tid].get();
            osip_message_t* request = tx->waiting;
            tx->waiting = nullptr;
            if (result.ok) {
                finishTransmit(tx, request, result.address, tx->waitPort);
            } else {
                tx->waiting = request; // kept for the failure event
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
    if (it == m_txs.end() || !it->second->request)
        return nullptr;
    osip_message_t* request = it->second->request;
    osip_body_t* body = nullptr;
    if (osip_message_get_body(request, 0, &body) < 0 || !body || !body->body)
        return nullptr;
    const osip_content_type_t* type = request->content_type;
    if (!type || !SipText::equalsIgnoreCase(type->type, "application") ||
        !SipText::equalsIgnoreCase(type->subtype, "sdp"))
        return nullptr;
    return parseSdp(body->body, body->length);
}

sdp_message_t* SipStack::parseSdp(const char* text, size_t length)
{
    if (!text || length == 0)
        return nullptr;
    // libosip2's SDP parser reads past the end of a text whose last line has no line end: end
    // the text with CRLF and leave NUL bytes behind it.
    std::string padded(text, length);
    if (padded.back() != '\n')
        padded += "\r\n";
    padded.append(16, '\0');
    sdp_message_t* sdp = nullptr;
    if (sdp_message_init(&sdp) != 0)
        return nullptr;
    if (sdp_message_parse(sdp, padded.c_str()) != 0) {
        sdp_message_free(sdp);
        return nullptr;
    }
    return sdp;
}

sdp_media_t* SipStack::firstMedia(sdp_message_t* sdp, const char* kind)
{
    if (!sdp || !kind)
        return nullptr;
    for (int i = 0; !osip_list_eol(&sdp->m_medias, i); ++i) {
        auto* media = static_cast<sdp_media_t*>(osip_list_get(&sdp->m_medias, i));
        if (media && media->m_media && SipText::equalsIgnoreCase(media->m_media, kind))
            return media;
    }
    return nullptr;
}

sdp_connection_t* SipStack::connectionOf(sdp_message_t* sdp, sdp_media_t* media)
{
    if (media && !osip_list_eol(&media->c_connections, 0))
        return static_cast<sdp_connection_t*>(osip_list_get(&media->c_connections, 0));
    return sdp ? sdp->c_connection : nullptr;
}

int SipStack::grantedExpires(const osip_message_t* response, const osip_message_t* request)
{
    if (!response)
        return -1;
    const osip_contact_t* ours =
        request ? static_cast<const osip_contact_t*>(osip_list_get(&request->contacts, 0)) : nullptr;
    for (int i = 0; ours && !osip_list_eol(&response->contacts, i); ++i) {
        auto* contact = static_cast<osip_contact_t*>(osip_list_get(&response->contacts, i));
        if (!contact || !sameUri(contact->url, ours->url))
            continue;
        if (const char* expires = paramOf(&contact->gen_params, "expires"))
            return std::atoi(expires);
    }
    if (const char* value = headerValue(response, "expires"))
        return std::atoi(value);
    if (const char* value = headerValue(request, "expires"))
        return std::atoi(value);
    return -1;
}

std::string SipStack::escapeUser(const std::string& text)
{
    return SipText::escapeUser(text);
}
