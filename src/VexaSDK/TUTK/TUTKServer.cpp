#include "TUTKServer.h"

#include "LoopP2p.h"
#include "RDFunctionThread.h"
#include "RDLog.h"
#include "TUTKClient.h"

#include <chrono>
#include <cstring>
#include <utility>

namespace {

// The key the device login carries, eight characters without a terminator.
constexpr char kLoginKey[] = "73915264";
static_assert(sizeof(kLoginKey) - 1 == sizeof(LoopP2pLoginInput::authKey), "login key size");

LoopP2pLoginInput loginInput()
{
    LoopP2pLoginInput input;
    std::memset(&input, 0, sizeof(input));
    input.size = sizeof(input);
    std::memcpy(input.authKey, kLoginKey, sizeof(input.authKey));
    return input;
}

} // namespace

TUTKServer::TUTKServer(int loginRetryMs, double loginWithin)
    : m_loginRetryMs(loginRetryMs), m_loginWithin(loginWithin)
{
}

TUTKServer::~TUTKServer()
{
    stop();
}

void TUTKServer::setUid(const QString& uid)
{
    std::lock_guard<std::mutex> lock(m_uidLock);
    m_uid = uid;
}

QString TUTKServer::uid() const
{
    std::lock_guard<std::mutex> lock(m_uidLock);
    return m_uid;
}

bool TUTKServer::start()
{
    stop();
    setLoginState(LoginState::Pending);
    m_listenThread = std::make_unique<RDFunctionThread>(
        "TUTK Listen", [this](RDThread* thread) { listen(thread); }, [this] { abortPendingStart(); });
    if (!m_listenThread->start()) {
        RDLOG("The P2P listen thread did not start");
        m_listenThread.reset();
        return false;
    }
    std::unique_lock<std::mutex> lock(m_loginLock);
    m_loginChanged.wait_for(lock, std::chrono::milliseconds(kFirstLoginWaitMs),
                            [this] { return m_loginState != LoginState::Pending; });
    return m_loginState == LoginState::LoggedIn;
}

void TUTKServer::stop()
{
    if (!m_listenThread)
        return;
    m_listenThread->stop();
    m_listenThread->wait();
    m_listenThread.reset();
}

bool TUTKServer::isRunning() const
{
    return m_listenThread != nullptr;
}

bool TUTKServer::isListening() const
{
    return m_listening.load();
}

void TUTKServer::setLoginState(LoginState state)
{
    {
        std::lock_guard<std::mutex> lock(m_loginLock);
        m_loginState = state;
    }
    m_loginChanged.notify_all();
}

void TUTKServer::abortPendingStart()
{
    // Runs on the stopping thread right after the stop flag went up. The listen thread looks at
    // the flag under this lock before it publishes a client to start, so either it sees the
    // flag and starts nothing, or the client is here to be aborted.
    std::lock_guard<std::mutex> lock(m_startingLock);
    if (m_starting)
        static_cast<TUTKClient*>(m_starting.get())->abortStart();
}

// Every pass logs in afresh, so a UID held by another device, or an SDK that lost its
// listener, is taken again once free. The waits between passes watch the stop flag, so
// stop never waits for a retry interval.
void TUTKServer::listen(RDThread* thread)
{
    const std::string uid = this->uid().toStdString();
    while (!thread->isStop()) {
        if (runPass(thread, uid) && !thread->isStop())
            thread->sleepUntilStop(m_loginRetryMs);
    }
    setLoginState(LoginState::Failed);
}

bool TUTKServer::runPass(RDThread* thread, const std::string& uid)
{
    IOTC_Initialize2(0);
    IOTC_Set_Max_Session_Number(kMaxSessions);
    avInitialize(kMaxAvServers);
    const LoopP2pLoginInput input = loginInput();
    const int login = IOTC_Device_LoginEx(uid.c_str(), &input);
    if (login < 0) {
        avDeInitialize();
        IOTC_DeInitialize();
        RDLOG("IOTC_Device_Login %d", login);
        setLoginState(LoginState::Failed);
        return true;
    }
    RDLOG("P2P device logged in under %s", uid.c_str());
    m_listening = true;
    setLoginState(LoginState::LoggedIn);

    bool failed = false;
    while (!thread->isStop()) {
        const int session = IOTC_Listen(kListenWaitMs);
        if (session >= 0) {
            acceptSession(thread, session);
        } else if (session != LoopP2pListenTimeout && session != LoopP2pListenRefused) {
            RDLOG("IOTC_Listen %d", session);
            failed = true;
            break;
        }
    }
    m_listening = false;

    m_registry.stopAll();
    avDeInitialize();
    IOTC_DeInitialize();
    return failed;
}

void TUTKServer::acceptSession(RDThread* thread, int sessionId)
{
    auto* client = new TUTKClient(sessionId, m_loginWithin, [this]() { return isAuthEnabled() != 0; });
    // Shared before the registry shares it (it keeps this owner), so that the client outlives
    // a failed start, which the registry releases at once, for as long as stop may abort it.
    client->makeShared();
    std::shared_ptr<VexaClient> held = client->sharedSelf();
    {
        std::lock_guard<std::mutex> lock(m_startingLock);
        m_starting = held;
        // Once stopping, the start returns at once and the registry closes the session.
        if (thread->isStop())
            client->abortStart();
    }
    const std::shared_ptr<VexaClient> admitted = m_registry.admit(client);
    {
        std::lock_guard<std::mutex> lock(m_startingLock);
        m_starting.reset();
    }
    if (admitted)
        RDLOG("P2P session %d connected", sessionId);
}

void TUTKServer::sendToAll(const char* data, int length)
{
    m_registry.sendToAll(data, length);
}

std::vector<std::shared_ptr<VexaClient>> TUTKServer::clients()
{
    return m_registry.clients();
}

bool TUTKServer::startPending()
{
    std::lock_guard<std::mutex> lock(m_startingLock);
    return m_starting != nullptr;
}
