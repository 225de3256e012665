#include "WSTestPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace {

const uint8_t kKey[4] = {0x12, 0x34, 0x56, 0x78};

int msLeft(std::chrono::steady_clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

} // namespace

WSTestPeer::~WSTestPeer()
{
    close();
}

std::string WSTestPeer::request(const std::string& extraHeaders)
{
    return "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
           "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n" +
           extraHeaders + "\r\n";
}

bool WSTestPeer::connect(int port)
{
    close();
    m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
}

bool WSTestPeer::sendRaw(const std::string& bytes)
{
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(m_fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

bool WSTestPeer::sendFrame(WSOpcode opcode, const std::string& payload, bool fin)
{
    std::string frame = WSFrameHeader::encode(opcode, payload.data(), payload.size(), kKey);
    if (!fin)
        frame[0] = static_cast<char>(frame[0] & 0x7f);
    return sendRaw(frame);
}

bool WSTestPeer::handshake()
{
    return sendRaw(request()) && readHead().compare(0, 12, "HTTP/1.1 101") == 0;
}

std::string WSTestPeer::readHead(int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const size_t end = m_buffer.find("\r\n\r\n");
        if (end != std::string::npos) {
            std::string head = m_buffer.substr(0, end + 4);
            m_buffer.erase(0, end + 4);
            return head;
        }
        if (!fill(m_buffer.size() + 1, msLeft(deadline)))
            return std::string();
    }
}

bool WSTestPeer::readFrame(WSFrameHeader* frame, std::string* payload, std::string* head, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        WSFrameHeader parsed;
        const WSFrameHeader::Status status =
            parsed.parse(reinterpret_cast<const uint8_t*>(m_buffer.data()), m_buffer.size());
        if (status == WSFrameHeader::Status::Ok) {
            if (parsed.masked || !fill(parsed.size + parsed.payloadLength, msLeft(deadline)))
                return false;
            if (head)
                *head = m_buffer.substr(0, static_cast<size_t>(parsed.size));
            payload->assign(m_buffer, static_cast<size_t>(parsed.size), static_cast<size_t>(parsed.payloadLength));
            m_buffer.erase(0, parsed.size + parsed.payloadLength);
            *frame = parsed;
            return true;
        }
        if (status != WSFrameHeader::Status::Incomplete || !fill(m_buffer.size() + 1, msLeft(deadline)))
            return false;
    }
}

bool WSTestPeer::waitClosed(int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    char chunk[65536];
    for (;;) {
        pollfd p{m_fd, POLLIN, 0};
        if (poll(&p, 1, msLeft(deadline)) != 1)
            return false;
        const ssize_t n = ::recv(m_fd, chunk, sizeof(chunk), 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
            return true;
    }
}

void WSTestPeer::abort()
{
    if (m_fd < 0)
        return;
    const linger reset{1, 0};
    setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &reset, sizeof(reset));
    close();
}

void WSTestPeer::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_buffer.clear();
}

bool WSTestPeer::fill(size_t n, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    char chunk[65536];
    while (m_buffer.size() < n) {
        pollfd p{m_fd, POLLIN, 0};
        if (poll(&p, 1, msLeft(deadline)) != 1)
            return false;
        const ssize_t got = ::recv(m_fd, chunk, sizeof(chunk), 0);
        if (got <= 0)
            return false;
        m_buffer.append(chunk, static_cast<size_t>(got));
    }
    return true;
}
