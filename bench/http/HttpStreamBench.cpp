// Prints, for a stream written like a 128 kbit/s MP3 channel (418 bytes every 26.1 ms):
// writeStream p50/p99 and the process CPU per listener with 0 and 20 listeners, and with 20
// plus one that stopped reading; then "/api" round trips per second over keep-alive.
#include "BenchProcess.h"
#include "RDHttpBaseRequest.h"
#include "RDHttpConnection.h"
#include "RDHttpStreamServer.h"
#include "RDHttpStreamServerObserver.h"
#include "RDHttpTextResponse.h"
#include "RDTcpSocket.h"
#include "RDTcpSocketServer.h"

#include <QtGlobal>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

int connectTo(int port, int receiveBuffer)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (receiveBuffer > 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof(receiveBuffer));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    return fd;
}

class ApiObserver : public RDHttpStreamServerObserver
{
public:
    void onRequest(RDHttpStreamServer*, RDHttpConnection* connection, RDHttpBaseRequest*) override
    {
        RDHttpTextResponse response;
        response.setJson("{\"result\":0}");
        connection->sendResponse(&response);
    }
};

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<size_t>(p * static_cast<double>(values.size())))];
}

void streamRun(RDHttpStreamServer& server, int port, int listeners, bool stalled, double seconds)
{
    RDHttpAudioStream stream;
    stream.path = "/stream/1";
    stream.bufferSize = 8192;
    stream.contentType = "audio/mp3";
    server.addStream(stream);
    std::vector<int> fds;
    const std::string request = "GET /stream/1 HTTP/1.1\r\nHost: x\r\n\r\n";
    for (int i = 0; i < listeners + (stalled ? 1 : 0); ++i) {
        const bool stall = i == listeners;
        const int fd = connectTo(port, stall ? 4096 : 0);
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        fds.push_back(fd);
    }
    std::atomic<bool> stop{false};
    // One thread reads every listener but the stalled one.
    std::thread reader([&] {
        std::vector<pollfd> polls;
        for (int i = 0; i < listeners; ++i)
            polls.push_back({fds[static_cast<size_t>(i)], POLLIN, 0});
        char buffer[65536];
        while (!stop) {
            if (polls.empty() || ::poll(polls.data(), polls.size(), 50) <= 0) {
                if (polls.empty())
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
                continue;
            }
            for (auto& p : polls)
                if (p.revents & POLLIN)
                    ::recv(p.fd, buffer, sizeof(buffer), 0);
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const std::string frame(418, '\x55');
    std::vector<double> calls;
    const double cpu0 = BenchProcess::cpuSeconds();
    const auto start = Clock::now();
    auto next = start;
    while (std::chrono::duration<double>(Clock::now() - start).count() < seconds) {
        const auto t0 = Clock::now();
        server.writeStream(stream, frame.data(), static_cast<int>(frame.size()));
        calls.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
        next += std::chrono::microseconds(26122);
        std::this_thread::sleep_until(next);
    }
    const double cpu = BenchProcess::cpuSeconds() - cpu0;
    stop = true;
    reader.join();
    server.removeStream(stream);
    for (int fd : fds)
        ::close(fd);
    std::printf("%2d listeners%s: writeStream p50 %5.1f us  p99 %6.1f us  max %7.1f us; CPU %.2f%% of a core%s\n",
                listeners, stalled ? " + 1 stalled" : "            ", percentile(calls, 0.5), percentile(calls, 0.99),
                percentile(calls, 1.0), 100.0 * cpu / seconds,
                listeners ? (" (" + std::to_string(100.0 * cpu / seconds / listeners).substr(0, 5) + "% each)").c_str()
                          : "");
}

void apiRun(RDHttpStreamServer& server, int port)
{
    RDTcpSocket client;
    client.connect(RDSocketAddress("127.0.0.1", port));
    const std::string request = "GET /api?action=start&id=1 HTTP/1.1\r\nHost: x\r\nConnection: keep-alive\r\n\r\n";
    char buffer[4096];
    const int rounds = 5000;
    const auto start = Clock::now();
    for (int i = 0; i < rounds; ++i) {
        client.sendAll(request.data(), static_cast<int>(request.size()), 5000);
        std::string answer;
        while (answer.find("{\"result\":0}") == std::string::npos) {
            const int n = client.recv(buffer, sizeof(buffer));
            if (n <= 0)
                return;
            answer.append(buffer, static_cast<size_t>(n));
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("\"/api\" over keep-alive: %.0f requests/s\n", rounds / seconds);
    (void)server;
}

} // namespace

int main()
{
    qInstallMessageHandler(quiet);
    RDTcpSocketServer probe;
    probe.open(RDSocketAddress("127.0.0.1", 0));
    const int port = probe.address().port();
    probe.close();

    ApiObserver observer;
    RDHttpStreamServer server;
    RDHttpServerConfigure configure;
    configure.host = "127.0.0.1";
    configure.port = port;
    configure.maxClients = 30;
    server.setConfigure(configure);
    server.setObserver(&observer);
    server.start();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

    streamRun(server, port, 0, false, 10);
    streamRun(server, port, 20, false, 10);
    streamRun(server, port, 20, true, 10);
    apiRun(server, port);
    server.stop();
    return 0;
}
