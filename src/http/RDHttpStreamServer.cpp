#include "RDHttpStreamServer.h"

#include "RDDigest.h"
#include "RDHttpBaseRequest.h"
#include "RDHttpConnection.h"
#include "RDHttpStreamServerClientThread.h"
#include "RDHttpStreamServerObserver.h"
#include "RDHttpTextResponse.h"
#include "RDFunctionThread.h"
#include "RDLog.h"
#include "RDString.h"
#include "RDTcpSocket.h"
#include "RDTcpSocketServer.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <vector>

namespace {

constexpr int kDefaultPort = 8088;
// How often the accept loop releases ended connections while no new one arrives.
constexpr double kIdleReapSeconds = 0.2;
// How often a connection with a whole head looks again for a thread while all are taken.
constexpr int kThreadWaitMs = 10;
// A stop or a new connection wakes the wait at once (a stop shuts the listening socket down),
// and so do the bytes of a head; the time-out only paces the reaping of ended connections
// while nothing happens. Waking every 10 ms had cost 2 % of a core on an idle program.
constexpr int kAcceptWaitMs = 500;
// New connections taken per look at the listening socket, before the heads are read again.
constexpr int kAcceptBatch = 64;
// A flood displaces thousands of connections a second; the log gets one line about them per
// period instead of one each.
constexpr double kFloodLogSeconds = 10.0;
// When an accept fails for want of descriptors or memory the connection stays queued and the
// listening socket readable: accepting pauses this long instead of trying again at once.
constexpr double kAcceptPauseSeconds = 0.1;

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
    m_thread = new RDFunctionThread(
        "RDHttpServer", [this](RDThread* thread) { acceptLoop(thread); }, [this] { wakeAccept(); });
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

void RDHttpStreamServer::acceptLoop(RDThread* thread)
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

    // This thread takes new connections and reads their heads as the bytes come, so that a
    // connection costs a thread only once its head is whole: peers that connect and never
    // finish a head cost a descriptor and a buffer each, up to a bound, and cannot keep others
    // out. One wait covers the listening socket and every unfinished head.
    std::vector<pollfd> polls;
    double lastReap = RDThread::monotonicTime();
    while (!thread->isStop()) {
        ++m_pass;
        const RDHttpServerConfigure current = configure();
        polls.clear();
        polls.push_back({RDThread::monotonicTime() < m_acceptPausedUntil ? -1 : socket->handle(), POLLIN, 0});
        for (const Pending& pending : m_pending)
            polls.push_back({pending.ready ? -1 : pending.connection->socket()->handle(), POLLIN, 0});
        const int ready = ::poll(polls.data(), polls.size(), pendingWaitMs(current));
        if (thread->isStop())
            break;
        if (ready < 0 && errno != EINTR)
            thread->sleepUntilStop(1);
        double now = RDThread::monotonicTime();
        readPending(polls, now);
        expirePending(current, now);
        const bool accepted = ready > 0 && (polls[0].revents & POLLIN) && acceptNew(socket, current, now);
        startReady(current);
        logFlood(false);
        now = RDThread::monotonicTime();
        if (accepted || now - lastReap >= kIdleReapSeconds) {
            reapClients();
            lastReap = now;
        }
    }
    logFlood(true);
    for (const Pending& pending : m_pending)
        delete pending.connection;
    m_pending.clear();
    closeClients();
    {
        std::lock_guard<std::mutex> lock(m_listenMutex);
        m_listenSocket = nullptr;
    }
    socket->close();
    delete socket;
    RDLOG("http server stopped listening on %s", address.toString().c_str());
}

int RDHttpStreamServer::pendingWaitMs(const RDHttpServerConfigure& configure) const
{
    const double now = RDThread::monotonicTime();
    double due = now + kAcceptWaitMs / 1000.0;
    if (m_acceptPausedUntil > now)
        due = std::min(due, m_acceptPausedUntil);
    for (const Pending& pending : m_pending) {
        if (pending.ready)
            due = std::min(due, now + kThreadWaitMs / 1000.0);
        else if (const double deadline = pendingDeadline(pending, configure))
            due = std::min(due, deadline);
    }
    return std::max(0, static_cast<int>((due - now) * 1000.0) + 1);
}

double RDHttpStreamServer::pendingDeadline(const Pending& pending, const RDHttpServerConfigure& configure)
{
    // The same limits as RDHttpConnection::readRequest: the idle limit until the first byte,
    // then the head limit (or the request limit when that is shorter).
    if (!pending.started)
        return configure.idleTimeoutMs > 0 ? pending.accepted + configure.idleTimeoutMs / 1000.0 : 0;
    int limitMs = configure.headTimeoutMs;
    if (configure.requestTimeoutMs > 0 && (limitMs <= 0 || configure.requestTimeoutMs < limitMs))
        limitMs = configure.requestTimeoutMs;
    return limitMs > 0 ? pending.started + limitMs / 1000.0 : 0;
}

