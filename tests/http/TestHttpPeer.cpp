#include "TestHttpPeer.h"

#include "RDHttpBaseRequest.h"

#include <chrono>
#include <cstdlib>

namespace {

using Clock = std::chrono::steady_clock;

long long remainingUs(Clock::time_point deadline)
{
    return std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
}

} // namespace

TestHttpClient::TestHttpClient(int port)
{
    m_socket.connect(RDSocketAddress("127.0.0.1", port));
}

bool TestHttpClient::send(const std::string& bytes)
{
    return m_socket.sendAll(bytes.data(), static_cast<int>(bytes.size()), 5000) == static_cast<int>(bytes.size());
}

bool TestHttpClient::trickle(const std::string& bytes, int pauseMs)
{
    for (char c : bytes) {
        if (m_socket.send(&c, 1) != 1)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
    }
    return true;
}

bool TestHttpClient::fill(int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const long long us = remainingUs(deadline);
        if (us <= 0 || !m_socket.isValid())
            return false;
        if (m_socket.waitReadable(static_cast<int>(us / 1000000), static_cast<int>(us % 1000000)) != 1)
            continue;
        char buffer[4096];
        const int n = m_socket.recv(buffer, sizeof(buffer));
        if (n > 0) {
            m_pending.append(buffer, static_cast<size_t>(n));
            return true;
        }
    }
}

std::string TestHttpClient::readResponse(int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const size_t end = m_pending.find("\r\n\r\n");
        if (end != std::string::npos) {
            size_t length = 0;
            const size_t at = m_pending.find("Content-Length: ");
            if (at != std::string::npos && at < end)
                length = std::strtoul(m_pending.c_str() + at + 16, nullptr, 10);
            if (m_pending.size() >= end + 4 + length) {
                std::string response = m_pending.substr(0, end + 4 + length);
                m_pending.erase(0, end + 4 + length);
                return response;
            }
        }
        if (!fill(static_cast<int>(remainingUs(deadline) / 1000)))
            return std::string();
    }
}

bool TestHttpClient::readUntilClosed(std::string* bytes, int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (fill(static_cast<int>(remainingUs(deadline) / 1000))) {
    }
    if (bytes)
        *bytes = m_pending;
    m_pending.clear();
    return !m_socket.isValid();
}

TestHttpPair::TestHttpPair()
{
    server.open(RDSocketAddress("127.0.0.1", 0));
    client = new TestHttpClient(server.address().port());
    if (RDTcpSocket* accepted = server.accept())
        connection = new RDHttpConnection(accepted);
}

TestHttpPair::~TestHttpPair()
{
    delete connection;
    delete client;
    server.close();
}

TestHttpLoopServer::TestHttpLoopServer(Handler handler, int idleMs, int requestMs)
    : m_handler(std::move(handler)), m_idleMs(idleMs), m_requestMs(requestMs)
{
    m_server.open(RDSocketAddress("127.0.0.1", 0));
    m_acceptThread = std::thread([this] { acceptLoop(); });
}

TestHttpLoopServer::~TestHttpLoopServer()
{
    stop();
}

void TestHttpLoopServer::setTempDir(const std::string& dir, int threshold)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_tempDir = dir;
    m_threshold = threshold;
}

void TestHttpLoopServer::stop()
{
    if (m_stop.exchange(true))
        return;
    m_server.shutdown();
    m_acceptThread.join();
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& client : m_clients) {
        client.second->shutdown();
        client.first.join();
        delete client.second;
    }
    m_clients.clear();
    m_server.close();
}

void TestHttpLoopServer::acceptLoop()
{
    while (!m_stop) {
        if (m_server.waitReadable(0, 10000) != 1)
            continue;
        RDTcpSocket* socket = m_server.accept();
        if (!socket)
            continue;
        if (m_stop) {
            delete socket;
            break;
        }
        ++connections;
        auto* connection = new RDHttpConnection(socket);
        connection->setTimeouts(m_idleMs, m_requestMs);
        std::lock_guard<std::mutex> lock(m_mutex);
        connection->setTempDir(m_tempDir);
        connection->setMemoryThreshold(m_threshold);
        m_clients.emplace_back(std::thread([this, connection] { clientLoop(connection); }), connection);
    }
}

void TestHttpLoopServer::clientLoop(RDHttpConnection* connection)
{
    while (!m_stop && connection->isConnected()) {
        const std::unique_ptr<RDHttpBaseRequest> request = connection->readRequest();
        if (!request)
            continue;
        ++requests;
        m_handler(connection, request.get());
        if (request->header("Connection") != "keep-alive")
            connection->close();
    }
    ++ended;
}
