#include "RDHttpConnection.h"

#include "RDHttpBaseRequest.h"
#include "RDHttpTextResponse.h"
#include "RDLog.h"
#include "RDMFData.h"
#include "RDMemoryData.h"
#include "RDRandom.h"
#include "RDSocket.h"
#include "RDString.h"
#include "RDTcpSocket.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <memory>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kReceiveBytes = 1024;
// How long an error answer waits for the peer to take it before the connection is dropped.
constexpr int kLingerMs = 500;
constexpr int kLingerBytes = 2 * 1024 * 1024;

std::atomic<unsigned long long> g_bodyCounter{0};

} // namespace

RDHttpConnection::RDHttpConnection(RDSocket* socket) : m_socket(socket), m_buffer(new RDMemoryData(4096))
{
    applyWriteTimeout();
}

RDHttpConnection::~RDHttpConnection()
{
    if (m_socket)
        m_socket->close();
    delete m_socket;
    delete m_buffer;
}

void RDHttpConnection::setTimeouts(int idleMs, int requestMs)
{
    m_idleTimeoutMs = idleMs;
    m_requestTimeoutMs = requestMs;
}

void RDHttpConnection::setWriteTimeout(int ms)
{
    m_writeTimeoutMs = ms;
    applyWriteTimeout();
}

void RDHttpConnection::applyWriteTimeout()
{
    if (auto* tcp = dynamic_cast<RDTcpSocket*>(m_socket))
        tcp->setTimeout(tcp->receiveTimeout(), m_writeTimeoutMs > 0 ? m_writeTimeoutMs : 0);
}

bool RDHttpConnection::isConnected() const
{
    return m_socket && m_socket->isValid();
}

int RDHttpConnection::write(const char* data, int length)
{
    return m_socket ? m_socket->send(data, length) : -1;
}

int RDHttpConnection::writeAll(const char* data, int length)
{
    if (!isConnected() || length <= 0)
        return 0;
    const int sent = m_socket->sendAll(data, length, m_writeTimeoutMs > 0 ? m_writeTimeoutMs : -1);
    if (sent < length && m_socket->isValid()) {
        // The peer stopped reading mid-message; what follows could not be framed any more.
        RDLOG("http client %s: write timed out after %d of %d bytes", remotePort().c_str(), sent, length);
        m_socket->shutdown();
    }
    return sent;
}

int RDHttpConnection::writeAll(const std::string& data)
{
    return writeAll(data.data(), static_cast<int>(data.size()));
}

void RDHttpConnection::sendResponse(RDHttpResponse* response)
{
    if (response)
        response->send(this);
}

void RDHttpConnection::close()
{
    // Shut down only: the descriptor goes with this object, after every thread that might
    // still call shutdown() on it has let go.
    if (m_socket)
        m_socket->shutdown();
}

void RDHttpConnection::shutdown()
{
    if (m_socket)
        m_socket->shutdown();
}

std::string RDHttpConnection::remotePort() const
{
    return m_socket ? std::to_string(m_socket->address().port()) : std::string("0");
}

RDHttpConnection::ReceiveResult RDHttpConnection::receive(Clock::time_point deadline, bool limited)
{
    char chunk[kReceiveBytes];
    while (isConnected()) {
        long long waitUs = 1000000;
        if (limited) {
            waitUs = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
            if (waitUs <= 0)
                return TimedOut;
        }
        const int ready = m_socket->waitReadable(static_cast<int>(waitUs / 1000000), static_cast<int>(waitUs % 1000000));
        if (ready < 0)
            return Failed;
        if (ready == 0)
            continue;
        const int n = m_socket->recv(chunk, sizeof(chunk));
        if (n > 0) {
            if (m_buffer->write(chunk, n) != n)
                return Failed;
            return Received;
        }
        // Would-block and interrupted receives leave the socket valid: wait again.
    }
    return Failed;
}

void RDHttpConnection::skipEmptyLines()
{
    // RFC 9112 2.2: empty lines before a request line are ignored (some clients send CR LF
    // after a body), with or without their CR.
    for (;;) {
        const char* data = m_buffer->data();
        const int size = m_buffer->size();
        if (size >= 1 && data[0] == '\n')
            m_buffer->skip(1);
        else if (size >= 2 && data[0] == '\r' && data[1] == '\n')
            m_buffer->skip(2);
        else
            return;
        m_headScanned = 0;
    }
}

