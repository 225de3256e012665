#pragma once

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

// A raw HTTP stream listener on loopback (plain POSIX socket, so a test can shrink its receive
// buffer or stop reading): sends one request, then reads the head and the stream bytes.
class TestStreamListener
{
public:
    using Clock = std::chrono::steady_clock;

    // receiveBuffer > 0 sets SO_RCVBUF before connecting (a listener that cannot take much).
    explicit TestStreamListener(int port, int receiveBuffer = 0)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (m_fd < 0)
            return;
        if (receiveBuffer > 0)
            ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof(receiveBuffer));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~TestStreamListener() { close(); }
    TestStreamListener(const TestStreamListener&) = delete;
    TestStreamListener& operator=(const TestStreamListener&) = delete;

    bool isOpen() const { return m_fd >= 0; }
    int localPort() const
    {
        sockaddr_in address{};
        socklen_t size = sizeof(address);
        if (m_fd < 0 || ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            return -1;
        return ntohs(address.sin_port);
    }
    void close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

    bool send(const std::string& bytes)
    {
        size_t done = 0;
        while (m_fd >= 0 && done < bytes.size()) {
            const ssize_t n = ::send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            done += static_cast<size_t>(n);
        }
        return m_fd >= 0;
    }
    // A GET of path; extraHeaders are whole lines ended by CR LF.
    bool get(const std::string& path, const std::string& extraHeaders = std::string())
    {
        return send("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extraHeaders + "\r\n");
    }

    // The response head with its empty line, or empty when none came in time.
    std::string readHead(int timeoutMs = 5000)
    {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const size_t end = m_pending.find("\r\n\r\n");
            if (end != std::string::npos) {
                std::string head = m_pending.substr(0, end + 4);
                m_pending.erase(0, end + 4);
                return head;
            }
            if (fill(deadline) <= 0)
                return std::string();
        }
    }
    // Exactly count more bytes; false when the connection ended or the time ran out first
    // (what came is still appended).
    bool read(std::string* out, size_t count, int timeoutMs = 5000)
    {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (m_pending.size() < count) {
            if (fill(deadline) <= 0) {
                out->append(m_pending);
                m_pending.clear();
                return false;
            }
        }
        out->append(m_pending, 0, count);
        m_pending.erase(0, count);
        return true;
    }
    // Reads (and keeps) until the peer closes; false when it did not close in time.
    bool readUntilClosed(std::string* out, int timeoutMs = 5000)
    {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const int n = fill(deadline);
            if (n == 0 || n == -2) {
                if (out)
                    out->append(m_pending);
                m_pending.clear();
                return true;
            }
            if (n < 0) {
                if (out)
                    out->append(m_pending);
                m_pending.clear();
                return false;
            }
        }
    }
    // Whether any byte is waiting (after what was already read), without blocking long.
    bool hasData(int timeoutMs)
    {
        if (!m_pending.empty())
            return true;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        return fill(deadline) > 0;
    }
    size_t pending() const { return m_pending.size(); }

private:
    // > 0 bytes added, 0 peer closed, -1 time-out, -2 error.
    int fill(Clock::time_point deadline)
    {
        if (m_fd < 0)
            return -2;
        for (;;) {
            const long long ms =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (ms <= 0)
                return -1;
            pollfd p{m_fd, POLLIN, 0};
            const int ready = ::poll(&p, 1, static_cast<int>(ms));
            if (ready <= 0)
                continue;
            char buffer[16384];
            const ssize_t n = ::recv(m_fd, buffer, sizeof(buffer), 0);
            if (n > 0) {
                m_pending.append(buffer, static_cast<size_t>(n));
                return static_cast<int>(n);
            }
            return n == 0 ? 0 : -2;
        }
    }

    int m_fd = -1;
    std::string m_pending;
};
