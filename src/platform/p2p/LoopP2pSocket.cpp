#include "LoopP2pSocket.h"

#include <cerrno>
#include <cstddef>
#include <chrono>
#include <cstring>
#include <poll.h>

using Clock = std::chrono::steady_clock;

int LoopP2pSocket::msLeft(Clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

bool LoopP2pSocket::isValidUid(const std::string& uid)
{
    if (uid.empty() || uid.size() > 64)
        return false;
    for (const char c : uid) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')
                        || c == '.' || c == '_' || c == '-';
        if (!ok)
            return false;
    }
    return true;
}

socklen_t LoopP2pSocket::address(const std::string& uid, sockaddr_un& address)
{
    std::memset(&address, 0, sizeof(address));
    address.sun_family = AF_UNIX;
    const std::string name = "loopp2p/" + uid;
    // sun_path[0] stays 0: the abstract namespace. 8 + 64 characters fit the 107 left.
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
}

bool LoopP2pSocket::sendAll(int fd, const char* data, size_t length)
{
    auto deadline = Clock::now() + std::chrono::milliseconds(kSendStallMs);
    while (length > 0) {
        const ssize_t sent = ::send(fd, data, length, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            data += sent;
            length -= static_cast<size_t>(sent);
            deadline = Clock::now() + std::chrono::milliseconds(kSendStallMs);
            continue;
        }
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return false;
        const int left = msLeft(deadline);
        if (left == 0)
            return false;
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, left) < 0 && errno != EINTR)
            return false;
        if (p.revents & (POLLERR | POLLHUP | POLLNVAL))
            return false;
    }
    return true;
}

int LoopP2pSocket::waitReadable(int fd, int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, timeoutMs < 0 ? -1 : msLeft(deadline));
        if (ready > 0)
            return 1;
        if (ready == 0)
            return 0;
        if (errno != EINTR)
            return -1;
    }
}