bool RDHttpConnection::findHeadEnd(const char* data, size_t size, size_t* scanned, size_t* headEnd, size_t* headBytes)
{
    size_t i = *scanned;
    for (; i < size; ++i) {
        if (data[i] != '\n')
            continue;
        // RFC 9112 2.2: the next line is empty when an LF, or a CR and an LF, follow; an LF
        // whose next line cannot be judged yet is looked at again with more data.
        if (i + 1 >= size || (data[i + 1] == '\r' && i + 2 >= size))
            break;
        const size_t terminator = data[i + 1] == '\n' ? 2 : (data[i + 1] == '\r' && data[i + 2] == '\n' ? 3 : 0);
        if (terminator) {
            *headEnd = i;
            *headBytes = i + terminator;
            return true;
        }
    }
    *scanned = i;
    return false;
}

bool RDHttpConnection::findHead(size_t* headEnd, size_t* headBytes)
{
    const size_t size = std::min(static_cast<size_t>(m_buffer->size()), static_cast<size_t>(kMaxHeadBytes));
    if (!findHeadEnd(m_buffer->data(), size, &m_headScanned, headEnd, headBytes))
        return false;
    m_headScanned = 0;
    return true;
}

std::string RDHttpConnection::newBodyPath() const
{
    const unsigned long long random = randomSeed();
    char name[96];
    std::snprintf(name, sizeof(name), "http-body-%d-%llu-%016llx", static_cast<int>(getpid()),
                  g_bodyCounter.fetch_add(1), random);
    return joinUrlPath(m_tempDir, name);
}

int RDHttpConnection::statusCode(RDHttpParseStatus status)
{
    switch (status) {
    case RDHttpParseStatus::Ok:
        return 0;
    case RDHttpParseStatus::MalformedRequestLine:
    case RDHttpParseStatus::MalformedContentLength:
        return 400;
    case RDHttpParseStatus::HeadTimedOut:
    case RDHttpParseStatus::BodyTimedOut:
        return 408;
    case RDHttpParseStatus::BodyTooLarge:
        return 413;
    case RDHttpParseStatus::HeadTooLarge:
        return 431;
    case RDHttpParseStatus::TransferCoding:
        return 501;
    case RDHttpParseStatus::BodyStoreFailed:
        break;
    }
    return 500;
}

std::unique_ptr<RDHttpBaseRequest> RDHttpConnection::refuse(RDHttpParseStatus why)
{
    refuse(why, false);
    return nullptr;
}

void RDHttpConnection::refuse(RDHttpParseStatus why, bool quiet)
{
    const int status = statusCode(why);
    if (!quiet)
        RDLOG("http client %s: %d %s (%s)", remotePort().c_str(), status, RDHttpResponse::reasonPhrase(status),
              describeParseStatus(why));
    if (!isConnected())
        return;
    RDHttpTextResponse response;
    response.setStatus(status);
    response.setHeader("Connection", "close");
    response.setText(response.reason());
    sendResponse(&response);
    if (status != 408 && isConnected()) {
        // Let the answer reach a client that is still sending: closing with unread bytes
        // would reset the connection and could destroy the answer in flight.
        ::shutdown(m_socket->handle(), SHUT_WR);
        const auto deadline = Clock::now() + std::chrono::milliseconds(kLingerMs);
        char chunk[kReceiveBytes];
        int drained = 0;
        while (drained < kLingerBytes) {
            const long long waitUs =
                std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
            if (waitUs <= 0 || m_socket->waitReadable(0, static_cast<int>(waitUs)) <= 0)
                break;
            const int n = m_socket->recv(chunk, sizeof(chunk));
            if (n <= 0)
                break;
            drained += n;
        }
    }
    close();
}

