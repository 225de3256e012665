// Prints how the SIP agent answers other addresses while one address sends it a burst of 3,000
// INVITEs that it never acknowledges: OPTIONS asked one after the other from a second address
// during the burst and for 2 s after it (how many answered 200, and how long each took, the
// repeats a user agent sends every 500 ms included), and a call from a third address placed
// during the burst. The burst goes out as fast as the agent reads it, and at fixed rates above
// and below that.
// Usage: bench_sip_burst [rate ...]   (INVITEs a second; 0 = as fast as the agent reads)
#include "RDThread.h"
#include "RtpPortManager.h"
#include "SipCall.h"
#include "SipChannel.h"
#include "SipManager.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kBurstInvites = 3000;
constexpr int kBurstAccount = 12;
constexpr int kOtherAccount = 13;

class BenchManager : public SipManager
{
public:
    ~BenchManager() override { uninit(); }
    void onCallIncoming(const Channel&, const Call& call) override
    {
        ++incoming;
        call->ring();
        call->answer();
    }
    std::atomic<int> incoming{0};
};

double millis(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

// A UDP socket on a loopback address of its own.
class Peer
{
public:
    explicit Peer(const char* ip) : m_ip(ip)
    {
        m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        inet_pton(AF_INET, ip, &address.sin_addr);
        bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        socklen_t length = sizeof(address);
        getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
    }
    ~Peer() { close(m_fd); }

    void send(const std::string& text, int port) const
    {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(port));
        inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
        sendto(m_fd, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof(to));
    }

    // The status of the next answer within timeoutMs; 0 when none came.
    int receiveStatus(int timeoutMs) const
    {
        pollfd p{m_fd, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0)
            return 0;
        char buffer[65536];
        const ssize_t n = recv(m_fd, buffer, sizeof(buffer) - 1, 0);
        if (n < 12 || std::strncmp(buffer, "SIP/2.0 ", 8) != 0)
            return -1;
        return std::atoi(buffer + 8);
    }

    std::string request(const std::string& method, int account, const std::string& id, int agentPort) const
    {
        const std::string from = m_ip + ":" + std::to_string(m_port);
        const std::string us = "127.0.0.1:" + std::to_string(agentPort);
        std::string body;
        if (method == "INVITE")
            body = "v=0\r\no=peer 1 1 IN IP4 " + m_ip + "\r\ns=-\r\nc=IN IP4 " + m_ip +
                   "\r\nt=0 0\r\nm=audio 6000 RTP/AVP 0\r\n";
        std::string text = method + " sip:" + std::to_string(account) + "@" + us + " SIP/2.0\r\n";
        text += "Via: SIP/2.0/UDP " + from + ";branch=z9hG4bK" + id + ";rport\r\n";
        text += "From: <sip:caller@" + from + ">;tag=f" + id + "\r\nTo: <sip:" + std::to_string(account) + "@" + us +
                ">\r\nCall-ID: " + id + "@" + m_ip + "\r\nCSeq: 1 " + method + "\r\nContact: <sip:caller@" + from +
                ">\r\nMax-Forwards: 70\r\n";
        if (!body.empty())
            text += "Content-Type: application/sdp\r\n";
        return text + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    }

    // Asks like a user agent, repeating the request every 500 ms for up to 8 s: the final
    // status (0 when none) and the time from the first send to it.
    int ask(const std::string& text, int port, double* ms) const
    {
        const auto start = Clock::now();
        while (Clock::now() - start < std::chrono::seconds(8)) {
            send(text, port);
            const auto resend = Clock::now() + std::chrono::milliseconds(500);
            while (Clock::now() < resend) {
                const int left = static_cast<int>(millis(resend - Clock::now())) + 1;
                const int status = receiveStatus(left);
                if (status >= 200) {
                    *ms = millis(Clock::now() - start);
                    return status;
                }
            }
        }
        *ms = millis(Clock::now() - start);
        return 0;
    }

private:
    std::string m_ip;
    int m_fd = -1;
    int m_port = 0;
};

// The UDP socket on 0.0.0.0:port as the kernel lists it: bytes waiting in its receive queue and
// datagrams it dropped since it was opened.
struct SocketState
{
    long queued = 0;
    long drops = 0;
};

SocketState socketState(int port)
{
    char wanted[32];
    std::snprintf(wanted, sizeof(wanted), "00000000:%04X", port);
    std::ifstream table("/proc/net/udp");
    std::string line;
    SocketState state;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, st, queues, timer, retransmits, uid, timeout, inode, ref, pointer;
        if (fields >> slot >> local >> remote >> st >> queues && local == wanted) {
            state.queued = std::stol(queues.substr(queues.find(':') + 1), nullptr, 16);
            fields >> timer >> retransmits >> uid >> timeout >> inode >> ref >> pointer >> state.drops;
            return state;
        }
    }
    return state;
}

