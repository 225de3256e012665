#include "RDHttpStreamServer.h"

#include "RDDigest.h"
#include "RDHttpBaseRequest.h"
#include "RDHttpConnection.h"
#include "RDHttpStreamServerClientThread.h"
#include "RDHttpStreamServerObserver.h"
#include "RDHttpStreamServerThread.h"
#include "RDHttpTextResponse.h"
#include "RDLog.h"
#include "RDString.h"
#include "RDTcpSocket.h"
#include "RDTcpSocketServer.h"

#include <algorithm>

namespace {

constexpr int kDefaultPort = 8088;
// How often the accept loop releases ended connections while no new one arrives, and how long
// it pauses between looks for a free slot when the client limit is reached.
constexpr double kIdleReapSeconds = 0.2;
constexpr int kSlotWaitMs = 10;
// A stop wakes the wait at once (it shuts the listening socket down), so the time-out only
// paces the reaping of ended connections while nobody connects. Waking every 10 ms had cost
// 2 % of a core on an idle program.
constexpr int kAcceptWaitUs = 500000;

bool isCredentialHeader(const std::string& name)
{
    return compareIgnoreCase(name, "Authorization") == 0 || compareIgnoreCase(name, "Proxy-Authorization") == 0 ||
           compareIgnoreCase(name, "Cookie") == 0;
}

// Equal texts of equal length; the time taken does not tell where they differ.
bool sameSecret(const std::string& a, const std::string& b)
{
    const size_t n = std::max(a.size(), b.size());
    unsigned char diff = a.size() == b.size() ? 0 : 1;
    for (size_t i = 0; i < n; ++i) {
        const unsigned char x = i < a.size() ? static_cast<unsigned char>(a[i]) : 0;
        const unsigned char y = i < b.size() ? static_cast<unsigned char>(b[i]) : 0;
        diff |= static_cast<unsigned char>(x ^ y);
    }
    return diff == 0;
}

} // namespace

RDHttpStreamServer::RDHttpStreamServer() = default;

RDHttpStreamServer::~RDHttpStreamServer()
{
    // The owner stops the server first; a thread left running would outlive its server.
    stop();
}

void RDHttpStreamServer::setConfigure(const RDHttpServerConfigure& configure)
{
    std::lock_guard<std::mutex> lock(m_configMutex);
    m_configure = configure;
    m_streamQueueLimit.store(configure.streamQueueLimit, std::memory_order_relaxed);
}

RDHttpServerConfigure RDHttpStreamServer::configure() const
{
    std::lock_guard<std::mutex> lock(m_configMutex);
    return m_configure;
}

void RDHttpStreamServer::setObserver(RDHttpStreamServerObserver* observer)
{
    std::lock_guard<std::mutex> lock(m_configMutex);
    m_observer = observer;
}

RDHttpStreamServerObserver* RDHttpStreamServer::observer() const
{
    std::lock_guard<std::mutex> lock(m_configMutex);
    return m_observer;
}

int RDHttpStreamServer::start()
{
    std::lock_guard<std::mutex> lock(m_lifeMutex);
    if (m_thread) {
        RDLOG("http server already started; stop it before starting it again");
        return -1;
    }
    m_thread = new RDHttpStreamServerThread(this);
    if (!m_thread->start()) {
        delete m_thread;
        m_thread = nullptr;
        return -1;
    }
    m_started = true;
    return 0;
}

void RDHttpStreamServer::stop()
{
    std::lock_guard<std::mutex> lock(m_lifeMutex);
    if (!m_thread)
        return;
    m_thread->stop();
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
    m_started = false;
}

bool RDHttpStreamServer::isStarted() const
{
    return m_started.load(std::memory_order_acquire);
}

RDTcpSocketServer* RDHttpStreamServer::createServerSocket()
{
    return new RDTcpSocketServer();
}

