#pragma once

#include "layer/LayerTestUdp.h"

#include <QByteArray>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <mutex>
#include <thread>
#include <vector>

// The far end of a channel in session tests: a thread that records every datagram reaching an
// RTP port and the RTCP port above it, with its arrival time on the monotonic clock and, for
// RTP, the header fields and the first payload bytes of a session-test source.
class RtpSessionReceiver
{
public:
    struct Packet
    {
        double arrival = 0;      // monotonic, when the thread read it
        double kernelArrival = 0; // wall clock, when the kernel received it
        int payloadType = -1;
        bool marker = false;
        uint16_t sequence = 0;
        uint32_t timestamp = 0;
        uint32_t ssrc = 0;
        int payloadLength = 0;
        int tag = -1;     // first payload byte
        int index = -1;   // the next four, big-endian
        int ttl = -1;
        uint32_t source = 0; // sender's address, host order
        std::vector<uint8_t> payload;
    };

    RtpSessionReceiver() = default;
    ~RtpSessionReceiver() { stop(); }

    // Binds ip:port and ip:port + 1 (port 0: a free even pair) and starts recording. With a
    // multicast group, joins it on both.
    bool start(const char* ip = "127.0.0.1", int port = 0, const char* group = nullptr)
    {
        if (port == 0)
            port = LayerTestUdp::freeEvenPair();
        if (port == 0 || !m_rtp.bindTo(ip, port) || !m_rtcp.bindTo(ip, port + 1))
            return false;
        m_port = port;
        const int on = 1;
        setsockopt(m_rtp.fd(), IPPROTO_IP, IP_RECVTTL, &on, sizeof(on));
        setsockopt(m_rtp.fd(), SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof(on));
        if (group) {
            ip_mreq request;
            inet_pton(AF_INET, group, &request.imr_multiaddr);
            request.imr_interface.s_addr = htonl(INADDR_ANY);
            if (setsockopt(m_rtp.fd(), IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof(request)) != 0 ||
                setsockopt(m_rtcp.fd(), IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof(request)) != 0)
                return false;
        }
        m_thread = std::thread([this] { loop(); });
        return true;
    }

    void stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }

    int port() const { return m_port; }

    // The payloads of packets [from, to) one after the other, without the RFC 2250 header of
    // MP3 (payload type 14).
    QByteArray payloadBytes(size_t from = 0, size_t to = SIZE_MAX)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        QByteArray bytes;
        for (size_t i = from; i < std::min(to, m_packets.size()); ++i) {
            const Packet& p = m_packets[i];
            const size_t skip = p.payloadType == 14 && p.payload.size() > 4 ? 4 : 0;
            bytes.append(reinterpret_cast<const char*>(p.payload.data() + skip), int(p.payload.size() - skip));
        }
        return bytes;
    }

    std::vector<Packet> packets()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_packets;
    }
    int count()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return int(m_packets.size());
    }
    // RTCP compounds that carry a BYE.
    int byes() const { return m_byes; }
    int rtcpCount() const { return m_rtcpCount; }

    // Waits up to timeoutMs until count() reaches n.
    bool waitFor(int n, int timeoutMs)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (count() < n) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }
    bool waitForBye(int timeoutMs)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (m_byes == 0) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }

    void clear()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_packets.clear();
    }

    static double now()
    {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    }

private:
    void loop()
    {
        while (!m_stop) {
            pollfd fds[2] = {{m_rtp.fd(), POLLIN, 0}, {m_rtcp.fd(), POLLIN, 0}};
            if (poll(fds, 2, 10) <= 0)
                continue;
            if (fds[0].revents & POLLIN)
                readRtp();
            if (fds[1].revents & POLLIN)
                readRtcp();
        }
    }

    void readRtp()
    {
        uint8_t data[2048];
        char control[256];
        iovec io{data, sizeof(data)};
        sockaddr_in from{};
        msghdr message{};
        message.msg_name = &from;
        message.msg_namelen = sizeof(from);
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof(control);
        const ssize_t n = recvmsg(m_rtp.fd(), &message, MSG_DONTWAIT);
        const double arrival = now();
        if (n < 12)
            return;
        Packet p;
        p.arrival = arrival;
        p.marker = (data[1] & 0x80) != 0;
        p.payloadType = data[1] & 0x7F;
        p.sequence = LayerTestUdp::read16(data + 2);
        p.timestamp = LayerTestUdp::read32(data + 4);
        p.ssrc = LayerTestUdp::read32(data + 8);
        p.payloadLength = int(n) - 12;
        p.source = ntohl(from.sin_addr.s_addr);
        p.payload.assign(data + 12, data + n);
        if (n >= 17) {
            p.tag = data[12];
            p.index = int(LayerTestUdp::read32(data + 13));
        }
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_TTL)
                std::memcpy(&p.ttl, CMSG_DATA(c), sizeof(p.ttl));
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
                timespec ts;
                std::memcpy(&ts, CMSG_DATA(c), sizeof(ts));
                p.kernelArrival = double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
            }
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_packets.push_back(p);
    }

    void readRtcp()
    {
        uint8_t data[2048];
        const ssize_t n = recv(m_rtcp.fd(), data, sizeof(data), MSG_DONTWAIT);
        if (n < 4)
            return;
        ++m_rtcpCount;
        // Walk the compound packet for a BYE (203).
        size_t offset = 0;
        while (offset + 4 <= size_t(n)) {
            if (data[offset + 1] == 203) {
                ++m_byes;
                break;
            }
            offset += (size_t(LayerTestUdp::read16(data + offset + 2)) + 1) * 4;
        }
    }

    LayerTestUdp m_rtp;
    LayerTestUdp m_rtcp;
    int m_port = 0;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_byes{0};
    std::atomic<int> m_rtcpCount{0};
    std::mutex m_mutex;
    std::vector<Packet> m_packets;
};
