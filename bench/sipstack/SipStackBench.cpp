// Prints how long the SIP stack takes to answer on loopback: OPTIONS answered by the
// application (event round trip), and the 100 Trying and final answer to an INVITE.
#include "SipStack.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double millis(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

void report(const char* name, std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    double sum = 0;
    for (double s : samples)
        sum += s;
    std::printf("%-28s n=%zu mean=%.3f ms median=%.3f ms p99=%.3f ms max=%.3f ms\n", name, samples.size(),
                sum / samples.size(), samples[samples.size() / 2], samples[samples.size() * 99 / 100], samples.back());
}

bool waitFor(int fd, const char* prefix, int timeoutMs)
{
    char buffer[65536];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0)
            return false;
        const ssize_t n = recv(fd, buffer, sizeof(buffer) - 1, 0);
        if (n > 0 && std::strncmp(buffer, prefix, std::strlen(prefix)) == 0)
            return true;
    }
}

} // namespace

int main()
{
    SipStackPtr stack = SipStack::create();
    if (!stack || stack->listen(17, 0) != 0) {
        std::fprintf(stderr, "cannot start the stack\n");
        return 1;
    }
    const int port = stack->localPort();
    std::atomic<bool> stop{false};
    std::thread application([&] {
        while (!stop) {
            SipStackEvent* event = stack->eventWait(0, 20);
            if (!event)
                continue;
            stack->lock();
            if (event->type == SipStackEvent::MessageNew)
                stack->messageSendAnswer(event->tid, 200, nullptr);
            else if (event->type == SipStackEvent::CallInvite)
                stack->callSendAnswer(event->tid, 486, nullptr);
            stack->unlock();
            SipStack::eventFree(event);
        }
    });

    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, "127.0.0.2", &local.sin_addr);
    bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof(local));
    socklen_t length = sizeof(local);
    getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
    const std::string peer = "127.0.0.2:" + std::to_string(ntohs(local.sin_port));
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);

    auto request = [&](const char* method, int n) {
        return std::string(method) + " sip:12@127.0.0.1 SIP/2.0\r\nVia: SIP/2.0/UDP " + peer + ";branch=z9hG4bKb" +
               std::to_string(n) + ";rport\r\nFrom: <sip:b@" + peer + ">;tag=b" + std::to_string(n) +
               "\r\nTo: <sip:12@127.0.0.1>\r\nCall-ID: bench" + std::to_string(n) + "\r\nCSeq: 1 " + method +
               "\r\nContact: <sip:b@" + peer + ">\r\nMax-Forwards: 70\r\nContent-Length: 0\r\n\r\n";
    };

    std::vector<double> options, trying, final;
    for (int i = 0; i < 2000; ++i) {
        const std::string text = request("OPTIONS", i);
        const auto start = Clock::now();
        sendto(fd, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof(to));
        if (!waitFor(fd, "SIP/2.0 200", 2000))
            break;
        options.push_back(millis(Clock::now() - start));
    }
    for (int i = 0; i < 500; ++i) {
        const std::string text = request("INVITE", 100000 + i);
        const auto start = Clock::now();
        sendto(fd, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof(to));
        if (!waitFor(fd, "SIP/2.0 100", 2000))
            break;
        trying.push_back(millis(Clock::now() - start));
        if (!waitFor(fd, "SIP/2.0 486", 2000))
            break;
        final.push_back(millis(Clock::now() - start));
    }
    report("OPTIONS -> 200 (application)", options);
    report("INVITE -> 100 Trying", trying);
    report("INVITE -> 486 (application)", final);

    stop = true;
    application.join();
    close(fd);
    stack.reset();
    return 0;
}
