#pragma once

#include "SipRoutes.h"
#include "SipStackAnswers.h"
#include "SipStackEvent.h"
#include "SipStackReceiver.h"
#include "SipStackRegistrations.h"
#include "SipStackShares.h"
#include "SipUdpTransport.h"

#include <osipparser2/osip_parser.h>
#include <osipparser2/sdp_message.h>

#include <netinet/in.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

struct osip;
struct osip_transaction;
struct osip_dialog;
class RDThread;
class SipResolverThread;
class SipStackCall;
class SipStackTransaction;
class SipStack;

// Owns a stack: quits it (see SipStack::quit) before freeing it.
struct SipStackQuit
{
    void operator()(SipStack* stack) const;
};
using SipStackPtr = std::unique_ptr<SipStack, SipStackQuit>;

// A compact SIP user agent over libosip2: UDP transport, the transaction state machines, the
// answering side of calls (INVITE, re-INVITE, CANCEL, BYE, ACK), out-of-dialog requests,
// registrations with digest authentication, and one event queue. It places no calls.
//
// Locking: lock()/unlock() take the one stack mutex. Every call below that reads or changes
// protocol state must be made with it held (the call aborts otherwise, naming itself in the
// log); eventWait/eventFree are made without it. The configuration calls (addAccountInfo,
// setUserAgent, setT1, masqueradeFor) take it themselves when the caller does not hold it.
// Results: >= 0 success, negative an OSIP_* error code.
class SipStack
{
public:
    // The tables every peer shares; one source address holds at most its share of them
    // (SipStackShares), and requests beyond either are refused at once.
    static constexpr int kMaxCalls = 64;
    static constexpr int kMaxTransactions = 512;
    static constexpr int kDefaultT1 = 500;
    // The largest UDP payload.
    static constexpr int kMaxDatagram = 65535;

    // A context without socket or thread; null only when libosip2 cannot be initialised.
    static SipStackPtr create();
    ~SipStack();
    SipStack(const SipStack&) = delete;
    SipStack& operator=(const SipStack&) = delete;

    // Binds UDP 0.0.0.0:port (0 = a port of the system's choice, see localPort) and starts the
    // stack thread. protocol 17 only; 6 (TCP/TLS) is not supported. 0 on success.
    int listen(int protocol, int port);
    int localPort() const;
    // Sends what is already queued for a first transmission (a BYE, an Expires 0 REGISTER),
    // stops the threads, closes the socket and frees every transaction, call, registration and
    // event. Nothing else is sent. Safe when never listening; the context is unusable after.
    // Called without the stack lock.
    void quit();

    static int guessLocalIp(char* address, int size);
    // Messages to proxy (and answers to requests from it) carry natIp:natPort in Contact and Via.
    int addAccountInfo(const char* proxy, const char* natIp, int natPort);
    int setUserAgent(const char* text);
    // Base retransmission interval for transactions and 2xx retransmissions created afterwards
    // (default 500 ms); 64 x T1 is the transaction time-out.
    void setT1(int ms);

    void lock();
    void unlock();

    // The oldest event, or null when none arrived within the wait.
    SipStackEvent* eventWait(int seconds, int ms);
    static void eventFree(SipStackEvent* event);
    // Nothing is pending on the stack's side: refreshes and challenges are driven by the caller.
    int automaticAction();

    // Out-of-dialog server transactions (event 23). Build fails for an unknown tid, a client
    // transaction, or one already finally answered. Send takes the answer (null = default) and
    // frees it when it cannot be sent.
    int messageBuildAnswer(int tid, int status, osip_message_t** answer);
    int messageSendAnswer(int tid, int status, osip_message_t* answer);
    // INVITE, re-INVITE and in-dialog server transactions (events 2, 3, 14). Answers carry the
    // dialog's To tag; 1xx/2xx to an INVITE also Contact, Record-Route and (2xx) Allow. A 2xx to
    // an INVITE confirms the dialog and is retransmitted until the ACK.
    int callBuildAnswer(int tid, int status, osip_message_t** answer);
    int callSendAnswer(int tid, int status, osip_message_t* answer);
    // Unanswered: 603; answered but not acknowledged: BYE after the ACK (or when retransmission
    // ends); confirmed: BYE. Negative for an unknown call or one already ending.
    int callTerminate(int cid, int did);

    // The parsed SDP body of a server transaction's request (caller frees with
    // sdp_message_free); null when there is none, it is not application/sdp, or it is broken
    // (SipStackSdp reads it).
    sdp_message_t* remoteSdp(int tid);