void RDHttpStreamServer::readPending(const std::vector<pollfd>& polls, double now)
{
    size_t kept = 0;
    for (size_t i = 0; i < m_pending.size(); ++i) {
        Pending pending = m_pending[i];
        if (polls[i + 1].revents) {
            switch (pending.connection->receiveArrived()) {
            case RDHttpConnection::Arrival::Ended:
                delete pending.connection;
                continue;
            case RDHttpConnection::Arrival::Head:
                pending.ready = true;
                break;
            case RDHttpConnection::Arrival::Partial:
                if (!pending.started && pending.connection->hasRequestBytes())
                    pending.started = now;
                break;
            }
        }
        m_pending[kept++] = pending;
    }
    m_pending.resize(kept);
}

void RDHttpStreamServer::expirePending(const RDHttpServerConfigure& configure, double now)
{
    size_t kept = 0;
    for (size_t i = 0; i < m_pending.size(); ++i) {
        const Pending pending = m_pending[i];
        const double deadline = pending.ready ? 0 : pendingDeadline(pending, configure);
        if (deadline && now >= deadline) {
            if (pending.started) {
                // As a connection with a thread would: 408. Summed up in the log.
                ++m_headsTimedOut;
                pending.connection->refuse(RDHttpParseStatus::HeadTimedOut, true);
            }
            delete pending.connection;
            continue;
        }
        m_pending[kept++] = pending;
    }
    m_pending.resize(kept);
}

bool RDHttpStreamServer::acceptNew(RDTcpSocketServer* socket, const RDHttpServerConfigure& configure, double now)
{
    // Fewer than half the bound per pass, so that a connection taken in an earlier pass is
    // always there to make way (see roomForPending).
    const int limit = configure.maxPendingConnections;
    const int batch = limit < 1 ? kAcceptBatch : std::min(kAcceptBatch, std::max(1, limit / 2));
    bool accepted = false;
    for (int i = 0; i < batch; ++i) {
        RDTcpSocket* peer = socket->accept();
        if (!peer) {
            const int error = socket->lastError();
            if (error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM) {
                if (now - m_acceptFailureLogged >= kFloodLogSeconds) {
                    RDLOG("http server cannot take a connection (errno %d); pausing %.0f ms", error,
                          kAcceptPauseSeconds * 1000);
                    m_acceptFailureLogged = now;
                }
                m_acceptPausedUntil = now + kAcceptPauseSeconds;
            }
            break;
        }
        accepted = true;
        auto* connection = new RDHttpConnection(peer);
        connection->setTempDir(configure.tempDir);
        connection->setMemoryThreshold(configure.memoryThreshold);
        connection->setTimeouts(configure.idleTimeoutMs, configure.requestTimeoutMs);
        connection->setHeadTimeout(configure.headTimeoutMs);
        Pending pending{connection, m_pass, now, 0, false};
        // Most requests are in by the time they are accepted.
        switch (connection->receiveArrived()) {
        case RDHttpConnection::Arrival::Ended:
            delete connection;
            continue;
        case RDHttpConnection::Arrival::Head:
            pending.ready = true;
            break;
        case RDHttpConnection::Arrival::Partial:
            pending.started = connection->hasRequestBytes() ? now : 0;
            break;
        }
        if (!roomForPending(configure)) {
            ++m_turnedAway;
            delete connection;
            continue;
        }
        m_pending.push_back(pending);
    }
    return accepted;
}

bool RDHttpStreamServer::roomForPending(const RDHttpServerConfigure& configure)
{
    // At the bound the connection that has waited longest for its head makes way. It must have
    // been looked at for bytes at least once since it was taken (taken in an earlier pass), so
    // that a head sent right after connecting is not lost to a flood; with the batch below the
    // bound there is such a connection unless nearly every one has its head.
    const int limit = configure.maxPendingConnections;
    if (limit < 1 || static_cast<int>(m_pending.size()) < limit)
        return true;
    for (auto it = m_pending.begin(); it != m_pending.end(); ++it) {
        if (it->ready)
            continue;
        if (it->pass == m_pass)
            return false;
        delete it->connection;
        m_pending.erase(it);
        ++m_displaced;
        return true;
    }
    return false;
}

