#include "RtpLayerSession.h"

#include "RDLog.h"
#include "RDThread.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <netinet/in.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The session bandwidth RTCP takes its 5% share of, in bytes per second.
constexpr double kSessionBandwidth = 10000.0;
constexpr double kRtcpShare = 0.05;
// IPv4 + UDP headers, counted in the average RTCP packet size.
constexpr size_t kLowerHeaders = 28;
// Datagrams read from the RTCP socket per receive call.
constexpr int kRtcpReadsPerCall = 16;
constexpr size_t kReceiveBufferSize = 65536;
constexpr uint32_t kNtpEpochOffset = 2208988800u;

bool parseIpv4(const std::string& text, uint32_t* hostOrder)
{
    in_addr address;
    if (inet_pton(AF_INET, text.c_str(), &address) != 1)
        return false;
    *hostOrder = ntohl(address.s_addr);
    return true;
}

sockaddr_in socketAddress(uint32_t hostOrder, uint16_t port)
{
    sockaddr_in address;
    std::memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(hostOrder);
    address.sin_port = htons(port);
    return address;
}

std::string addressText(uint32_t hostOrder)
{
    in_addr address;
    address.s_addr = htonl(hostOrder);
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, text, sizeof(text));
    return text;
}

uint32_t randomWord()
{
    uint32_t value = 0;
    size_t got = 0;
    while (got < sizeof(value)) {
        const ssize_t n = getrandom(reinterpret_cast<uint8_t*>(&value) + got, sizeof(value) - got, 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            // No entropy source: fall back to the clock, which is still unpredictable enough to
            // keep two sessions apart.
            timespec ts;
            clock_gettime(CLOCK_REALTIME, &ts);
            return uint32_t(ts.tv_nsec) ^ uint32_t(ts.tv_sec) ^ uint32_t(getpid() << 16);
        }
        got += size_t(n);
    }
    return value;
}

int bindSocket(int fd, uint32_t address, int port)
{
    const sockaddr_in local = socketAddress(address, uint16_t(port));
    if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) == 0)
        return 0;
    return errno == EADDRINUSE ? RtpLayerSession::kErrorAddressInUse : RtpLayerSession::kErrorBind;
}

} // namespace

RtpLayerSession::RtpLayerSession() : m_random(randomWord()) {}

RtpLayerSession::~RtpLayerSession()
{
    closeSockets();
}

void RtpLayerSession::closeSockets()
{
    m_open.store(false, std::memory_order_release);
    if (m_rtpSocket >= 0)
        close(m_rtpSocket);
    if (m_rtcpSocket >= 0)
        close(m_rtcpSocket);
    m_rtpSocket = -1;
    m_rtcpSocket = -1;
}

int RtpLayerSession::setClock(int clockRate, double preTxDelay)
{
    if (clockRate <= 0 || !std::isfinite(preTxDelay) || preTxDelay < 0 || preTxDelay > 10)
        return -1;
    std::lock_guard<std::mutex> lock(m_sendMutex);
    m_clockRate = clockRate;
    m_preTxDelay = preTxDelay;
    return 0;
}

