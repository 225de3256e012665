// Prints "/api" round-trip times (a new connection per request, as curl makes them) while the
// server is held by slow-loris peers (each sends a partial head, then one header line every
// couple of seconds, and connects again at once whenever the server closes it) and by 20 stream
// listeners that take every listener slot; also the most threads the process had and the rate
// at which the peers got new connections.
//   bench_http_flood [seconds=30] [peers=500] [maxPendingConnections] [maxRequestConnections]
//                    [displaceGraceMs] [headTimeoutMs]
// Leaving out the last four runs with the server's defaults (as the application does).
#include "BenchProcess.h"
#include "RDHttpBaseRequest.h"
#include "RDHttpConnection.h"
#include "RDHttpStreamServer.h"
#include "RDHttpStreamServerObserver.h"
#include "RDHttpTextResponse.h"
#include "RDTcpSocketServer.h"

#include <QtGlobal>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
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

void quiet(QtMsgType, const QMessageLogContext&, const QString&) { }

double msSince(Clock::time_point t0)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

sockaddr_in loopback(int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

int connectNonBlocking(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    const sockaddr_in address = loopback(port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 && errno != EINPROGRESS) {
        ::close(fd);
        return -1;
    }
    return fd;
}

class ApiObserver : public RDHttpStreamServerObserver
{
public:
    void onRequest(RDHttpStreamServer*, RDHttpConnection* connection, RDHttpBaseRequest*) override
    {
        RDHttpTextResponse response;
        response.setJson("{\"result\":-1,\"error\":\"invalid id\"}");
        connection->sendResponse(&response);
    }
};

// The slow-loris peers, all on one thread.
class Peers
{
public:
    Peers(int port, int count) : m_port(port), m_fds(static_cast<size_t>(count), -1), m_next(m_fds.size())
    {
        m_thread = std::thread([this] { run(); });
    }
    ~Peers()
    {
        m_stop = true;
        m_thread.join();
        for (int fd : m_fds) {
            if (fd >= 0)
                ::close(fd);
        }
    }
    long connections() const { return m_connections; }

private:
    void open(size_t i)
    {
        m_fds[i] = connectNonBlocking(m_port);
        m_sentHead[i] = false;
        m_next[i] = Clock::now() + std::chrono::milliseconds(1500 + static_cast<int>(i % 1000));
        if (m_fds[i] >= 0)
            ++m_connections;
    }

    void run()
    {
        m_sentHead.assign(m_fds.size(), false);
        for (size_t i = 0; i < m_fds.size(); ++i)
            open(i);
        std::vector<pollfd> polls(m_fds.size());
        char buffer[4096];
        const std::string head = "GET /api?action=start&id=1 HTTP/1.1\r\nHost: x\r\n";
        const std::string line = "X-a: b\r\n";
        while (!m_stop) {
            for (size_t i = 0; i < m_fds.size(); ++i)
                polls[i] = {m_fds[i], static_cast<short>(POLLIN | (m_sentHead[i] ? 0 : POLLOUT)), 0};
            ::poll(polls.data(), polls.size(), 50);
            const auto now = Clock::now();
            for (size_t i = 0; i < m_fds.size(); ++i) {
                if (m_fds[i] < 0) {
                    open(i);
                    continue;
                }
                bool closed = (polls[i].revents & (POLLERR | POLLHUP)) != 0;
                if (!closed && (polls[i].revents & POLLIN)) {
                    // An answer (408) or the end: either way this connection is over.
                    ::recv(m_fds[i], buffer, sizeof(buffer), 0);
                    closed = true;
                }
                if (!closed && !m_sentHead[i] && (polls[i].revents & POLLOUT)) {
                    closed = ::send(m_fds[i], head.data(), head.size(), MSG_NOSIGNAL) < 0;
                    m_sentHead[i] = true;
                } else if (!closed && m_sentHead[i] && now >= m_next[i]) {
                    closed = ::send(m_fds[i], line.data(), line.size(), MSG_NOSIGNAL) < 0;
                    m_next[i] = now + std::chrono::seconds(2);
                }
                if (closed) {
                    // Whatever the server said (408, or nothing), connect again at once.
                    ::close(m_fds[i]);
                    open(i);
                }
            }
        }
    }

    int m_port;
    std::vector<int> m_fds;
    std::vector<bool> m_sentHead;
    std::vector<Clock::time_point> m_next;
    std::atomic<bool> m_stop{false};
    std::atomic<long> m_connections{0};
    std::thread m_thread;
};

// Listeners that read everything on one thread; counts the bytes.
class Listeners
{
public:
    Listeners(int port, int count)
    {
        const std::string request = "GET /stream/1 HTTP/1.1\r\nHost: x\r\n\r\n";
        for (int i = 0; i < count; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            const sockaddr_in address = loopback(port);
            ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
            ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
            m_fds.push_back(fd);
        }
        m_thread = std::thread([this] {
            std::vector<pollfd> polls;
            for (int fd : m_fds)
                polls.push_back({fd, POLLIN, 0});
            char buffer[65536];
            while (!m_stop) {
                if (::poll(polls.data(), polls.size(), 50) <= 0)
                    continue;
                for (auto& p : polls) {
                    if (p.revents & POLLIN) {
                        const ssize_t n = ::recv(p.fd, buffer, sizeof(buffer), 0);
                        if (n > 0)
                            m_bytes += n;
                        else
                            p.fd = -1;
                    }
                }
            }
        });
    }
    ~Listeners()
    {
        m_stop = true;
        m_thread.join();
        for (int fd : m_fds)
            ::close(fd);
    }
    long bytes() const { return m_bytes; }

private:
    std::vector<int> m_fds;
    std::atomic<bool> m_stop{false};
    std::atomic<long> m_bytes{0};
    std::thread m_thread;
};

// One "/api" request on a new connection; the milliseconds to the whole answer, or -1.
// One request on a new connection; the milliseconds until the answer holds expected, or -1.
double roundTrip(int port, const std::string& target, const std::string& expected, int timeoutMs)
{
    const auto t0 = Clock::now();
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof(limit));
    const sockaddr_in address = loopback(port);
    const std::string request = "GET " + target + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
    std::string answer;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0 &&
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
        char buffer[4096];
        while (answer.find(expected) == std::string::npos && msSince(t0) < timeoutMs) {
            const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
            if (n <= 0)
                break;
            answer.append(buffer, static_cast<size_t>(n));
        }
    }
    ::close(fd);
    return answer.find(expected) == std::string::npos ? -1 : msSince(t0);
}

