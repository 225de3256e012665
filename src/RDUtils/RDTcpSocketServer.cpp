#include "RDTcpSocketServer.h"

#include "RDLog.h"
#include "RDTcpSocket.h"

#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>

int RDTcpSocketServer::open(const RDSocketAddress& address)
{
    sockaddr_in in{};
    if (address.toSockAddr(&in) != 0) {
        RDLOG("listen %s refused: not a dotted-quad address and port", address.toString().c_str());
        setLastError(EINVAL);
        return -1;
    }
    if (m_handle.open(SOCK_STREAM) < 0) {
        setLastError(errno);
        return -1;
    }
    if (m_handle.setIntOption(SOL_SOCKET, SO_REUSEADDR, 1) != 0) {
        setLastError(errno);
        closeHandle(false);
        return -1;
    }
    if (::bind(handle(), reinterpret_cast<const sockaddr*>(&in), sizeof(in)) != 0) {
        setLastError(errno);
        RDLOG("bind %s failed: errno %d", address.toString().c_str(), errno);
        closeHandle(false);
        return -1;
    }
    if (::listen(handle(), m_backlog > 0 ? m_backlog : SOMAXCONN) != 0) {
        setLastError(errno);
        RDLOG("listen %s failed: errno %d", address.toString().c_str(), errno);
        closeHandle(false);
        return -1;
    }
    m_address = address;
    if (address.host().empty())
        m_address.setHost("0.0.0.0");
    if (address.port() == 0) {
        sockaddr_in bound{};
        socklen_t size = sizeof(bound);
        if (::getsockname(handle(), reinterpret_cast<sockaddr*>(&bound), &size) == 0)
            m_address.setPort(ntohs(bound.sin_port));
    }
    return handle();
}

void RDTcpSocketServer::close()
{
    closeHandle(true);
}

void RDTcpSocketServer::closeSocket()
{
    closeHandle(false);
}

RDTcpSocket* RDTcpSocketServer::accept()
{
    int error = 0;
    RDTcpSocket* socket = RDTcpSocket::acceptFrom(handle(), &error);
    if (!socket)
        setLastError(error);
    return socket;
}