int RtpLayerSession::open(const std::string& bindIp, int portBase, int clockRate, int ttl,
                          const std::string& mcastIfIp, double preTxDelay)
{
    if (isOpen())
        return kErrorAlreadyOpen;
    if (portBase < 2 || portBase > 65534 || (portBase & 1))
        return kErrorInvalidPort;
    if (clockRate <= 0 || ttl < 0 || ttl > 255 || !std::isfinite(preTxDelay) || preTxDelay < 0 || preTxDelay > 10)
        return kErrorInvalidArgument;
    uint32_t bindAddress = INADDR_ANY;
    if (!bindIp.empty() && !parseIpv4(bindIp, &bindAddress))
        return kErrorInvalidAddress;
    uint32_t interfaceAddress = INADDR_ANY;
    if (!mcastIfIp.empty() && !parseIpv4(mcastIfIp, &interfaceAddress))
        return kErrorInvalidAddress;

    m_rtpSocket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    m_rtcpSocket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (m_rtpSocket < 0 || m_rtcpSocket < 0) {
        RDLOG("rtp socket: %s", strerror(errno));
        closeSockets();
        return kErrorSocket;
    }
    int result = bindSocket(m_rtpSocket, bindAddress, portBase);
    if (result == 0)
        result = bindSocket(m_rtcpSocket, bindAddress, portBase + 1);
    if (result != 0) {
        closeSockets();
        return result;
    }
    const int ttlValue = ttl;
    in_addr interface;
    interface.s_addr = htonl(interfaceAddress);
    for (int fd : {m_rtpSocket, m_rtcpSocket}) {
        if (setsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &ttlValue, sizeof(ttlValue)) != 0 ||
            (interfaceAddress != INADDR_ANY &&
             setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &interface, sizeof(interface)) != 0)) {
            RDLOG("rtp socket options: %s", strerror(errno));
            closeSockets();
            return kErrorSocket;
        }
    }

    std::lock_guard<std::mutex> lock(m_sendMutex);
    m_clockRate = clockRate;
    m_preTxDelay = preTxDelay;
    m_localPort = portBase;
    m_interface = interfaceAddress;
    m_ssrc = randomWord();
    m_sequence = uint16_t(randomWord());
    m_timestamp = randomWord();
    m_lastTimestamp = m_timestamp;
    m_lastSendTime = 0;
    m_packetCount = 0;
    m_octetCount = 0;
    m_sentSinceReport = false;
    m_everSent = false;
    m_oversizeLogged = false;
    m_sendFailing = false;
    m_sendErrors = 0;
    m_destinations.clear();
    m_groups.clear();
    // A first report of about 100 bytes; the minimum interval dominates anyway.
    m_averageRtcpSize = 100;
    std::uniform_real_distribution<double> spread(0.5, 1.5);
    m_nextReport = RDThread::monotonicTime() +
                   RtpLayerRtcp::interval(2, 1, kSessionBandwidth * kRtcpShare, true, m_averageRtcpSize, true,
                                          spread(m_random));
    {
        std::lock_guard<std::mutex> stats(m_statsMutex);
        m_stats = RtpLayerReceiveStats();
        m_peerSent = false;
    }
    m_badPackets = 0;
    if (m_receiveBuffer.size() != kReceiveBufferSize)
        m_receiveBuffer.assign(kReceiveBufferSize, 0);
    m_open.store(true, std::memory_order_release);
    return 0;
}

int RtpLayerSession::addDestination(const std::string& ip, int port)
{
    uint32_t address = 0;
    if (!parseIpv4(ip, &address) || port < 1 || port > 65534)
        return -1;
    std::lock_guard<std::mutex> lock(m_sendMutex);
    for (const Destination& d : m_destinations) {
        if (d.address == address && d.port == port)
            return -1;
    }
    m_destinations.push_back({address, uint16_t(port)});
    return 0;
}

void RtpLayerSession::clearDestinations()
{
    std::lock_guard<std::mutex> lock(m_sendMutex);
    m_destinations.clear();
}

int RtpLayerSession::joinGroup(const std::string& ip)
{
    uint32_t group = 0;
    if (!parseIpv4(ip, &group) || !IN_MULTICAST(group))
        return -1;
    if (!isOpen())
        return -1;
    std::lock_guard<std::mutex> lock(m_sendMutex);
    if (std::find(m_groups.begin(), m_groups.end(), group) != m_groups.end())
        return 0;
    ip_mreq request;
    request.imr_multiaddr.s_addr = htonl(group);
    request.imr_interface.s_addr = htonl(m_interface);
    if (setsockopt(m_rtpSocket, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof(request)) != 0) {
        RDLOG("rtp join %s: %s", ip.c_str(), strerror(errno));
        return -1;
    }
    if (setsockopt(m_rtcpSocket, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof(request)) != 0) {
        RDLOG("rtcp join %s: %s", ip.c_str(), strerror(errno));
        setsockopt(m_rtpSocket, IPPROTO_IP, IP_DROP_MEMBERSHIP, &request, sizeof(request));
        return -1;
    }
    m_groups.push_back(group);
    return 0;
}

void RtpLayerSession::leaveAllGroups()
{
    std::lock_guard<std::mutex> lock(m_sendMutex);
    if (isOpen()) {
        for (uint32_t group : m_groups) {
            ip_mreq request;
            request.imr_multiaddr.s_addr = htonl(group);
            request.imr_interface.s_addr = htonl(m_interface);
            setsockopt(m_rtpSocket, IPPROTO_IP, IP_DROP_MEMBERSHIP, &request, sizeof(request));
            setsockopt(m_rtcpSocket, IPPROTO_IP, IP_DROP_MEMBERSHIP, &request, sizeof(request));
        }
    }
    m_groups.clear();
}

