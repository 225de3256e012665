// Figures of the WebSocket server on loopback, in process, with an observer that answers every
// message at once (so the figures are the transport's own, without the JSON protocol):
//   1. CPU of the whole process while 50 clients are connected and quiet;
//   2. round trips of a small text message, p50/p99, with 1 and 20 clients asking in turn while
//      another client keeps the server busy with a stream of messages;
//   3. memory while a listener stops reading and a channel keeps sending it 20-ms audio frames;
//   4. how long a real client waits behind 64 connections that never send, read or answer a
//      ping (every slot), with authentication off and on, at the server's own waits: it tries
//      to connect every 100 ms and counts as served once it is answered (after "login" with
//      authentication on).
//
//   bench_ws [--idle-seconds S] [--rounds N] [--stall-seconds S] [--no-lockout]

#include "BenchProcess.h"
#include "RDSocketAddress.h"
#include "VexaAudioPacket.h"
#include "VexaBuffer.h"
#include "VexaClient.h"
#include "VexaServerObserver.h"
#include "WSFrameHeader.h"
#include "WSServer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const uint8_t kKey[4] = {1, 2, 3, 4};

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Answers every message with itself; "login" also logs the client in.
class Echo : public VexaServerObserver
{
public:
    void onClientConnected(VexaServer*, const std::shared_ptr<VexaClient>& client) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        clients.push_back(client);
    }
    void onClientData(VexaServer*, const std::shared_ptr<VexaClient>& client, VexaBuffer& buffer) override
    {
        if (buffer.size() == 5 && std::memcmp(buffer.bytes(), "login", 5) == 0)
            client->setAuthorized(true);
        client->send(reinterpret_cast<const char*>(buffer.bytes()), buffer.size());
    }
    std::mutex mutex;
    std::vector<std::shared_ptr<VexaClient>> clients;
};

// A blocking client on a plain socket.
class Client
{
public:
    ~Client()
    {
        if (fd >= 0)
            close(fd);
    }
    // Connects and shakes hands: false when refused (closed before the answer) or failed.
    bool open(int port, int receiveBuffer = 0)
    {
        fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
        if (receiveBuffer > 0)
            setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof(receiveBuffer));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0)
            return false;
        const std::string request = "GET / HTTP/1.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                                    "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n";
        send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        while (buffer.find("\r\n\r\n") == std::string::npos)
            if (!fill())
                return false;
        buffer.erase(0, buffer.find("\r\n\r\n") + 4);
        return true;
    }
    void sendText(const std::string& text)
    {
        const std::string frame = WSFrameHeader::encode(WSOpcode::Text, text.data(), text.size(), kKey);
        send(fd, frame.data(), frame.size(), MSG_NOSIGNAL);
    }
    bool readFrame(std::string* payload)
    {
        for (;;) {
            WSFrameHeader head;
            if (head.parse(reinterpret_cast<const uint8_t*>(buffer.data()), buffer.size()) == WSFrameHeader::Status::Ok &&
                buffer.size() >= head.size + head.payloadLength) {
                payload->assign(buffer, head.size, head.payloadLength);
                buffer.erase(0, head.size + head.payloadLength);
                return true;
            }
            if (!fill())
                return false;
        }
    }
    bool fill()
    {
        char chunk[65536];
        const ssize_t n = recv(fd, chunk, sizeof(chunk), 0);
        if (n <= 0)
            return false;
        buffer.append(chunk, static_cast<size_t>(n));
        return true;
    }
    int fd = -1;
    std::string buffer;
};

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<size_t>(p * values.size()))];
}

