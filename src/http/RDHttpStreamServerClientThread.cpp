#include "RDHttpStreamServerClientThread.h"

#include "RDHttpBaseRequest.h"
#include "RDHttpBinaryResponse.h"
#include "RDHttpConnection.h"
#include "RDHttpStreamResponse.h"
#include "RDHttpStreamServer.h"
#include "RDHttpStreamServerObserver.h"
#include "RDHttpTextResponse.h"
#include "RDLog.h"
#include "RDMemoryData.h"
#include "RDSocket.h"
#include "RDString.h"

#include <algorithm>
#include <memory>
#include <cerrno>
#include <chrono>
#include <sched.h>
#include <sys/socket.h>
#include <vector>

namespace {

constexpr int kPlainPieceBytes = 1024;
// The sender wakes at least this often to look at the connection and the stop flag; new
// pieces wake it at once.
constexpr auto kSenderWake = std::chrono::milliseconds(100);

} // namespace

RDHttpStreamServerClientThread::RDHttpStreamServerClientThread(RDHttpStreamServer* server,
                                                               RDHttpConnection* connection)
    : m_server(server), m_connection(connection), m_waitingSince(RDThread::monotonicTime())
{
}

RDHttpStreamServerClientThread::~RDHttpStreamServerClientThread()
{
    delete m_connection;
    delete m_queue;
}

void RDHttpStreamServerClientThread::stop()
{
    RDThread::stop();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_wake.notify_all();
    }
    m_connection->shutdown();
}

void RDHttpStreamServerClientThread::run()
{
    while (!isStop()) {
        if (!m_connection->isConnected())
            break;
        const std::unique_ptr<RDHttpBaseRequest> request = m_connection->readRequest();
        if (!request)
            continue;
        // A connection displaced while its request arrived goes unanswered: it was closed.
        Phase waiting = Phase::Waiting;
        if (!m_phase.compare_exchange_strong(waiting, Phase::Serving, std::memory_order_acq_rel))
            break;
        RDLOG("recv %s", request->toString().c_str());
        const std::string& path = request->path();
        if (startsWith(path, "/stream")) {
            serveStream(request.get());
            break;
        }
        if (startsWith(path, "/sdk")) {
            // Nothing is answered here; the idle time-out ends a connection left waiting.
        } else if (m_server->authenticate(m_connection, request.get())) {
            if (RDHttpStreamServerObserver* observer = m_server->observer())
                observer->onRequest(m_server, m_connection, request.get());
            else
                m_server->autoHandlerRequest(m_connection, request.get());
        } else {
            RDHttpTextResponse response;
            response.setStatus(401);
            response.setHeader("WWW-Authenticate", "Basic realm=\"Quorvel Sonaris\"");
            response.setText("Unauthorized");
            m_connection->sendResponse(&response);
        }
        if (request->header("Connection") != "keep-alive") {
            m_connection->close();
        } else {
            m_waitingSince.store(RDThread::monotonicTime(), std::memory_order_release);
            m_phase.store(Phase::Waiting, std::memory_order_release);
        }
    }
    m_connection->close();
}

bool RDHttpStreamServerClientThread::displace()
{
    Phase waiting = Phase::Waiting;
    if (!m_phase.compare_exchange_strong(waiting, Phase::Displaced, std::memory_order_acq_rel))
        return false;
    stop();
    return true;
}

void RDHttpStreamServerClientThread::serveStream(RDHttpBaseRequest* request)
{
    RDHttpAudioStream stream;
    const RDHttpStreamServer::Attach attached = m_server->attachStream(this, request->path(), &stream);
    if (attached != RDHttpStreamServer::Attach::Attached) {
        RDHttpTextResponse response;
        if (attached == RDHttpStreamServer::Attach::Full) {
            // Refused at once: a listener left waiting would hold a connection and a thread
            // with nothing to show for it.
            RDLOG("client %s refused %s: every listener slot is taken", m_connection->remotePort().c_str(),
                  request->path().c_str());
            response.setStatus(503);
            response.setText("Too Many Listeners");
        } else {
            response.setStatus(404);
            response.setText("Stream Not Exists");
        }
        m_connection->sendResponse(&response);
        m_connection->close();
        return;
    }
    // Listeners are bulk work: woken by the stream writers, they must not preempt them (a
    // channel's send thread), so they wait for a free processor or the next tick instead.
    sched_param param{};
    if (::sched_setscheduler(0, SCHED_BATCH, &param) != 0)
        RDLOG("client %s: no batch scheduling (errno %d)", m_connection->remotePort().c_str(), errno);
    // A listener that stops reading must not hold its thread for longer than this per piece,
    // nor park more than a few seconds of audio in the kernel.
    const RDHttpServerConfigure configure = m_server->configure();
    m_connection->setWriteTimeout(configure.streamWriteTimeoutMs);
    if (configure.streamSendBuffer > 0 && m_connection->socket()) {
        const int size = configure.streamSendBuffer;
        ::setsockopt(m_connection->socket()->handle(), SOL_SOCKET, SO_SNDBUF, &size, sizeof(size));
    }
    RDLOG("client %s plays %s%s", m_connection->remotePort().c_str(), stream.path.c_str(),
          request->header("Icy-MetaData") == "1" ? " with ICY metadata" : "");
    if (request->header("Icy-MetaData") == "1")
        sendIcy(stream);
    else
        sendPlain(stream);
    detach();
    m_server->releaseListener();
    m_connection->close();
}