int RtpLayerSession::sendPacket(const void* data, size_t length, uint8_t payloadType, bool marker,
                                uint32_t tsIncrement)
{
    if (!isOpen() || payloadType > 127 || (!data && length > 0))
        return -1;
    std::lock_guard<std::mutex> lock(m_sendMutex);
    if (length > kMaxPacketSize - RtpLayerPacket::kHeaderSize) {
        if (!m_oversizeLogged) {
            RDLOG("rtp packet of %zu bytes payload too large, not sent (at most %zu)", length,
                  kMaxPacketSize - RtpLayerPacket::kHeaderSize);
            m_oversizeLogged = true;
        }
        return -1;
    }
    RtpLayerPacket::writeHeader(m_packet, payloadType, marker, m_sequence, m_timestamp, m_ssrc);
    if (length > 0)
        std::memcpy(m_packet + RtpLayerPacket::kHeaderSize, data, length);
    const size_t total = RtpLayerPacket::kHeaderSize + length;

    bool failed = false;
    int failure = 0;
    const Destination* failedAt = nullptr;
    for (const Destination& d : m_destinations) {
        const sockaddr_in to = socketAddress(d.address, d.port);
        ssize_t sent;
        do {
            sent = sendto(m_rtpSocket, m_packet, total, 0, reinterpret_cast<const sockaddr*>(&to), sizeof(to));
        } while (sent < 0 && errno == EINTR);
        if (sent < 0) {
            if (!failed) {
                failure = errno;
                failedAt = &d;
            }
            failed = true;
            ++m_sendErrors;
        }
    }
    if (failed != m_sendFailing) {
        if (failed)
            RDLOG("rtp send to %s:%u failed: %s", addressText(failedAt->address).c_str(), unsigned(failedAt->port),
                  strerror(failure));
        else
            RDLOG("rtp send works again after %llu failed sends", static_cast<unsigned long long>(m_sendErrors));
        m_sendFailing = failed;
    }

    m_lastTimestamp = m_timestamp;
    m_lastSendTime = RDThread::monotonicTime();
    m_timestamp += tsIncrement;
    ++m_sequence;
    ++m_packetCount;
    m_octetCount += uint32_t(length);
    m_sentSinceReport = true;
    m_everSent = true;
    return failed ? -1 : 0;
}

void RtpLayerSession::sendRtcp(const uint8_t* data, size_t length)
{
    for (const Destination& d : m_destinations) {
        const sockaddr_in to = socketAddress(d.address, uint16_t(d.port + 1));
        ssize_t sent;
        do {
            sent = sendto(m_rtcpSocket, data, length, 0, reinterpret_cast<const sockaddr*>(&to), sizeof(to));
        } while (sent < 0 && errno == EINTR);
    }
}

size_t RtpLayerSession::buildReport(uint8_t* buffer, size_t capacity, bool senderReport, bool bye)
{
    RtpLayerRtcp::ReportBlock block;
    bool haveBlock;
    {
        std::lock_guard<std::mutex> stats(m_statsMutex);
        haveBlock = m_stats.takeReportBlock(RDThread::monotonicTime(), block);
    }
    size_t used;
    if (senderReport) {
        timespec wall;
        clock_gettime(CLOCK_REALTIME, &wall);
        RtpLayerRtcp::SenderInfo info;
        info.ntpSeconds = uint32_t(wall.tv_sec) + kNtpEpochOffset;
        info.ntpFraction = uint32_t((uint64_t(wall.tv_nsec) << 32) / 1000000000ull);
        const double elapsed = RDThread::monotonicTime() - m_lastSendTime + m_preTxDelay;
        info.rtpTimestamp = m_lastTimestamp + uint32_t(int64_t(std::llround(elapsed * m_clockRate)));
        info.packetCount = m_packetCount;
        info.octetCount = m_octetCount;
        used = RtpLayerRtcp::writeSenderReport(buffer, capacity, m_ssrc, info, haveBlock ? &block : nullptr);
    } else {
        used = RtpLayerRtcp::writeReceiverReport(buffer, capacity, m_ssrc, haveBlock ? &block : nullptr);
    }
    used += RtpLayerRtcp::writeSourceDescription(buffer + used, capacity - used, m_ssrc, RtpLayerRtcp::cname());
    if (bye)
        used += RtpLayerRtcp::writeBye(buffer + used, capacity - used, m_ssrc);
    return used;
}

