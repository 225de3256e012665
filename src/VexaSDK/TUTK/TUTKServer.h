#pragma once

#include "TUTKClient.h"
#include "VexaClientRegistry.h"
#include "VexaServer.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class RDThread;
class RDFunctionThread;

// Makes the program reachable by remote apps through the P2P SDK: the listen thread "TUTK
// Listen" logs in as a device under the UID, accepts up to 3 sessions and runs one TUTKClient
// per session, whose messages reach this server's observers (one at a time, under the
// observer lock) and whose replies and audio go back over the session.
//
// A login that fails is retried every loginRetryMs for as long as the server runs, and so is a
// login after the listen call failed; every wait watches the stop flag. stop returns within
// about one 100-ms listen wait plus the clients' own stops, also while a client is still
// waiting for its app to start the AV channel (the server aborts that wait).
//
// Threads: start, stop, setUid on the owner's thread (the GUI thread); sendToAll from any
// thread; the client registry (VexaClientRegistry, the clients' observer) runs on the listen
// thread.
class TUTKServer : public VexaServer
{
public:
    // The SDK's limit of open sessions: a fourth app is refused by the SDK.
    static constexpr unsigned int kMaxSessions = 3;
    static constexpr int kMaxAvServers = 32;
    static constexpr unsigned int kListenWaitMs = 100;
    static constexpr int kLoginRetryMs = 5000;
    // How long start waits for the first login's result before it reports.
    static constexpr int kFirstLoginWaitMs = 3000;

    // loginWithin: how long an app has to log in while authentication is on (tests shorten it).
    explicit TUTKServer(int loginRetryMs = kLoginRetryMs, double loginWithin = TUTKClient::kLoginWithin);
    ~TUTKServer() override;
    TUTKServer(const TUTKServer&) = delete;
    TUTKServer& operator=(const TUTKServer&) = delete;

    // Stops a running listen thread and starts a new one under the current UID; waits (at most
    // kFirstLoginWaitMs) for the first login: true when logged in and listening. The thread
    // keeps retrying after a failed login until stop.
    bool start() override;
    // Stops the listen thread, every client with it, and logs out. Idempotent.
    void stop() override;
    bool isRunning() const override;
    // Logged in and listening for sessions.
    bool isListening() const override;
    // Queues the message to every client (only the logged-in ones while authentication is on),
    // in order of arrival.
    void sendToAll(const char* data, int length) override;

    void setUid(const QString& uid);
    QString uid() const;

    // The connected clients, oldest first (for tests and the options page's figures).
    std::vector<std::shared_ptr<VexaClient>> clients();

    // True while the listen thread waits for an app to start its AV channel.
    bool startPending();

private:
    enum class LoginState
    {
        Pending,
        LoggedIn,
        Failed
    };

    void listen(RDThread* thread);
    // One pass: initialise, log in, listen until stop or an error, stop the clients, log out.
    // True when the pass ended by a listen error (not by stop).
    bool runPass(RDThread* thread, const std::string& uid);
    void acceptSession(RDThread* thread, int sessionId);
    void setLoginState(LoginState state);
    void abortPendingStart();

    const int m_loginRetryMs;
    const double m_loginWithin;

    mutable std::mutex m_uidLock;
    QString m_uid;

    VexaClientRegistry m_registry{*this};

    // The client whose start is waiting for its app, so that stop can abort it.
    std::mutex m_startingLock;
    std::shared_ptr<VexaClient> m_starting;

    std::atomic<bool> m_listening{false};
    std::mutex m_loginLock;
    std::condition_variable m_loginChanged;
    LoginState m_loginState = LoginState::Pending;

    std::unique_ptr<RDFunctionThread> m_listenThread;
};