void idleCpu(int port, double seconds)
{
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < 50; ++i) {
        clients.push_back(std::make_unique<Client>());
        if (!clients.back()->open(port)) {
            std::printf("idle: client %d did not connect\n", i);
            return;
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const double cpu0 = BenchProcess::cpuSeconds(), t0 = now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const double cpu = BenchProcess::cpuSeconds() - cpu0, elapsed = now() - t0;
    std::printf("idle, 50 clients connected: %.3f %% of a core (%.1f s)\n", 100.0 * cpu / elapsed, elapsed);
}

void roundTrips(int port, int askers, int rounds)
{
    std::atomic<bool> busy{true};
    std::thread loader([&]() {
        Client client;
        if (!client.open(port))
            return;
        std::string payload;
        const std::string message = R"({"id":1,"method":"StartRtp","rtpId":1})";
        while (busy.load()) {
            client.sendText(message);
            client.readFrame(&payload);
        }
    });
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < askers; ++i) {
        clients.push_back(std::make_unique<Client>());
        clients.back()->open(port);
    }
    std::vector<double> times;
    std::mutex timesLock;
    std::vector<std::thread> threads;
    for (auto& client : clients) {
        threads.emplace_back([&, c = client.get()]() {
            std::string payload;
            for (int r = 0; r < rounds; ++r) {
                const double t0 = now();
                c->sendText(R"({"id":2,"method":"GetRtp"})");
                if (!c->readFrame(&payload))
                    return;
                std::lock_guard<std::mutex> lock(timesLock);
                times.push_back((now() - t0) * 1000);
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    busy = false;
    loader.join();
    std::printf("round trip, %2d clients asking, 1 busy: p50 %.3f ms, p99 %.3f ms (%zu trips)\n", askers,
                percentile(times, 0.5), percentile(times, 0.99), times.size());
}

void stalledListener(int port, Echo& echo, double seconds)
{
    Client client;
    if (!client.open(port, 4096))
        return;
    std::shared_ptr<VexaClient> server;
    while (!server) {
        std::lock_guard<std::mutex> lock(echo.mutex);
        if (!echo.clients.empty())
            server = echo.clients.back();
    }
    VexaAudioPacket packet;
    packet.payloadType = VexaAudioPacket::kPayloadL16Stereo;
    packet.channels = 2;
    packet.sampleRate = 44100;
    packet.duration = 20000;
    const std::string data(3528, 'a'); // 20 ms of 44.1 kHz stereo L16
    packet.setPayload(data.data(), static_cast<int>(data.size()));
    const long rss0 = BenchProcess::rssKiB();
    long peak = rss0;
    const double t0 = now();
    int sent = 0;
    while (now() - t0 < seconds && server->isConnected()) {
        server->sendAudio(packet);
        ++sent;
        peak = std::max(peak, BenchProcess::rssKiB());
        std::this_thread::sleep_until(std::chrono::steady_clock::time_point(
            std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(t0 + sent * 0.02))));
    }
    std::printf("listener not reading for %.0f s: %d frames of %zu bytes offered, RSS %+ld KiB at peak, "
                "still connected: %s\n",
                now() - t0, sent, data.size(), peak - rss0, server->isConnected() ? "yes" : "no");
}

void lockout(bool auth)
{
    Echo echo;
    WSServer server;
    server.addObserver(&echo);
    server.setAddress(RDSocketAddress("127.0.0.1", 0));
    server.setAuth(auth ? 1 : 0, "user", "digest");
    if (!server.start())
        return;
    const int port = server.listeningPort();
    std::vector<std::unique_ptr<Client>> silent;
    for (int i = 0; i < WSServer::kMaxClients; ++i) {
        silent.push_back(std::make_unique<Client>());
        if (!silent.back()->open(port)) {
            std::printf("lockout: silent connection %d refused\n", i);
            return;
        }
    }
    const double t0 = now();
    int attempts = 0;
    for (;;) {
        ++attempts;
        Client app;
        if (app.open(port)) {
            std::string payload;
            app.sendText("login");
            if (app.readFrame(&payload) && payload == "login") {
                std::printf("lockout, authentication %s: a real client waited %.2f s behind %d silent ones (%d "
                            "attempts, 100 ms apart)\n",
                            auth ? "on " : "off", now() - t0, WSServer::kMaxClients, attempts);
                break;
            }
        }
        if (now() - t0 > 300) {
            std::printf("lockout, authentication %s: not served within 300 s\n", auth ? "on" : "off");
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    server.stop();
}

} // namespace

int main(int argc, char** argv)
{
    double idleSeconds = 10, stallSeconds = 60;
    int rounds = 2000;
    bool lockouts = true;
    for (int i = 1; i < argc; ++i) {
        const bool value = i + 1 < argc;
        if (!std::strcmp(argv[i], "--no-lockout"))
            lockouts = false;
        else if (value && !std::strcmp(argv[i], "--idle-seconds"))
            idleSeconds = std::atof(argv[++i]);
        else if (value && !std::strcmp(argv[i], "--rounds"))
            rounds = std::atoi(argv[++i]);
        else if (value && !std::strcmp(argv[i], "--stall-seconds"))
            stallSeconds = std::atof(argv[++i]);
    }
    Echo echo;
    WSServer server;
    server.addObserver(&echo);
    server.setAddress(RDSocketAddress("127.0.0.1", 0));
    if (!server.start())
        return 1;
    const int port = server.listeningPort();
    idleCpu(port, idleSeconds);
    server.stop();
    server.start();
    roundTrips(server.listeningPort(), 1, rounds);
    roundTrips(server.listeningPort(), 20, rounds / 10);
    stalledListener(server.listeningPort(), echo, stallSeconds);
    server.stop();
    if (lockouts) {
        lockout(false);
        lockout(true);
    }
    return 0;
}