struct Asked
{
    int asked = 0;
    int answered = 0; // 200
    std::map<int, int> others; // status (0: none) -> count
    std::vector<double> ms; // of the 200s
};

void print(const char* when, Asked a)
{
    std::sort(a.ms.begin(), a.ms.end());
    std::printf("  OPTIONS from 127.0.0.3 %s: %d of %d answered 200", when, a.answered, a.asked);
    for (const auto& other : a.others)
        std::printf(", %d x %s", other.second, other.first ? std::to_string(other.first).c_str() : "no answer");
    if (!a.ms.empty())
        std::printf("; median %.2f ms, p99 %.2f ms, max %.2f ms", a.ms[a.ms.size() / 2], a.ms[a.ms.size() * 99 / 100],
                    a.ms.back());
    std::printf("\n");
}

void run(int rate)
{
    auto manager = std::make_unique<BenchManager>();
    manager->setLocalIp("127.0.0.1");
    int port = 0;
    for (int candidate = 15260; candidate < 15360 && !port; ++candidate) {
        if (RtpPortManager::isUdpPortFree(candidate) && manager->init(candidate, 0) == 0)
            port = candidate;
    }
    if (!port) {
        std::fprintf(stderr, "no SIP port\n");
        return;
    }
    for (int id : {kBurstAccount, kOtherAccount}) {
        SipAccountInfo account;
        account.id = id;
        account.mode = SipAccountInfo::kModeRegistrationOff;
        manager->addChannel(account);
    }

    // The burst's answers are counted, never acknowledged.
    Peer flood("127.0.0.2");
    std::atomic<bool> burstDone{false};
    std::atomic<bool> stopCounting{false};
    std::map<int, int> burstAnswers;
    std::thread counter([&] {
        while (!stopCounting) {
            const int status = flood.receiveStatus(20);
            if (status > 0)
                ++burstAnswers[status];
        }
    });
    double burstMs = 0;
    std::thread burst([&] {
        const auto start = Clock::now();
        for (int i = 0; i < kBurstInvites; ++i) {
            flood.send(flood.request("INVITE", kBurstAccount, "b" + std::to_string(i), port), port);
            if (rate > 0) {
                std::this_thread::sleep_until(start + std::chrono::microseconds(int64_t(i + 1) * 1000000 / rate));
            } else if (i % 16 == 15) {
                while (socketState(port).queued > 32 * 1024 && millis(Clock::now() - start) < 60000)
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        }
        burstMs = millis(Clock::now() - start);
        burstDone = true;
    });

    Peer asker("127.0.0.3");
    Asked during, after;
    int n = 0;
    int callStatus = -1;
    double callMs = 0;
    Clock::time_point doneAt;
    for (;;) {
        const bool inBurst = !burstDone;
        if (!inBurst && doneAt == Clock::time_point())
            doneAt = Clock::now();
        if (!inBurst && Clock::now() - doneAt > std::chrono::seconds(2))
            break;
        double ms = 0;
        const int status = asker.ask(asker.request("OPTIONS", kBurstAccount, "o" + std::to_string(++n), port), port, &ms);
        Asked& into = inBurst ? during : after;
        ++into.asked;
        if (status == 200) {
            ++into.answered;
            into.ms.push_back(ms);
        } else {
            ++into.others[status];
        }
        if (n == 5 && inBurst) {
            Peer caller("127.0.0.4");
            callStatus = caller.ask(caller.request("INVITE", kOtherAccount, "call", port), port, &callMs);
        }
    }
    burst.join();
    stopCounting = true;
    counter.join();

    std::printf("burst %s: %d INVITEs from 127.0.0.2 in %.2f s (the kernel dropped %ld datagrams), %d became "
                "incoming calls; the answers it got:",
                rate ? (std::to_string(rate) + "/s").c_str() : "as fast as the agent reads", kBurstInvites,
                burstMs / 1000, socketState(port).drops, manager->incoming.load());
    for (const auto& answer : burstAnswers)
        std::printf(" %d x %d", answer.second, answer.first);
    std::printf("\n");
    print("during the burst", during);
    print("in the 2 s after it", after);
    if (callStatus >= 0)
        std::printf("  a call from 127.0.0.4 during the burst: %d after %.2f ms\n", callStatus, callMs);
    else
        std::printf("  a call from 127.0.0.4: the burst ended before it was placed\n");
    manager.reset();
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<int> rates;
    for (int i = 1; i < argc; ++i)
        rates.push_back(std::atoi(argv[i]));
    if (rates.empty())
        rates = {0, 1000, 20000};
    RtpPortManager::createInstance();
    for (int rate : rates)
        run(rate);
    RtpPortManager::destroyInstance();
    return 0;
}
