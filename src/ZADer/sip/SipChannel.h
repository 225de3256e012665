#pragma once

#include "SipAccountInfo.h"
#include "SipChannelCallEvents.h"
#include "SipChannelCommand.h"
#include "SipStackLock.h"
#include "SipTelephoneEvent.h"

#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class SipCall;
class SipChannelEventThread;
class SipChannelObserver;
class SipMedia;
class SipStack;
struct SipStackEvent;
struct osip_message;
typedef struct osip_message osip_message_t;

// One SIP account of the user agent: it registers the account with its registrar, keeps the
// registration alive, unregisters it, and owns the calls that arrive on the account. Always
// owned by a shared pointer (the manager's list, callers); the manager wires it up with the
// setters below before the first registration.
//
// Locking, outermost first: the manager's channel-list mutex, the registration mutex (state,
// account, timers), the call mutex (call list), the context mutex (stack pointer, command
// thread, local address), the stack lock. Observer callbacks run with none of the channel's
// mutexes and without the stack lock.
class SipChannel
{
public:
    enum State : int {
        New = 0, // not yet asked to register
        Registering = 1, // an initial REGISTER is on its way
        Registered = 2,
        RefreshDue = 3, // a refresh was sent and not yet answered
        Failed = 4, // waiting for the next attempt
        Unregistering = 5,
        Unregistered = 6,
        UnregisterFailed = 7,
    };

    static constexpr int kMaxAuthRetries = 3;
    // The retry after the n-th failure waits n x 10 s, at most 60 s.
    static constexpr double kBackoffUnit = 10.0;
    static constexpr double kBackoffMax = 60.0;
    // A registration is refreshed this long before the granted lifetime runs out: a tenth of
    // it, at least 15 s, at most half of it.
    static constexpr double kMinRefreshMargin = 15.0;
    // A REGISTER without any outcome for this long is sent again.
    static constexpr double kRepeatAfter = 10.0;
    static constexpr size_t kMaxUriLength = 255;

    // Monotonic seconds; RDThread::tickTime unless a test sets its own.
    using Clock = std::function<double()>;

    SipChannel();
    virtual ~SipChannel();
    SipChannel(const SipChannel&) = delete;
    SipChannel& operator=(const SipChannel&) = delete;

    // A new call of this channel; the channel-engine channel makes its own call class.
    virtual std::shared_ptr<SipCall> createCall();

    // -- wiring, in the order the manager calls them ----------------------------------------
    void setSelf(const std::shared_ptr<SipChannel>& self);
    std::shared_ptr<SipChannel> self() const;
    void setId(int id);
    void setContext(SipStack* stack);
    void setTransport(int transport);
    void setLocalIp(const std::string& ip);
    void setLocalPort(int port);
    void setCommandThread(SipChannelEventThread* thread);
    void setObserver(SipChannelObserver* observer);
    // Must be set before the first registration.
    void setClock(Clock clock);
    // The manager's stack and threads are going away: forget them (and the registration that
    // lived in the stack) and report nothing more. Later operations find no stack and fail.
    void detach();

    // -- registration -------------------------------------------------------------------------
    // Stores the account, applies its defaults and sends the initial REGISTER. 0 when sent or
    // when registration is off; -1 for an incomplete account (state 6) and for a REGISTER that
    // cannot be built or sent (state 4, onChannelRegisterFailed, retried after the back-off).
    int registerServer(const SipAccountInfo& account);
    // A new initial REGISTER from the stored account (nothing when it has no credentials).
    void sendRegister();
    // One registration tick: refreshes, repeats and retries that are due.
    void keepalive();
    // The stack's outcome of this channel's REGISTER (event 0 or 1 for registerId()).
    void onRegisterSuccess(SipStackEvent* event);
    void onRegisterFailure(SipStackEvent* event);
    // Ends every call and sends REGISTER with expiry 0 (at once, or when the REGISTER on its
    // way has been answered); without a registration the channel is unregistered at once.
    void unregister();
    // Forgets the stack's registration (nothing is sent).
    void removeRegistration();

    int state() const { return m_state.load(); }
    int registerId() const { return m_registerId.load(); }
    int id() const;
    SipAccountInfo account() const;
    int authRetries() const;
    int failCount() const;
    // Clock seconds of the last answer, failure or unanswered refresh.
    double lastRegisterTime() const;
    // The lifetime in force: the smaller of the one asked and the one the registrar granted.
    int grantedExpire() const;
    // The clock time at which a registered channel refreshes.
    double refreshDueTime() const;
    // localIp when set, else the address of the interface holding the default route.
    std::string localAddress() const;
    int localPort() const { return m_localPort.load(); }
    int transport() const { return m_transport.load(); }

    // The registration state as the user sees it, translated: "Registering",
    // "Register Success", "Register Failure"; empty for any other state.
    static QString statusText(int state);

    // -- account matchers of the manager's INVITE lookup (exact comparisons) -------------------
    bool matchAuthId(const std::string& text) const;
    bool matchUsername(const std::string& text) const;
    bool matchServerAuthId(const std::string& host, int port, const std::string& text) const;
    bool matchServerUsername(const std::string& host, int port, const std::string& text) const;
    bool isId(int id) const;

