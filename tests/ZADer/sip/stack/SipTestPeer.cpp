#include "SipTestPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

SipTestPeer::SipTestPeer(const char* ip, int port) : m_ip(ip)
{
    m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, ip, &address.sin_addr);
    if (m_fd < 0 || bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = -1;
        return;
    }
    socklen_t length = sizeof(address);
    getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    // The kernel stamps each datagram as it arrives, so an arrival time does not move when the
    // test thread waits for a core on a loaded machine.
    const int on = 1;
    setsockopt(m_fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof(on));
}

SipTestPeer::~SipTestPeer()
{
    if (m_fd >= 0)
        close(m_fd);
}

bool SipTestPeer::send(const std::string& text, int toPort, const char* toIp)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(toPort));
    inet_pton(AF_INET, toIp, &to.sin_addr);
    return sendto(m_fd, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof(to)) ==
           static_cast<ssize_t>(text.size());
}

SipTestPeer::Datagram SipTestPeer::receive(int timeoutMs)
{
    Datagram datagram;
    pollfd fd{m_fd, POLLIN, 0};
    if (m_fd < 0 || poll(&fd, 1, timeoutMs) <= 0)
        return datagram;
    char buffer[65536];
    iovec part{buffer, sizeof(buffer)};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof(control);
    const ssize_t length = recvmsg(m_fd, &message, 0);
    if (length > 0) {
        datagram.text.assign(buffer, static_cast<size_t>(length));
        datagram.atMs = nowMs();
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
                // The kernel's stamp is wall-clock time: how long ago it was, on the monotonic clock.
                timespec stamp{};
                std::memcpy(&stamp, CMSG_DATA(c), sizeof(stamp));
                timespec wall{};
                clock_gettime(CLOCK_REALTIME, &wall);
                const int64_t agoMs = (int64_t(wall.tv_sec) - stamp.tv_sec) * 1000 +
                                      (int64_t(wall.tv_nsec) - stamp.tv_nsec) / 1000000;
                if (agoMs > 0 && agoMs < datagram.atMs)
                    datagram.atMs -= agoMs;
            }
        }
    }
    return datagram;
}

SipTestPeer::Datagram SipTestPeer::receiveStarting(const std::string& prefix, int timeoutMs,
                                                   std::vector<Datagram>* skipped)
{
    const int64_t deadline = nowMs() + timeoutMs;
    for (;;) {
        const int64_t left = deadline - nowMs();
        if (left <= 0)
            return Datagram();
        Datagram datagram = receive(static_cast<int>(left));
        if (datagram.text.empty())
            return datagram;
        if (datagram.text.compare(0, prefix.size(), prefix) == 0)
            return datagram;
        if (skipped)
            skipped->push_back(datagram);
    }
}

std::vector<SipTestPeer::Datagram> SipTestPeer::collect(int ms)
{
    std::vector<Datagram> all;
    const int64_t deadline = nowMs() + ms;
    for (;;) {
        const int64_t left = deadline - nowMs();
        if (left <= 0)
            return all;
        Datagram datagram = receive(static_cast<int>(left));
        if (!datagram.text.empty())
            all.push_back(datagram);
    }
}

std::string SipTestPeer::firstLine(const std::string& message)
{
    return message.substr(0, message.find("\r\n"));
}

std::string SipTestPeer::header(const std::string& message, const std::string& name)
{
    std::istringstream in(message);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            break;
        const size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        std::string key = line.substr(0, colon);
        while (!key.empty() && key.back() == ' ')
            key.pop_back();
        if (strcasecmp(key.c_str(), name.c_str()) != 0)
            continue;
        std::string value = line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(' '));
        return value;
    }
    return std::string();
}

bool SipTestPeer::headerParam(const std::string& headerValue, const std::string& name, std::string* value)
{
    size_t position = 0;
    while ((position = headerValue.find(';', position)) != std::string::npos) {
        ++position;
        const size_t end = headerValue.find_first_of(";,>", position);
        const std::string piece = headerValue.substr(position, end == std::string::npos ? std::string::npos : end - position);
        const size_t equals = piece.find('=');
        if (strcasecmp(piece.substr(0, equals).c_str(), name.c_str()) != 0)
            continue;
        if (value)
            *value = equals == std::string::npos ? std::string() : piece.substr(equals + 1);
        return true;
    }
    return false;
}

std::string SipTestPeer::answerTo(const std::string& request, int status, const std::string& reason,
                                  const std::string& extraHeaders)
{
    std::string to = header(request, "To");
    if (!headerParam(to, "tag"))
        to += ";tag=peer";
    return "SIP/2.0 " + std::to_string(status) + " " + reason + "\r\nVia: " + header(request, "Via") +
           "\r\nFrom: " + header(request, "From") + "\r\nTo: " + to + "\r\nCall-ID: " + header(request, "Call-ID") +
           "\r\nCSeq: " + header(request, "CSeq") + "\r\n" + extraHeaders + "Content-Length: 0\r\n\r\n";
}

int64_t SipTestPeer::nowMs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

namespace {

// The socket table's "tx_queue:rx_queue" field of the socket bound to ip:port, read instead of
// probing: a probe bind would race the other process for the port.
bool udpTableQueues(const char* ip, int port, std::string* queues)
{
    in_addr address{};
    inet_pton(AF_INET, ip, &address);
    char wanted[32];
    std::snprintf(wanted, sizeof(wanted), "%08X:%04X", address.s_addr, port);
    std::ifstream table("/proc/net/udp");
    std::string line;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        if (fields >> slot >> local >> remote >> state >> *queues && local == wanted)
            return true;
    }
    return false;
}

} // namespace

bool SipTestPeer::isBound(const char* ip, int port)
{
    std::string queues;
    return udpTableQueues(ip, port, &queues);
}

long SipTestPeer::receiveQueue(const char* ip, int port)
{
    std::string queues;
    if (!udpTableQueues(ip, port, &queues))
        return -1;
    const size_t colon = queues.find(':');
    return colon == std::string::npos ? -1 : std::stol(queues.substr(colon + 1), nullptr, 16);
}

bool SipTestPeer::waitBound(const char* ip, int port, int timeoutMs)
{
    const int64_t deadline = nowMs() + timeoutMs;
    while (!isBound(ip, port)) {
        if (nowMs() >= deadline)
            return false;
        usleep(20000);
    }
    return true;
}

int SipTestPeer::freePort(const char* ip)
{
    SipTestPeer probe(ip);
    return probe.port();
}