void RDHttpStreamServer::acceptLoop(RDHttpStreamServerThread* thread)
{
    const RDHttpServerConfigure startConfigure = configure();
    const RDSocketAddress address(startConfigure.host.empty() ? std::string("0.0.0.0") : startConfigure.host,
                                  startConfigure.port < 1 ? kDefaultPort : startConfigure.port);
    RDTcpSocketServer* socket = createServerSocket();
    if (!socket || socket->open(address) < 0) {
        RDLOG("http server cannot listen on %s", address.toString().c_str());
        if (RDHttpStreamServerObserver* o = observer())
            o->onListenFailed(this, address);
        delete socket;
        return;
    }
    // A connection that goes away between the wait and the accept must not block the loop.
    socket->setNonBlocking();
    {
        std::lock_guard<std::mutex> lock(m_listenMutex);
        m_listenSocket = socket;
    }
    RDLOG("http server listening on %s", socket->address().toString().c_str());
    if (RDHttpStreamServerObserver* o = observer())
        o->onListening(this, socket->address());

    double lastReap = RDThread::tickTime();
    while (!thread->isStop()) {
        // A connection or a stop wakes the wait at once.
        const int ready = socket->waitReadable(0, kAcceptWaitUs);
        if (ready != 1) {
            if (ready < 0)
                thread->pause(1);
            if (RDThread::tickTime() - lastReap >= kIdleReapSeconds) {
                std::lock_guard<std::mutex> lock(m_clientMutex);
                reapClientsLocked();
                lastReap = RDThread::tickTime();
            }
            continue;
        }
        RDTcpSocket* peer = socket->accept();
        if (!peer)
            continue;
        if (thread->isStop()) {
            delete peer;
            break;
        }
        const RDHttpServerConfigure current = configure();
        {
            std::lock_guard<std::mutex> lock(m_clientMutex);
            reapClientsLocked();
            lastReap = RDThread::tickTime();
        }
        if (current.maxClients >= 1 && !waitForSlot(thread, current.maxClients)) {
            delete peer;
            break;
        }
        auto* connection = new RDHttpConnection(peer);
        connection->setTempDir(current.tempDir);
        connection->setMemoryThreshold(current.memoryThreshold);
        connection->setTimeouts(current.idleTimeoutMs, current.requestTimeoutMs);
        auto* client = new RDHttpStreamServerClientThread(this, connection);
        // Listed before it runs: a stream removal must find every client that may attach.
        std::lock_guard<std::mutex> lock(m_clientMutex);
        m_clients.push_back(client);
        if (!client->start()) {
            RDLOG("http server: no thread for client %s", connection->remotePort().c_str());
            m_clients.pop_back();
            delete client;
        }
    }
    closeClients();
    {
        std::lock_guard<std::mutex> lock(m_listenMutex);
        m_listenSocket = nullptr;
    }
    socket->close();
    delete socket;
    RDLOG("http server stopped listening on %s", address.toString().c_str());
}

void RDHttpStreamServer::wakeAccept()
{
    std::lock_guard<std::mutex> lock(m_listenMutex);
    if (m_listenSocket)
        m_listenSocket->shutdown();
}

bool RDHttpStreamServer::waitForSlot(RDHttpStreamServerThread* thread, int maxClients)
{
    // The waiting connection is held, never refused. The list lock is let go between looks,
    // so that the stream writers are not held up meanwhile.
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(m_clientMutex);
            reapClientsLocked();
            if (static_cast<int>(m_clients.size()) < maxClients)
                return true;
        }
        if (thread->isStop())
            return false;
        thread->pause(kSlotWaitMs);
        if (thread->isStop())
            return false;
    }
}

void RDHttpStreamServer::reapClientsLocked()
{
    for (auto it = m_clients.begin(); it != m_clients.end();) {
        RDHttpStreamServerClientThread* client = *it;
        if (client->isRunning()) {
            ++it;
            continue;
        }
        it = m_clients.erase(it);
        client->stop();
        client->wait();
        delete client;
    }
}

void RDHttpStreamServer::closeClients()
{
    // A client may at this moment be inside a request handler that stops a channel and so
    // waits for the list lock in removeStream: take the list out, then wait outside the lock.
    std::list<RDHttpStreamServerClientThread*> clients;
    {
        std::lock_guard<std::mutex> lock(m_clientMutex);
        clients.swap(m_clients);
    }
    for (RDHttpStreamServerClientThread* client : clients)
        client->stop();
    for (RDHttpStreamServerClientThread* client : clients) {
        client->wait();
        delete client;
    }
}