    // -- calls ----------------------------------------------------------------------------------
    // A call of this channel, filled for an incoming call: its channel, itself and its To side.
    std::shared_ptr<SipCall> newCall();
    std::vector<std::shared_ptr<SipCall>> calls() const;
    std::shared_ptr<SipCall> callById(int cid) const;
    // The call from that From host, port and URI user.
    std::shared_ptr<SipCall> findCall(const std::string& host, int port, const std::string& user) const;
    void removeCall(const std::shared_ptr<SipCall>& call);
    // Ends every call: its dialog, its media, onCallStopped. The list is emptied first, so the
    // callbacks run without the call mutex.
    void terminateAllCalls();
    // Outgoing calls are not placed: the call is dropped with a log line (-1).
    int makeCall(const std::shared_ptr<SipCall>& call);
    // 180 on the call's INVITE (state 2).
    int ringCall(const std::shared_ptr<SipCall>& call);
    // 200 with the description of the call's local media (state 3).
    int answerCall(const std::shared_ptr<SipCall>& call);
    // That final status on the call's INVITE (state 6).
    int rejectCall(const std::shared_ptr<SipCall>& call, int status);
    // Stops the media, ends the dialog and removes the call (once, whoever asks first).
    int terminateCall(const std::shared_ptr<SipCall>& call);
    // Queues command 3 for the call on the command thread.
    void postTerminateCall(const std::shared_ptr<SipCall>& call);
    // false when the channel has no command thread (detached).
    bool postCommand(const SipChannelCommand& command);
    // Raises onCallDtmf (the call's receive thread calls it).
    void notifyDtmf(const std::shared_ptr<SipCall>& call, const SipTelephoneEvent& event);

    // The call events the manager routes to this channel.
    SipChannelCallEvents& callEvents() { return m_callEvents; }

    // The channel's stack, held (context mutex) and locked (the stack's one guard) for the life
    // of the guard; null (and nothing locked but the context mutex) when the channel has no
    // stack. Take it after the registration and call mutexes, never while holding another guard.
    class StackGuard
    {
    public:
        explicit StackGuard(const SipChannel& channel);
        StackGuard(const StackGuard&) = delete;
        StackGuard& operator=(const StackGuard&) = delete;

        SipStack* get() const { return m_stack; }
        SipStack* operator->() const { return m_stack; }
        explicit operator bool() const { return m_stack != nullptr; }

    private:
        std::unique_lock<std::mutex> m_lock;
        SipStack* m_stack;
        SipStackLock m_stackLock;
    };

protected:
    SipChannelObserver* observer() const { return m_observer.load(); }

private:
    // The call events work on the channel's calls.
    friend class SipChannelCallEvents;

    enum class Notice { None, Registered, RegisterFailed, Unregistered, UnregisterFailed };

    double now() const;
    void notify(Notice notice, const SipAccountInfo& account);
    std::string scheme() const;
    // Builds and sends a new initial REGISTER (state 1); on failure state 4.
    Notice startRegisterLocked(const std::string& user);
    Notice sendRegisterLocked();
    void resendLocked();
    void removeRegistrationLocked();
    // Sends the REGISTER with expiry 0 for the current registration.
    void sendUnregisterLocked();
    // A success whose Via names another public address than our Contact: register again with
    // that address. True when the new REGISTER was started (or failed: see notice).
    bool masqueradeLocked(SipStackEvent* event, Notice* notice);
    void updateGrantedLocked(SipStackEvent* event);
    double refreshDueLocked() const;
    std::string fromUserLocked() const;
    // A final answer on a server transaction of a call, with the SDP of the call when given.
    int sendCallAnswer(int tid, int status, const SipCall* withSdp, const char* tag);
    void logCall(const char* what, const SipCall& call);

    std::weak_ptr<SipChannel> m_self;

    mutable std::mutex m_registerMutex;
    std::atomic<int> m_state{New};
    std::atomic<int> m_registerId{0};
    int m_authRetries = 0;
    int m_failCount = 0;
    double m_lastRegisterTime = 0;
    double m_sentTime = 0; // the last REGISTER this channel sent
    int m_grantedExpire = 0;
    SipAccountInfo m_account;
    std::string m_realm;
    bool m_masqueraded = false; // one masquerade re-registration per initial REGISTER
    bool m_unregisterPending = false; // send expiry 0 once the REGISTER on its way is answered
    Clock m_clock;

    mutable std::mutex m_callMutex;
    std::vector<std::shared_ptr<SipCall>> m_calls;
    SipChannelCallEvents m_callEvents{*this};

    mutable std::mutex m_contextMutex;
    SipStack* m_context = nullptr;
    SipChannelEventThread* m_commandThread = nullptr;
    std::string m_localIp;

    std::atomic<int> m_transport{0};
    std::atomic<int> m_localPort{0};
    std::atomic<SipChannelObserver*> m_observer{nullptr};
};