void RtpLayerSession::serviceRtcp(double now)
{
    if (!isOpen())
        return;
    std::lock_guard<std::mutex> lock(m_sendMutex);
    if (now < m_nextReport)
        return;
    uint8_t buffer[512];
    const bool weSent = m_sentSinceReport;
    const size_t length = buildReport(buffer, sizeof(buffer), weSent, false);
    sendRtcp(buffer, length);
    m_sentSinceReport = false;
    m_averageRtcpSize += (double(length + kLowerHeaders) - m_averageRtcpSize) / 16.0;

    bool peerSent;
    {
        std::lock_guard<std::mutex> stats(m_statsMutex);
        peerSent = m_peerSent;
    }
    const int members = peerSent ? 2 : 1;
    const int senders = (weSent ? 1 : 0) + (peerSent ? 1 : 0);
    std::uniform_real_distribution<double> spread(0.5, 1.5);
    m_nextReport = now + RtpLayerRtcp::interval(std::max(members, 2), senders, kSessionBandwidth * kRtcpShare,
                                                weSent, m_averageRtcpSize, false, spread(m_random));
}

void RtpLayerSession::drainRtcp()
{
    for (int i = 0; i < kRtcpReadsPerCall; ++i) {
        const ssize_t n = recv(m_rtcpSocket, m_receiveBuffer.data(), m_receiveBuffer.size(), MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        const double now = RDThread::monotonicTime();
        std::lock_guard<std::mutex> stats(m_statsMutex);
        RtpLayerRtcp::readSenderReports(m_receiveBuffer.data(), size_t(n), [&](uint32_t ssrc, uint32_t ntpMiddle) {
            m_stats.onSenderReport(ssrc, ntpMiddle, now);
        });
    }
}

int RtpLayerSession::receive(RtpLayerPacket* out, int max)
{
    if (!isOpen() || !out || max <= 0)
        return 0;
    drainRtcp();
    int count = 0;
    // Bounded, so a flood of junk cannot keep the caller here.
    for (int reads = 0; count < max && reads < max * 4; ++reads) {
        sockaddr_in from;
        socklen_t fromLength = sizeof(from);
        const ssize_t n = recvfrom(m_rtpSocket, m_receiveBuffer.data(), m_receiveBuffer.size(), MSG_DONTWAIT,
                                   reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        RtpLayerPacket& packet = out[count];
        if (!RtpLayerPacket::parse(m_receiveBuffer.data(), size_t(n), packet)) {
            ++m_badPackets;
            // 1st, 2nd, 4th, 8th, ...: visible without flooding the log.
            if ((m_badPackets & (m_badPackets - 1)) == 0)
                RDLOG("rtp: dropped %llu invalid datagrams (last %zd bytes from %s:%u)",
                      static_cast<unsigned long long>(m_badPackets), n,
                      addressText(ntohl(from.sin_addr.s_addr)).c_str(), unsigned(ntohs(from.sin_port)));
            continue;
        }
        packet.data.assign(m_receiveBuffer.data(), m_receiveBuffer.data() + n);
        packet.sourceAddress = ntohl(from.sin_addr.s_addr);
        packet.sourcePort = ntohs(from.sin_port);
        {
            const uint32_t arrival = uint32_t(int64_t(std::llround(RDThread::monotonicTime() * m_clockRate)));
            std::lock_guard<std::mutex> stats(m_statsMutex);
            m_stats.onPacket(packet.ssrc, packet.sequenceNumber, packet.timestamp, arrival);
            m_peerSent = true;
        }
        ++count;
    }
    return count;
}

int RtpLayerSession::waitReadable(int ms)
{
    if (!isOpen()) {
        if (ms > 0)
            usleep(useconds_t(ms) * 1000);
        return -1;
    }
    pollfd fds[2] = {{m_rtpSocket, POLLIN, 0}, {m_rtcpSocket, POLLIN, 0}};
    const int ready = poll(fds, 2, std::max(ms, 0));
    if (ready < 0)
        return errno == EINTR ? 0 : -1;
    return ready;
}

void RtpLayerSession::byeAndClose()
{
    if (!isOpen())
        return;
    {
        std::lock_guard<std::mutex> lock(m_sendMutex);
        if (m_everSent && !m_destinations.empty()) {
            uint8_t buffer[512];
            const size_t length = buildReport(buffer, sizeof(buffer), true, true);
            sendRtcp(buffer, length);
        }
        m_destinations.clear();
        m_groups.clear();
    }
    closeSockets();
}