int RDHttpStreamServer::clientCount() const
{
    std::lock_guard<std::mutex> lock(m_clientMutex);
    return static_cast<int>(m_clients.size());
}

bool RDHttpStreamServer::addStream(const RDHttpAudioStream& stream)
{
    if (stream.path.empty() || stream.bufferSize <= 0) {
        RDLOG("stream \"%s\" not added: it needs a path and a buffer size above 0 (%d)", stream.path.c_str(),
              stream.bufferSize);
        return false;
    }
    std::lock_guard<std::mutex> lock(m_streamMutex);
    m_streams.push_back(stream);
    return true;
}

void RDHttpStreamServer::removeStream(const RDHttpAudioStream& stream)
{
    {
        std::lock_guard<std::mutex> lock(m_streamMutex);
        m_streams.erase(std::remove_if(m_streams.begin(), m_streams.end(),
                                       [&](const RDHttpAudioStream& s) { return s.isSameStream(stream); }),
                        m_streams.end());
    }
    std::lock_guard<std::mutex> lock(m_clientMutex);
    for (RDHttpStreamServerClientThread* client : m_clients)
        client->finish(stream.path);
}

void RDHttpStreamServer::writeStream(const RDHttpAudioStream& stream, const char* data, int length)
{
    if (!data || length <= 0)
        return;
    const int limit = configureQueueLimit();
    std::lock_guard<std::mutex> lock(m_clientMutex);
    for (RDHttpStreamServerClientThread* client : m_clients)
        client->append(stream.path, data, length, limit);
}

bool RDHttpStreamServer::hasStream(const std::string& path) const
{
    std::lock_guard<std::mutex> lock(m_streamMutex);
    return std::any_of(m_streams.begin(), m_streams.end(), [&](const RDHttpAudioStream& s) { return s.path == path; });
}

bool RDHttpStreamServer::attachStream(RDHttpStreamServerClientThread* client, const std::string& path,
                                      RDHttpAudioStream* found)
{
    std::lock_guard<std::mutex> lock(m_streamMutex);
    for (const RDHttpAudioStream& stream : m_streams) {
        if (stream.path == path) {
            client->attach(stream);
            *found = stream;
            return true;
        }
    }
    return false;
}

bool RDHttpStreamServer::checkBasicAuthorization(const std::string& header, const std::string& userName,
                                                 const std::string& password)
{
    if (userName.empty() && password.empty())
        return true;
    const std::vector<std::string> pieces = splitString(header, " ");
    if (pieces.size() < 2)
        return false;
    std::string remote = pieces[1];
    trim(remote);
    return sameSecret(base64Encode(userName + ":" + password), remote);
}

bool RDHttpStreamServer::authenticate(RDHttpConnection* connection, RDHttpBaseRequest* request)
{
    if (!request)
        return false;
    const RDHttpServerConfigure current = configure();
    if (current.userName.empty() && current.password.empty())
        return true;
    const bool ok = checkBasicAuthorization(request->header("Authorization"), current.userName, current.password);
    RDLOG("auth %s for client %s", ok ? "ok" : "failed", connection ? connection->remotePort().c_str() : "?");
    return ok;
}

void RDHttpStreamServer::autoHandlerRequest(RDHttpConnection* connection, RDHttpBaseRequest* request)
{
    if (!connection)
        return;
    if (request) {
        RDLog::Line line = RDLOGLINE();
        line << "handle " << connection->remotePort() << "\n";
        line << request->method() << " " << request->path() << " " << request->version() << "\n";
        for (const auto& header : request->headers())
            line << header.first << " : " << (isCredentialHeader(header.first) ? "(hidden)" : header.second) << "\n";
        line << "\n";
    }
    RDHttpTextResponse response;
    response.setStatus(404);
    response.setText(std::string());
    connection->sendResponse(&response);
}
