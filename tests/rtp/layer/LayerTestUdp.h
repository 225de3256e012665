#pragma once

// Plain UDP sockets for the RTP layer tests: the far end of a stream, a probe for free ports.

#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

class LayerTestUdp
{
public:
    LayerTestUdp() = default;
    ~LayerTestUdp()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    LayerTestUdp(const LayerTestUdp&) = delete;
    LayerTestUdp& operator=(const LayerTestUdp&) = delete;

    // Binds ip:port (port 0 = any free one).
    bool bindTo(const char* ip, int port)
    {
        m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (m_fd < 0)
            return false;
        sockaddr_in a = address(ip, port);
        if (bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) {
            close(m_fd);
            m_fd = -1;
            return false;
        }
        socklen_t length = sizeof(a);
        getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &length);
        m_port = ntohs(a.sin_port);
        return true;
    }

    int fd() const { return m_fd; }
    int port() const { return m_port; }

    // One datagram, or empty after timeoutMs.
    std::vector<uint8_t> receive(int timeoutMs, sockaddr_in* from = nullptr)
    {
        pollfd p{m_fd, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0)
            return {};
        // Into a buffer that is not cleared first: zeroing 64 KiB per datagram is what made a
        // stream of tens of thousands crawl under ThreadSanitizer, which shadows every byte.
        uint8_t buffer[65536];
        sockaddr_in source;
        socklen_t length = sizeof(source);
        const ssize_t n = recvfrom(m_fd, buffer, sizeof(buffer), 0, reinterpret_cast<sockaddr*>(&source), &length);
        if (n < 0)
            return {};
        if (from)
            *from = source;
        return std::vector<uint8_t>(buffer, buffer + n);
    }

    bool sendTo(const char* ip, int port, const std::vector<uint8_t>& data)
    {
        sockaddr_in a = address(ip, port);
        return sendto(m_fd, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof(a)) ==
               ssize_t(data.size());
    }

    static sockaddr_in address(const char* ip, int port)
    {
        sockaddr_in a;
        std::memset(&a, 0, sizeof(a));
        a.sin_family = AF_INET;
        inet_pton(AF_INET, ip, &a.sin_addr);
        a.sin_port = htons(uint16_t(port));
        return a;
    }

    // Whether nobody has ip:port bound right now.
    static bool isFree(int port, const char* ip = "0.0.0.0")
    {
        LayerTestUdp probe;
        return probe.bindTo(ip, port);
    }

    // An even port p with p and p + 1 free at the moment, from a range no allocator hands out.
    static int freeEvenPair()
    {
        static std::mt19937 random(std::random_device{}());
        std::uniform_int_distribution<int> pick(20000, 29999);
        for (int i = 0; i < 200; ++i) {
            const int p = pick(random) * 2;
            if (isFree(p) && isFree(p + 1))
                return p;
        }
        return 0;
    }

    static uint32_t read32(const uint8_t* p)
    {
        return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
    }
    static uint16_t read16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }

private:
    int m_fd = -1;
    int m_port = 0;
};
