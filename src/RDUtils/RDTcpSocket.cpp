#include "RDTcpSocket.h"

#include "RDLog.h"

#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

RDTcpSocket::RDTcpSocket()
{
    if (m_handle.open(SOCK_STREAM) < 0) {
        setLastError(errno);
        RDLOG("tcp socket failed: errno %d", errno);
    }
}

RDTcpSocket::RDTcpSocket(int acceptedHandle, const RDSocketAddress& peer) : RDSocket()
{
    RDSocketHandle::startup();
    m_handle.adopt(acceptedHandle);
    m_address = peer;
}

RDTcpSocket::~RDTcpSocket()
{
    closeHandle(true);
}

int RDTcpSocket::connect(const RDSocketAddress& address)
{
    m_address = address;
    std::string host;
    if (!isValid() || address.port() <= 0 || !RDSocketAddress::isValidPort(address.port()) ||
        RDSocketAddress::numericHost(address.host(), false, &host) != 0) {
        RDLOG("connect %s refused: bad address or closed socket", address.toString().c_str());
        close();
        return -1;
    }
    sockaddr_in in{};
    RDSocketAddress(host, address.port()).toSockAddr(&in);
    int rc = ::connect(handle(), reinterpret_cast<const sockaddr*>(&in), sizeof(in));
    if (rc != 0 && (errno == EINTR || errno == EINPROGRESS)) {
        // The connection goes on in the background; wait for its outcome.
        int error = 0;
        socklen_t size = sizeof(error);
        while (m_handle.wait(POLLOUT, -1) == 0) {
        }
        if (::getsockopt(handle(), SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0)
            rc = 0;
        else
            errno = error ? error : errno;
    }
    if (rc != 0) {
        setLastError(errno);
        RDLOG("connect %s failed: errno %d", address.toString().c_str(), errno);
        close();
        return -1;
    }
    applyTimeouts();
    return handle();
}

void RDTcpSocket::close()
{
    closeHandle(true);
}

void RDTcpSocket::closeSocket()
{
    closeHandle(false);
}

int RDTcpSocket::send(const char* data, int length)
{
    return sendData(data, length);
}

int RDTcpSocket::recv(char* buffer, int size)
{
    return recvData(buffer, size);
}

int RDTcpSocket::sendTo(const RDSocketAddress&, const char*, int)
{
    return 0;
}

int RDTcpSocket::recvFrom(RDSocketAddress&, char*, int)
{
    return 0;
}

int RDTcpSocket::listen(int backlog)
{
    if (::listen(handle(), backlog > 0 ? backlog : SOMAXCONN) != 0) {
        setLastError(errno);
        return -1;
    }
    return 0;
}

RDTcpSocket* RDTcpSocket::accept()
{
    int error = 0;
    RDTcpSocket* socket = acceptFrom(handle(), &error);
    if (!socket)
        setLastError(error);
    return socket;
}

RDTcpSocket* RDTcpSocket::acceptFrom(int listenHandle, int* error)
{
    sockaddr_in peer{};
    socklen_t size = sizeof(peer);
    int fd;
    do {
        size = sizeof(peer);
        fd = ::accept4(listenHandle, reinterpret_cast<sockaddr*>(&peer), &size, SOCK_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        if (error)
            *error = errno;
        return nullptr;
    }
    RDSocketAddress address;
    address.setSockAddr(peer);
    return new RDTcpSocket(fd, address);
}

void RDTcpSocket::setTimeout(int receiveMs, int sendMs)
{
    m_receiveTimeout = receiveMs > 0 ? receiveMs : 0;
    m_sendTimeout = sendMs > 0 ? sendMs : 0;
    if (isValid())
        applyTimeouts();
}

bool RDTcpSocket::hasTimeout() const
{
    return m_receiveTimeout > 0 || m_sendTimeout > 0;
}

void RDTcpSocket::applyTimeouts()
{
    if (!hasTimeout())
        return;
    m_handle.setTimeOption(SO_RCVTIMEO, m_receiveTimeout);
    m_handle.setTimeOption(SO_SNDTIMEO, m_sendTimeout);
}