RDHttpConnection::Arrival RDHttpConnection::receiveArrived()
{
    char chunk[kReceiveBytes];
    for (;;) {
        if (!isConnected())
            return Arrival::Ended;
        const ssize_t n = ::recv(m_socket->handle(), chunk, sizeof(chunk), MSG_DONTWAIT);
        if (n > 0) {
            if (m_buffer->write(chunk, static_cast<int>(n)) != n)
                return Arrival::Ended;
            skipEmptyLines();
            size_t headEnd = 0;
            size_t headBytes = 0;
            if (findHead(&headEnd, &headBytes) || m_buffer->size() > kMaxHeadBytes)
                return Arrival::Head;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return Arrival::Partial;
        return Arrival::Ended;
    }
}

bool RDHttpConnection::hasRequestBytes() const
{
    return !m_buffer->isEmpty();
}

std::unique_ptr<RDHttpBaseRequest> RDHttpConnection::readRequest()
{
    if (!isConnected())
        return nullptr;

    // The head: wait for its first byte up to the idle limit, then for all of it up to the
    // head limit (and the request limit, when that is shorter).
    const auto idleDeadline = Clock::now() + std::chrono::milliseconds(std::max(m_idleTimeoutMs, 0));
    Clock::time_point requestDeadline{};
    Clock::time_point headDeadline{};
    bool requestStarted = false;
    size_t headEnd = 0;
    size_t headBytes = 0;
    for (;;) {
        skipEmptyLines();
        if (!requestStarted && !m_buffer->isEmpty()) {
            requestStarted = true;
            const auto now = Clock::now();
            requestDeadline = now + std::chrono::milliseconds(std::max(m_requestTimeoutMs, 0));
            headDeadline = requestDeadline;
            if (m_headTimeoutMs > 0 && (m_requestTimeoutMs <= 0 || m_headTimeoutMs < m_requestTimeoutMs))
                headDeadline = now + std::chrono::milliseconds(m_headTimeoutMs);
        }
        if (findHead(&headEnd, &headBytes))
            break;
        if (m_buffer->size() > kMaxHeadBytes)
            return refuse(RDHttpParseStatus::HeadTooLarge);
        const bool headLimited = m_headTimeoutMs > 0 || m_requestTimeoutMs > 0;
        const ReceiveResult result =
            requestStarted ? receive(headDeadline, headLimited) : receive(idleDeadline, m_idleTimeoutMs > 0);
        if (result == TimedOut) {
            if (requestStarted)
                return refuse(RDHttpParseStatus::HeadTimedOut);
            RDLOG("http client %s: idle, closing", remotePort().c_str());
            close();
            return nullptr;
        }
        if (result == Failed) {
            close();
            return nullptr;
        }
    }

    const std::string head(m_buffer->data(), headEnd);
    m_buffer->skip(static_cast<int>(headBytes));
    auto request = std::make_unique<RDHttpBaseRequest>();
    const RDHttpParseStatus status = request->parseHead(head);
    if (status != RDHttpParseStatus::Ok)
        return refuse(status);
    const int64_t length = request->contentLength();
    if (length > kMaxBodyBytes)
        return refuse(RDHttpParseStatus::BodyTooLarge);

    if (!m_tempDir.empty() && m_memoryThreshold > 0)
        request->setBody(new RDMFData(newBodyPath(), m_memoryThreshold));
    else
        request->setBody(new RDMFData());
    RDData* body = request->body();

    if (length > m_buffer->size() && compareIgnoreCase(request->header("Expect"), "100-continue") == 0)
        writeAll(std::string("HTTP/1.1 100 Continue\r\n\r\n"));

    // The body: exactly Content-Length bytes; whatever follows stays for the next request.
    for (;;) {
        const int64_t missing = length - body->size();
        const int take = static_cast<int>(std::min<int64_t>(missing, m_buffer->size()));
        if (take > 0) {
            if (body->write(m_buffer->data(), take) != take)
                return refuse(RDHttpParseStatus::BodyStoreFailed);
            m_buffer->skip(take);
        }
        if (body->size() >= length)
            return request;
        const ReceiveResult result = receive(requestDeadline, m_requestTimeoutMs > 0);
        if (result == TimedOut)
            return refuse(RDHttpParseStatus::BodyTimedOut);
        if (result == Failed) {
            RDLOG("http client %s: connection lost inside a body", remotePort().c_str());
            close();
            return nullptr;
        }
    }
}
