#include "SipUdpTransport.h"

#include "RDLog.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

SipUdpTransport::~SipUdpTransport()
{
    close();
}

int SipUdpTransport::open(int port)
{
    close();
    if (port < 0 || port > 65535)
        return -1;
    m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_fd < 0) {
        m_lastError = errno;
        return -1;
    }
    const int on = 1;
    setsockopt(m_fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof(on));
    // A burst of INVITEs and REGISTER answers must not be dropped by a small default buffer.
    const int buffer = 1 << 20;
    setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof(buffer));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        m_lastError = errno;
        close();
        return -1;
    }
    socklen_t length = sizeof(address);
    getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    m_wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_wakeFd < 0) {
        m_lastError = errno;
        close();
        return -1;
    }
    return 0;
}

void SipUdpTransport::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
    m_fd = -1;
    m_wakeFd = -1;
    m_port = 0;
}

void SipUdpTransport::wake()
{
    if (m_wakeFd < 0)
        return;
    const uint64_t one = 1;
    ssize_t written = write(m_wakeFd, &one, sizeof(one));
    (void)written; // a full counter still wakes the reader
}

bool SipUdpTransport::wait(int timeoutMs)
{
    if (m_fd < 0)
        return false;
    pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
    const int ready = poll(fds, 2, timeoutMs < 0 ? 0 : timeoutMs);
    if (ready <= 0)
        return false;
    if (fds[1].revents & POLLIN) {
        uint64_t count = 0;
        ssize_t got = read(m_wakeFd, &count, sizeof(count));
        (void)got;
    }
    return (fds[0].revents & POLLIN) != 0;
}

ssize_t SipUdpTransport::receive(char* buffer, size_t size, sockaddr_in* from, in_addr* local)
{
    if (m_fd < 0)
        return -1;
    iovec vector{buffer, size};
    char control[CMSG_SPACE(sizeof(in_pktinfo))];
    msghdr message{};
    message.msg_name = from;
    message.msg_namelen = sizeof(*from);
    message.msg_iov = &vector;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof(control);
    ssize_t length;
    for (;;) {
        message.msg_namelen = sizeof(*from);
        message.msg_controllen = sizeof(control);
        length = recvmsg(m_fd, &message, MSG_DONTWAIT);
        // Errors queued by ICMP for an earlier send must not stop the reading of later datagrams.
        if (length < 0 && (errno == ECONNREFUSED || errno == EHOSTUNREACH || errno == ENETUNREACH))
            continue;
        break;
    }
    if (length < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
            return 0;
        m_lastError = errno;
        return -1;
    }
    local->s_addr = htonl(INADDR_ANY);
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header; header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level == IPPROTO_IP && header->cmsg_type == IP_PKTINFO) {
            in_pktinfo info;
            std::memcpy(&info, CMSG_DATA(header), sizeof(info));
            *local = info.ipi_addr;
        }
    }
    if (message.msg_flags & MSG_TRUNC)
        return static_cast<ssize_t>(size) + 1;
    return length;
}

bool SipUdpTransport::send(const char* data, size_t size, const sockaddr_in& to)
{
    if (m_fd < 0)
        return false;
    const ssize_t sent = sendto(m_fd, data, size, MSG_DONTWAIT | MSG_NOSIGNAL,
                                reinterpret_cast<const sockaddr*>(&to), sizeof(to));
    if (sent < 0) {
        m_lastError = errno;
        char host[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &to.sin_addr, host, sizeof(host));
        RDLOG("send to %s:%d failed: %s", host, ntohs(to.sin_port), strerror(errno));
        return false;
    }
    return true;
}
