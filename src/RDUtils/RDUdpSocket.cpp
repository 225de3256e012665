#include "RDUdpSocket.h"

#include "RDLog.h"

#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>

RDUdpSocket::RDUdpSocket()
{
    if (m_handle.open(SOCK_DGRAM) < 0) {
        setLastError(errno);
        RDLOG("udp socket failed: errno %d", errno);
    }
}

RDUdpSocket::~RDUdpSocket()
{
    closeHandle(true);
}

bool RDUdpSocket::isFatal(int result, int error)
{
    if (result >= 0)
        return false;
    return error == EBADF || error == ENOTSOCK;
}

int RDUdpSocket::connect(const RDSocketAddress& address)
{
    m_address = address;
    std::string host;
    sockaddr_in in{};
    if (!isValid() || address.port() <= 0 ||
        RDSocketAddress::numericHost(address.host(), false, &host) != 0 ||
        RDSocketAddress(host, address.port()).toSockAddr(&in) != 0) {
        RDLOG("udp connect %s refused: bad address or closed socket", address.toString().c_str());
        close();
        return -1;
    }
    if (::connect(handle(), reinterpret_cast<const sockaddr*>(&in), sizeof(in)) != 0) {
        setLastError(errno);
        close();
        return -1;
    }
    return handle();
}

void RDUdpSocket::close()
{
    closeHandle(true);
}

int RDUdpSocket::send(const char* data, int length)
{
    return sendData(data, length);
}

int RDUdpSocket::recv(char* buffer, int size)
{
    return recvData(buffer, size);
}

int RDUdpSocket::sendTo(const RDSocketAddress& to, const char* data, int length)
{
    sockaddr_in in{};
    if (to.host().empty() || to.toSockAddr(&in) != 0 || (length > 0 && !data) || length < 0) {
        setLastError(EINVAL);
        return -1;
    }
    ssize_t rc;
    do {
        rc = ::sendto(handle(), data, static_cast<size_t>(length), MSG_NOSIGNAL,
                      reinterpret_cast<const sockaddr*>(&in), sizeof(in));
    } while (rc < 0 && errno == EINTR);
    return finish(static_cast<int>(rc), rc < 0 ? errno : 0);
}

int RDUdpSocket::recvFrom(RDSocketAddress& from, char* buffer, int size)
{
    if (size < 0 || (size > 0 && !buffer)) {
        setLastError(EINVAL);
        return -1;
    }
    sockaddr_in in{};
    socklen_t inSize;
    ssize_t rc;
    do {
        inSize = sizeof(in);
        rc = ::recvfrom(handle(), buffer, static_cast<size_t>(size), 0, reinterpret_cast<sockaddr*>(&in),
                        &inSize);
    } while (rc < 0 && errno == EINTR);
    if (rc >= 0 && inSize >= sizeof(in) && in.sin_family == AF_INET)
        from.setSockAddr(in);
    return finish(static_cast<int>(rc), rc < 0 ? errno : 0);
}

int RDUdpSocket::setBroadcast()
{
    return m_handle.setIntOption(SOL_SOCKET, SO_BROADCAST, 1);
}
