#pragma once

#include "RDHttpConnection.h"
#include "RDTcpSocket.h"
#include "RDTcpSocketServer.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class RDHttpBaseRequest;

// A raw HTTP client on loopback that sends scripted bytes and reads what comes back.
class TestHttpClient
{
public:
    explicit TestHttpClient(int port);
    bool isConnected() const { return m_socket.isValid(); }
    bool send(const std::string& bytes);
    // Sends one byte at a time with a pause between them.
    bool trickle(const std::string& bytes, int pauseMs);
    // One response: its head and a Content-Length body; empty when the connection ended first
    // or nothing came within the time.
    std::string readResponse(int timeoutMs = 5000);
    // Everything until the server closes; false when it did not close within the time.
    bool readUntilClosed(std::string* bytes, int timeoutMs = 5000);
    void close() { m_socket.close(); }
    RDTcpSocket& socket() { return m_socket; }

private:
    bool fill(int timeoutMs);

    RDTcpSocket m_socket;
    std::string m_pending;
};

// A listener with a connected client and the server side wrapped in an RDHttpConnection,
// all on the calling thread.
class TestHttpPair
{
public:
    TestHttpPair();
    ~TestHttpPair();
    RDTcpSocketServer server;
    TestHttpClient* client = nullptr;
    RDHttpConnection* connection = nullptr;
};

// The shape of the stream server's client loop, built on RDHttpConnection: one thread per
// connection reads requests and hands them to the handler; the connection stays open for
// the next request when the client asked for keep-alive.
class TestHttpLoopServer
{
public:
    using Handler = std::function<void(RDHttpConnection*, RDHttpBaseRequest*)>;

    explicit TestHttpLoopServer(Handler handler, int idleMs = RDHttpConnection::kDefaultIdleTimeoutMs,
                                int requestMs = RDHttpConnection::kDefaultRequestTimeoutMs);
    ~TestHttpLoopServer();
    int port() const { return m_server.address().port(); }
    void setTempDir(const std::string& dir, int threshold);
    void stop();

    std::atomic<int> connections{0};
    std::atomic<int> requests{0};
    std::atomic<int> ended{0};

private:
    void acceptLoop();
    void clientLoop(RDHttpConnection* connection);

    Handler m_handler;
    int m_idleMs;
    int m_requestMs;
    std::string m_tempDir;
    int m_threshold = 0;
    RDTcpSocketServer m_server;
    std::atomic<bool> m_stop{false};
    std::thread m_acceptThread;
    std::mutex m_mutex;
    std::vector<std::pair<std::thread, RDHttpConnection*>> m_clients;
};
