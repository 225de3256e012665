#include "RDSocket.h"

#include "RDLog.h"

#include <chrono>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

RDSocket::~RDSocket()
{
    m_handle.close();
}

int RDSocket::startup()
{
    return RDSocketHandle::startup();
}

int RDSocket::bind(const RDSocketAddress& address)
{
    std::string host;
    if (!RDSocketAddress::isValidPort(address.port())) {
        RDLOG("bind: port %d out of range", address.port());
        return -1;
    }
    if (RDSocketAddress::numericHost(address.host(), true, &host) != 0)
        return -1;
    sockaddr_in in{};
    if (RDSocketAddress(host, address.port()).toSockAddr(&in) != 0)
        return -1;
    if (::bind(handle(), reinterpret_cast<const sockaddr*>(&in), sizeof(in)) != 0) {
        setLastError(errno);
        RDLOG("bind %s:%d failed: errno %d", host.c_str(), address.port(), errno);
        return -1;
    }
    return 0;
}

int RDSocket::setReuseAddr(int on)
{
    return m_handle.setIntOption(SOL_SOCKET, SO_REUSEADDR, on);
}

bool RDSocket::isFatal(int result, int error)
{
    if (result != -1)
        return result <= 0;
    return !(error == 0 || error == EINTR || error == EAGAIN || error == EWOULDBLOCK);
}

bool RDSocket::isValid() const
{
    return m_handle.isValid();
}

int RDSocket::setNonBlocking()
{
    return m_handle.setNonBlocking();
}

int RDSocket::waitReadable(int seconds, int microseconds)
{
    return m_handle.waitReadable(seconds, microseconds);
}

void RDSocket::shutdown()
{
    m_handle.shutdown();
}

int RDSocket::sendData(const char* data, int length)
{
    if (length <= 0)
        return 0;
    if (!data) {
        setLastError(EINVAL);
        return -1;
    }
    ssize_t rc;
    do {
        rc = ::send(handle(), data, static_cast<size_t>(length), MSG_NOSIGNAL);
    } while (rc < 0 && errno == EINTR);
    return finish(static_cast<int>(rc), rc < 0 ? errno : 0);
}

int RDSocket::recvData(char* buffer, int size)
{
    if (size <= 0)
        return 0;
    if (!buffer) {
        setLastError(EINVAL);
        return -1;
    }
    ssize_t rc;
    do {
        rc = ::recv(handle(), buffer, static_cast<size_t>(size), 0);
    } while (rc < 0 && errno == EINTR);
    return finish(static_cast<int>(rc), rc < 0 ? errno : 0);
}

int RDSocket::finish(int result, int error)
{
    if (result >= 1)
        return result;
    setLastError(error);
    if (isFatal(result, error))
        m_handle.shutdown();
    return result;
}

int RDSocket::sendAll(const char* data, int length, int timeoutMs)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    int sent = 0;
    while (sent < length && isValid()) {
        const int n = send(data + sent, length - sent);
        if (n > 0) {
            sent += n;
            // A blocking send with a send time-out returns what it managed; the limit is
            // for the whole message.
            if (timeoutMs >= 0 && sent < length && Clock::now() >= deadline)
                break;
            continue;
        }
        const int error = lastError();
        if (n == 0 || !isValid() || (error != EAGAIN && error != EWOULDBLOCK))
            break;
        long long waitUs = -1;
        if (timeoutMs >= 0) {
            waitUs = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
            if (waitUs <= 0)
                break;
        }
        if (m_handle.wait(POLLOUT, waitUs) < 0)
            break;
    }
    return sent;
}

void RDSocket::closeHandle(bool clearAddress)
{
    m_handle.close();
    if (clearAddress)
        m_address.clear();
}