void RDHttpStreamServer::startReady(const RDHttpServerConfigure& configure)
{
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        if (!it->ready) {
            ++it;
            continue;
        }
        if (!roomForThread(configure))
            return;
        auto* client = new RDHttpStreamServerClientThread(this, it->connection);
        it = m_pending.erase(it);
        // Listed before it runs: a stream removal must find every client that may attach.
        std::lock_guard<std::mutex> lock(m_clientMutex);
        m_clients.push_back(client);
        if (!client->start()) {
            RDLOG("http server: no thread for client %s", client->connection()->remotePort().c_str());
            m_clients.pop_back();
            delete client;
        }
    }
}

bool RDHttpStreamServer::roomForThread(const RDHttpServerConfigure& configure)
{
    // Threads that serve requests, and those idle between keep-alive requests, are bounded apart
    // from the listeners. At the bound the one that has waited longest for its next request
    // makes way, once it has had the grace time; one being answered is never cut off.
    const int limit = configure.maxRequestConnections;
    if (limit < 1)
        return true;
    const double grace = std::max(configure.displaceGraceMs, 0) / 1000.0;
    std::lock_guard<std::mutex> lock(m_clientMutex);
    for (;;) {
        int count = 0;
        RDHttpStreamServerClientThread* oldest = nullptr;
        for (RDHttpStreamServerClientThread* client : m_clients) {
            if (!client->isRunning())
                continue;
            const RDHttpStreamServerClientThread::Phase phase = client->phase();
            if (phase == RDHttpStreamServerClientThread::Phase::Serving)
                ++count;
            if (phase != RDHttpStreamServerClientThread::Phase::Waiting)
                continue;
            ++count;
            if (!oldest || client->waitingSince() < oldest->waitingSince())
                oldest = client;
        }
        if (count < limit)
            return true;
        if (!oldest || RDThread::monotonicTime() - oldest->waitingSince() < grace)
            return false;
        if (oldest->displace())
            ++m_displaced;
        // Displaced, or it has just begun to be answered: count again.
    }
}

void RDHttpStreamServer::logFlood(bool force)
{
    if (m_displaced == 0 && m_turnedAway == 0 && m_headsTimedOut == 0)
        return;
    const double now = RDThread::monotonicTime();
    if (!force && m_floodLogged > 0 && now - m_floodLogged < kFloodLogSeconds)
        return;
    RDLOG("http server: %d connections that had not sent a whole request made way for new ones, %d new ones were "
          "turned away, %d heads came too slowly (408)",
          m_displaced, m_turnedAway, m_headsTimedOut);
    m_displaced = 0;
    m_turnedAway = 0;
    m_headsTimedOut = 0;
    m_floodLogged = now;
}

void RDHttpStreamServer::wakeAccept()
{
    std::lock_guard<std::mutex> lock(m_listenMutex);
    if (m_listenSocket)
        m_listenSocket->shutdown();
}

void RDHttpStreamServer::reapClients()
{
    // Joined outside the list lock, which the stream writers need: releasing a thread's stack
    // took up to a millisecond on a loaded machine.
    std::vector<RDHttpStreamServerClientThread*> ended;
    {
        std::lock_guard<std::mutex> lock(m_clientMutex);
        for (auto it = m_clients.begin(); it != m_clients.end();) {
            if ((*it)->isRunning()) {
                ++it;
                continue;
            }
            ended.push_back(*it);
            it = m_clients.erase(it);
        }
    }
    for (RDHttpStreamServerClientThread* client : ended) {
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

int RDHttpStreamServer::listenerCount() const
{
    std::lock_guard<std::mutex> lock(m_streamMutex);
    return m_listeners;
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

RDHttpStreamServer::Attach RDHttpStreamServer::attachStream(RDHttpStreamServerClientThread* client,
                                                            const std::string& path, RDHttpAudioStream* found)
{
    const int limit = configure().maxClients;
    std::lock_guard<std::mutex> lock(m_streamMutex);
    for (const RDHttpAudioStream& stream : m_streams) {
        if (stream.path == path) {
            if (limit >= 1 && m_listeners >= limit)
                return Attach::Full;
            client->attach(stream);
            ++m_listeners;
            *found = stream;
            return Attach::Attached;
        }
    }
    return Attach::NoStream;
}

void RDHttpStreamServer::releaseListener()
{
    std::lock_guard<std::mutex> lock(m_streamMutex);
    --m_listeners;
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
    // The client thread has logged the request in full ("recv"); naming it again here would
    // only double every unhandled request in the log.
    if (request)
        RDLOG("handle %s: %s %s unhandled", connection->remotePort().c_str(), request->method().c_str(),
              request->path().c_str());
    RDHttpTextResponse response;
    response.setStatus(404);
    response.setText(std::string());
    connection->sendResponse(&response);
}