    // A new registration (own Call-ID, From tag, CSeq 1): its rid (> 0), or negative when a
    // text does not parse as a URI or holds a control character. contact null or empty: the
    // stack writes <sip:user@ip:port> with the address it sends from (or the masquerade).
    int registerBuildInitial(const char* from, const char* registrar, const char* contact, int expires,
                             osip_message_t** registerMessage);
    // message: sends it. Null: re-sends the last REGISTER with CSeq+1, a new branch, the current
    // expiry and, after a 401/407, credentials computed now. OSIP_WRONG_STATE while a REGISTER
    // of that rid is pending, OSIP_NOTFOUND for an unknown rid.
    int registerSend(int rid, osip_message_t* registerMessage);
    // The next REGISTER of rid with that expiry (0 = remove the binding) for the caller to send.
    int registerBuild(int rid, int expires, osip_message_t** registerMessage);
    // Forgets rid; sends nothing, and a pending outcome is dropped.
    int registerRemove(int rid);

    // Credentials keyed by (From user, realm); an empty realm answers any realm. userid is the
    // digest user name; ha1 (hex), when given, stands for the password.
    int addAuthInfo(const char* user, const char* userid, const char* password, const char* ha1,
                    const char* realm);
    int removeAuthInfo(const char* user, const char* realm);

    // Messages to destHost:destPort (0 = any port), and answers to requests from it, carry
    // ip:port in Contact and Via sent-by.
    int masqueradeFor(const char* destHost, int destPort, const char* ip, int port);


    // For tests and the fuzzer: handles one datagram as if it had arrived on the socket, then
    // runs the state machines once. Takes the stack lock itself.
    void injectDatagram(const char* data, size_t size, const char* fromIp, int fromPort, const char* localIp);
    // One pass of the state machines and timers without reading the socket (takes the lock).
    void pump();

    // Used by the stack thread.
    void runOnce(RDThread* thread);
    void wake();

private:
    using Tx = SipStackTransaction;
    using Call = SipStackCall;
    struct ClientResponse
    {
        int tid = 0;
        osip_message_t* response = nullptr;
    };

    // The receive path works on the stack's state.
    friend class SipStackReceiver;
    friend class SipStackAnswers;
    friend class SipStackRegistrations;

    SipStack();
    bool initOsip();
    // A new tid, cid, did or rid.
    static int nextId();

    void requireLock(const char* function) const;
    bool ownsLock() const;


    // calls
    void releaseCall(Call* call);
    void sendBye(Call* call);

    // requests we send
    int transmit(Tx* tx, osip_message_t* request, const std::string& host, int port);
    void finishTransmit(Tx* tx, osip_message_t* request, const in_addr& address, int port);
    void clientFailed(Tx* tx);
    void handleByeResponse(Tx* tx, osip_message_t* response);
    bool localAddressFor(const std::string& host, int port, const in_addr& address, in_addr* ip, int* natPort);

    // passes
    void processPass(bool readSocket);
    void executeMachines();
    void runTimers();
    void takeResolverResults();
    int nextTimeoutMs();
    void freeTx(int tid);
    // Frees some of the oldest server transactions that only absorb retransmissions now (all,
    // or those of one source address); how many it freed.
    int reclaimAnswered(const in_addr* source = nullptr);

    // events
    void pushEvent(SipStackEvent* event);
    SipStackEvent* makeEvent(SipStackEvent::Type type, const char* text);

    std::string randomHex(int bytes);
    int scaledTimers(struct osip_transaction* transaction);
    int64_t nowMs() const;

    // osip callbacks
    static int osipSend(struct osip_transaction* transaction, osip_message_t* message, char* host, int port, int socket);
    static void osipKill(int type, struct osip_transaction* transaction);
    static void osipNictResponse(int type, struct osip_transaction* transaction, osip_message_t* message);
    static void osipTransportError(int type, struct osip_transaction* transaction, int error);
    static void osipTrace(const char* file, int line, osip_trace_level_t level, const char* format, va_list arguments);
    int onSend(struct osip_transaction* transaction, osip_message_t* message, const char* host, int port);

    std::mutex m_mutex;
    std::atomic<std::thread::id> m_owner{};

    struct osip* m_osip = nullptr;
    SipUdpTransport m_transport;
    SipStackReceiver m_receiver{*this};
    SipStackAnswers m_answers{*this};
    std::vector<char> m_receiveBuffer; // of the stack thread, sized once
    RDThread* m_thread = nullptr;
    SipResolverThread* m_resolver = nullptr;
    bool m_listening = false;
    bool m_quit = false;

    int m_t1 = kDefaultT1;
    std::string m_userAgent = "Quorvel Sonaris";
    std::mt19937_64 m_random;

    // Before the tables: their transactions and calls give their tickets back to it.
    SipStackShares m_shares;
    std::map<int, std::unique_ptr<Tx>> m_txs;
    std::map<int, std::unique_ptr<Call>> m_calls;
    SipStackRegistrations m_registrations{*this};
    SipRoutes m_routes;

    // Sources (INADDR_NONE: the whole table) whose reclaim found nothing in this pass.
    std::vector<in_addr_t> m_fruitlessReclaims;
    std::vector<ClientResponse> m_clientResponses;
    std::vector<int> m_killed;

    std::mutex m_eventMutex;
    std::condition_variable m_eventCondition;
    std::deque<SipStackEvent*> m_events;
    bool m_eventBacklogLogged = false;
};
