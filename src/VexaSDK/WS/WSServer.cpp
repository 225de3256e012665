#include "WSServer.h"

#include "RDFunctionThread.h"
#include "RDLog.h"
#include "RDTcpSocket.h"
#include "RDTcpSocketServer.h"
#include "RDThread.h"

namespace {

// The accept wait is cut into slices of this length so that a stop is seen even if the shutdown
// that wakes it were missed; stop shuts the socket down, which ends the wait at once.
constexpr int kAcceptSliceUs = 1000 * 1000;

} // namespace

WSServer::WSServer(const WSClient::Timeouts& timeouts)
    : m_timeouts(timeouts), m_registry(*this)
{
}

WSServer::~WSServer()
{
    stop();
}

bool WSServer::start()
{
    stop();
    auto listenSocket = std::make_unique<RDTcpSocketServer>();
    if (listenSocket->open(m_address) < 0) {
        RDLOG("WebSocket server: cannot listen on %s (error %d)", m_address.toString().c_str(),
              listenSocket->lastError());
        return false;
    }
    listenSocket->setNonBlocking();
    m_listeningPort.store(listenSocket->address().port());
    m_listenSocket = std::move(listenSocket);
    RDTcpSocketServer* socket = m_listenSocket.get();
    m_listenThread = std::make_unique<RDFunctionThread>(
        "WSServer Listen", [this](RDThread* thread) { run(thread); }, [socket]() { socket->shutdown(); });
    if (!m_listenThread->start()) {
        RDLOG("WebSocket server: the listen thread did not start");
        stop();
        return false;
    }
    RDLOG("WebSocket server listens on %s:%d", m_address.host().c_str(), m_listeningPort.load());
    return true;
}

void WSServer::stop()
{
    if (m_listenThread) {
        m_listenThread->stop();
        m_listenThread->wait();
        m_listenThread.reset();
    }
    m_registry.stopAll();
    if (m_listenSocket) {
        m_listenSocket->close();
        m_listenSocket.reset();
        RDLOG("WebSocket server on %s stopped", m_address.toString().c_str());
    }
    m_listeningPort.store(0);
}

void WSServer::setTimeouts(const WSClient::Timeouts& timeouts)
{
    std::lock_guard<std::mutex> lock(m_timeoutsLock);
    m_timeouts = timeouts;
}

WSClient::Timeouts WSServer::timeouts() const
{
    std::lock_guard<std::mutex> lock(m_timeoutsLock);
    return m_timeouts;
}

bool WSServer::isRunning() const
{
    return m_listenThread != nullptr;
}

bool WSServer::isListening() const
{
    return m_listenSocket && m_listenSocket->isValid();
}

void WSServer::sendToAll(const char* data, int length)
{
    m_registry.sendToAll(data, length);
}

void WSServer::run(RDThread* thread)
{
    // Waits for connections until stop, which shuts the listening socket down to wake it.
    while (!thread->isStop() && m_listenSocket->isValid()) {
        if (m_listenSocket->waitReadable(0, kAcceptSliceUs) <= 0)
            continue;
        acceptOne();
    }
}

void WSServer::acceptOne()
{
    std::unique_ptr<RDTcpSocket> socket(m_listenSocket->accept());
    if (!socket)
        return;
    m_registry.purgeDisconnected();
    if (m_registry.count() >= kMaxClients) {
        m_refused.fetch_add(1);
        RDLOG("WebSocket client %s refused: %d clients served already", socket->address().toString().c_str(),
              kMaxClients);
        socket->close();
        return;
    }
    socket->setNonBlocking();
    RDLOG("WebSocket client %s connected", socket->address().toString().c_str());
    m_registry.admit(new WSClient(socket.release(), [this]() {
        WSClient::Rules rules;
        rules.timeouts = timeouts();
        rules.loginRequired = isAuthEnabled() != 0;
        return rules;
    }));
}
