// Prints: the time to set up 20 simultaneous connections to one listener (system backlog and
// a backlog of 1), and HTTP request round trips per second over one keep-alive connection.
#include "RDHttpBaseRequest.h"
#include "RDHttpConnection.h"
#include "RDHttpTextResponse.h"
#include "RDTcpSocket.h"
#include "RDTcpSocketServer.h"

#include <QtGlobal>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t0)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

// 20 clients connect at the same moment; the listener accepts the way the HTTP server does
// (1 ms waits). Prints the milliseconds until the last connection was accepted (10 s at most).
void connectBurst(int backlog)
{
    RDTcpSocketServer server;
    server.setBacklog(backlog);
    server.open(RDSocketAddress("127.0.0.1", 0));
    const int port = server.address().port();
    std::atomic<bool> go{false};
    std::vector<std::thread> clients;
    std::vector<RDTcpSocket*> sockets(20, nullptr);
    for (int i = 0; i < 20; ++i) {
        clients.emplace_back([&, i] {
            while (!go)
                std::this_thread::yield();
            sockets[i] = new RDTcpSocket;
            sockets[i]->connect(RDSocketAddress("127.0.0.1", port));
        });
    }
    std::vector<RDTcpSocket*> accepted;
    const auto t0 = Clock::now();
    go = true;
    while (accepted.size() < 20 && msSince(t0) < 10000) {
        if (server.waitReadable(0, 1000) == 1) {
            if (RDTcpSocket* s = server.accept())
                accepted.push_back(s);
        }
    }
    const double ms = msSince(t0);
    for (auto& t : clients)
        t.join();
    for (RDTcpSocket* s : sockets)
        delete s;
    for (RDTcpSocket* s : accepted)
        delete s;
    server.close();
    std::printf("20 simultaneous connections, backlog %s: %zu accepted in %.1f ms\n",
                backlog > 0 ? std::to_string(backlog).c_str() : "SOMAXCONN", accepted.size(), ms);
}

void keepAliveRate(int count)
{
    RDTcpSocketServer server;
    server.open(RDSocketAddress("127.0.0.1", 0));
    RDTcpSocket client;
    client.connect(RDSocketAddress("127.0.0.1", server.address().port()));
    RDHttpConnection connection(server.accept());
    std::thread serving([&] {
        while (connection.isConnected()) {
            const std::unique_ptr<RDHttpBaseRequest> request = connection.readRequest();
            if (!request)
                break;
            RDHttpTextResponse response;
            response.setJson("{\"result\":0}");
            connection.sendResponse(&response);
        }
    });
    const std::string request = "GET /api?action=start&id=3 HTTP/1.1\r\nConnection: keep-alive\r\n\r\n";
    std::vector<double> latencies;
    latencies.reserve(static_cast<size_t>(count));
    char buffer[1024];
    const auto t0 = Clock::now();
    for (int i = 0; i < count; ++i) {
        const auto r0 = Clock::now();
        client.sendAll(request.data(), static_cast<int>(request.size()), 5000);
        std::string response;
        while (response.size() < 4 || response.compare(response.size() - 12, 12, "{\"result\":0}") != 0) {
            const int n = client.recv(buffer, sizeof(buffer));
            if (n <= 0)
                break;
            response.append(buffer, static_cast<size_t>(n));
        }
        latencies.push_back(msSince(r0));
    }
    const double total = msSince(t0);
    connection.shutdown();
    serving.join();
    std::sort(latencies.begin(), latencies.end());
    std::printf("keep-alive HTTP requests: %d in %.0f ms = %.0f/s, p50 %.3f ms, p99 %.3f ms\n", count, total,
                count * 1000.0 / total, latencies[latencies.size() / 2], latencies[latencies.size() * 99 / 100]);
}

} // namespace

int main()
{
    qInstallMessageHandler(quiet);
    connectBurst(0);
    connectBurst(1);
    keepAliveRate(20000);
    return 0;
}