double apiRoundTrip(int port, int timeoutMs)
{
    return roundTrip(port, "/api?action=start&id=1x", "\"invalid id\"}", timeoutMs);
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<size_t>(p * static_cast<double>(values.size())))];
}

} // namespace

int main(int argc, char** argv)
{
    qInstallMessageHandler(quiet);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 30;
    const int peers = argc > 2 ? std::atoi(argv[2]) : 500;
    // Both ends of every connection live in this process.
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);

    RDTcpSocketServer probe;
    probe.open(RDSocketAddress("127.0.0.1", 0));
    const int port = probe.address().port();
    probe.close();

    ApiObserver observer;
    RDHttpStreamServer server;
    RDHttpServerConfigure configure;
    configure.host = "127.0.0.1";
    configure.port = port;
    configure.maxClients = 20;
    if (argc > 3)
        configure.maxPendingConnections = std::atoi(argv[3]);
    if (argc > 4)
        configure.maxRequestConnections = std::atoi(argv[4]);
    if (argc > 5)
        configure.displaceGraceMs = std::atoi(argv[5]);
    if (argc > 6)
        configure.headTimeoutMs = std::atoi(argv[6]);
    server.setConfigure(configure);
    server.setObserver(&observer);
    RDHttpAudioStream stream;
    stream.path = "/stream/1";
    stream.bufferSize = 8192;
    server.addStream(stream);
    server.start();
    while (apiRoundTrip(port, 1000) < 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    Listeners listeners(port, 20);
    while (server.listenerCount() < 20)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::atomic<bool> stop{false};
    // 128 kbit/s, as a channel writes it.
    std::thread feeder([&] {
        const std::string frame(418, '\x55');
        auto next = Clock::now();
        while (!stop) {
            server.writeStream(stream, frame.data(), static_cast<int>(frame.size()));
            next += std::chrono::microseconds(26122);
            std::this_thread::sleep_until(next);
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const int threadsBefore = BenchProcess::threadCount();
    Peers flood(port, peers);
    int maxThreads = 0;
    std::atomic<bool> sampling{true};
    std::thread sampler([&] {
        while (sampling) {
            maxThreads = std::max(maxThreads, BenchProcess::threadCount());
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    // The peers first fill every place; then "/api" is asked, one request after the other.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const long connectionsBefore = flood.connections();
    const double cpuBefore = BenchProcess::cpuSeconds();
    const long bytesBefore = listeners.bytes();
    const auto t0 = Clock::now();
    std::vector<double> times;
    int failures = 0;
    while (msSince(t0) < seconds * 1000) {
        const double ms = apiRoundTrip(port, 10000);
        if (ms < 0)
            ++failures;
        else
            times.push_back(ms);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    const double elapsed = msSince(t0) / 1000;
    const double cpu = (BenchProcess::cpuSeconds() - cpuBefore) / elapsed;
    const double churn = static_cast<double>(flood.connections() - connectionsBefore) / elapsed;
    const double listenerRate = static_cast<double>(listeners.bytes() - bytesBefore) / elapsed / 20;
    // A listener beyond the twenty, a few times.
    std::vector<double> refusals;
    int refusalFailures = 0;
    for (int i = 0; i < 20; ++i) {
        const double ms = roundTrip(port, "/stream/1", "Too Many Listeners", 10000);
        if (ms < 0)
            ++refusalFailures;
        else
            refusals.push_back(ms);
    }
    sampling = false;
    sampler.join();
    stop = true;
    feeder.join();

    std::printf("limits: %d listeners, %d unfinished heads, %d request threads, displaced after %d ms, head "
                "within %d ms\n",
                configure.maxClients, configure.maxPendingConnections, configure.maxRequestConnections,
                configure.displaceGraceMs, configure.headTimeoutMs);
    std::printf("%d slow-loris peers + %d listeners, %.0f s: \"/api\" %zu answered, %d failed; "
                "p50 %.1f ms, p90 %.1f ms, p99 %.1f ms, max %.1f ms\n",
                peers, server.listenerCount(), elapsed, times.size(), failures, percentile(times, 0.5),
                percentile(times, 0.9), percentile(times, 0.99), percentile(times, 1.0));
    std::printf("a 21st listener: %zu refused with 503, %d without; p50 %.1f ms, max %.1f ms\n", refusals.size(),
                refusalFailures, percentile(refusals, 0.5), percentile(refusals, 1.0));
    std::printf("peers got %.0f new connections/s; threads: %d before the peers, at most %d with them; "
                "each listener received %.0f bytes/s (16,000 sent); the process (server and peers) used %.0f%% of "
                "a core\n",
                churn, threadsBefore, maxThreads, listenerRate, 100 * cpu);
    server.stop();
    return 0;
}