void RDHttpStreamServerClientThread::attach(const RDHttpAudioStream& stream)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_phase.store(Phase::Listening, std::memory_order_release);
    m_stream = stream;
    m_finished = false;
    delete m_queue;
    m_queue = new RDMemoryData(2 * stream.bufferSize);
}

void RDHttpStreamServerClientThread::detach()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    delete m_queue;
    m_queue = nullptr;
    m_stream = RDHttpAudioStream();
    m_pieceSize = 0;
}

void RDHttpStreamServerClientThread::sendPlain(const RDHttpAudioStream& stream)
{
    RDHttpBinaryResponse response;
    response.setStatus(200);
    response.setHeader("Content-Type", stream.contentType);
    response.setHeader("Accept-Ranges", "none");
    response.setHeader("Access-Control-Allow-Headers", "Content-Type,X-Requested-With");
    response.setHeader("Connection", "close");
    const std::string head = response.head();
    if (!send(head.data(), static_cast<int>(head.size()), true))
        return;
    char piece[kPlainPieceBytes];
    while (takePiece(piece, kPlainPieceBytes)) {
        if (!send(piece, kPlainPieceBytes))
            break;
    }
}

void RDHttpStreamServerClientThread::sendIcy(const RDHttpAudioStream& stream)
{
    RDHttpStreamResponse response;
    response.setStatus(200);
    response.setIcyBr(stream.bitrate);
    response.setIcySr(stream.sampleRate);
    response.setIcyName(stream.name);
    response.setIcyMetaint(stream.bufferSize);
    response.setHeader("Content-Type", stream.contentType);
    response.setIcyPub(1);
    const std::string head = response.head();
    if (!send(head.data(), static_cast<int>(head.size()), true))
        return;
    // Every interval of audio is followed by an empty metadata block (one zero byte); both go
    // out whole, or the listener is ended, so the block can never land inside the audio.
    const int interval = stream.bufferSize;
    std::vector<char> piece(static_cast<size_t>(interval) + 1, 0);
    while (takePiece(piece.data(), interval)) {
        piece[static_cast<size_t>(interval)] = 0;
        if (!send(piece.data(), interval + 1))
            break;
    }
}

bool RDHttpStreamServerClientThread::send(const char* data, int length, bool head)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        // A listener whose stream ended right after it attached still gets a whole head.
        if (isStop() || (m_finished && !head))
            return false;
        // A head goes into the empty buffer of a new connection; only pieces can get stuck.
        m_sending = !head;
    }
    const int sent = m_connection->writeAll(data, length);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sending = false;
    return sent == length;
}

bool RDHttpStreamServerClientThread::takePiece(char* piece, int size)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_pieceSize = size;
    for (;;) {
        if (isStop() || m_finished || !m_queue || !m_connection->isConnected()) {
            m_pieceSize = 0;
            return false;
        }
        if (m_queue->size() >= size) {
            m_queue->read(piece, size);
            return true;
        }
        m_wake.wait_for(lock, kSenderWake);
    }
}

bool RDHttpStreamServerClientThread::append(const std::string& path, const char* data, int length, int limit)
{
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_queue || m_finished || m_stream.path != path)
            return false;
        // The cap never falls below two pieces, or an ICY listener could never be served.
        const int cap = std::max(limit, 2 * std::max(m_stream.bufferSize, kPlainPieceBytes));
        if (static_cast<long long>(m_queue->size()) + length > cap) {
            endLocked("fell behind");
            return true;
        }
        if (m_queue->write(data, length) != length) {
            endLocked("has no room");
            return true;
        }
        wake = m_pieceSize > 0 && m_queue->size() >= m_pieceSize;
    }
    // Outside the lock, so that the woken sender does not at once block on it. The server's
    // client-list lock, held by the caller, keeps this object alive.
    if (wake)
        m_wake.notify_one();
    return false;
}

void RDHttpStreamServerClientThread::finish(const std::string& path)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_queue && !m_finished && m_stream.path == path)
        endLocked("stream removed");
}

void RDHttpStreamServerClientThread::endLocked(const char* why)
{
    m_finished = true;
    m_wake.notify_all();
    // Wakes a send that is stuck on a listener that stopped reading; a sender between sends
    // sees the flag and leaves after whole pieces.
    if (m_sending)
        m_connection->shutdown();
    RDLOG("client %s of %s ended: %s (%d bytes unsent)", m_connection->remotePort().c_str(), m_stream.path.c_str(),
          why, m_queue ? m_queue->size() : 0);
}
