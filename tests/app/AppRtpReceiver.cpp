#include "AppRtpReceiver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <random>

namespace {

constexpr int kRtcpBye = 203; // RFC 3550 6.6

int bindUdp(int port)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

template <typename Condition>
bool waitFor(int timeoutMs, Condition condition)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

} // namespace

AppRtpReceiver::~AppRtpReceiver()
{
    stop();
}

int AppRtpReceiver::freeEvenPort()
{
    static std::mt19937 random(std::random_device{}());
    // Below the range the program hands out to its own RTP sessions.
    std::uniform_int_distribution<int> pick(10000, 17999);
    for (int i = 0; i < 200; ++i) {
        const int port = pick(random) * 2;
        const int a = bindUdp(port);
        const int b = a >= 0 ? bindUdp(port + 1) : -1;
        if (a >= 0)
            close(a);
        if (b >= 0) {
            close(b);
            return port;
        }
    }
    return 0;
}

bool AppRtpReceiver::start()
{
    for (int attempt = 0; attempt < 20 && m_rtp < 0; ++attempt) {
        const int port = freeEvenPort();
        m_rtp = bindUdp(port);
        m_rtcp = m_rtp >= 0 ? bindUdp(port + 1) : -1;
        if (m_rtcp < 0 && m_rtp >= 0) {
            close(m_rtp);
            m_rtp = -1;
        }
        m_port = m_rtp >= 0 ? port : 0;
    }
    if (m_rtp < 0)
        return false;
    m_thread = std::thread([this] { run(); });
    return true;
}

void AppRtpReceiver::stop()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_rtp >= 0)
        close(m_rtp);
    if (m_rtcp >= 0)
        close(m_rtcp);
    m_rtp = m_rtcp = -1;
}

void AppRtpReceiver::run()
{
    while (!m_stop) {
        pollfd fds[2] = {{m_rtp, POLLIN, 0}, {m_rtcp, POLLIN, 0}};
        if (poll(fds, 2, 20) <= 0)
            continue;
        if (fds[0].revents & POLLIN)
            readRtp();
        if (fds[1].revents & POLLIN)
            readRtcp();
    }
}

void AppRtpReceiver::readRtp()
{
    unsigned char buffer[65536];
    const ssize_t got = recv(m_rtp, buffer, sizeof(buffer), 0);
    if (got < 12 || (buffer[0] >> 6) != 2)
        return;
    // RFC 3550 5.1: fixed header, CSRCs, an optional extension, optional padding.
    size_t offset = 12 + 4 * (buffer[0] & 0x0f);
    if ((buffer[0] & 0x10) && offset + 4 <= size_t(got))
        offset += 4 + 4 * ((buffer[offset + 2] << 8) | buffer[offset + 3]);
    size_t end = size_t(got);
    if ((buffer[0] & 0x20) && end > 0)
        end -= buffer[end - 1];
    if (offset > end)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_payloads.emplace_back(buffer[1] & 0x7f, QByteArray(reinterpret_cast<const char*>(buffer + offset), int(end - offset)));
    ++m_count;
}

void AppRtpReceiver::readRtcp()
{
    unsigned char buffer[65536];
    const ssize_t got = recv(m_rtcp, buffer, sizeof(buffer), 0);
    // RFC 3550 6.1: a compound packet of blocks, each with its length in 32-bit words minus one.
    size_t offset = 0;
    while (got > 0 && offset + 4 <= size_t(got)) {
        if (buffer[offset + 1] == kRtcpBye)
            m_bye = true;
        offset += 4 * (((buffer[offset + 2] << 8) | buffer[offset + 3]) + 1);
    }
}

bool AppRtpReceiver::waitForPackets(int count, int timeoutMs) const
{
    return waitFor(timeoutMs, [&] { return m_count.load() >= count; });
}

bool AppRtpReceiver::waitForBye(int timeoutMs) const
{
    return waitFor(timeoutMs, [&] { return m_bye.load(); });
}

QByteArray AppRtpReceiver::payloads(int payloadType) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    QByteArray all;
    for (const auto& payload : m_payloads)
        if (payload.first == payloadType)
            all += payload.second;
    return all;
}
