#pragma once

#include "RtpLayerPacket.h"
#include "RtpLayerReceiveStats.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <random>
#include <string>
#include <vector>

// One RTP session over UDP/IPv4 (RFC 3550): RTP on an even local port, RTCP on the port above.
// It sends to any number of destinations, joins multicast groups, sends sender/receiver reports
// when its owner services it and a BYE when it closes. It has no thread of its own: a send thread
// calls sendPacket and serviceRtcp, a receive thread receive and waitReadable; the two share only
// the sockets and the reception statistics (under a small mutex). open and byeAndClose must not
// run while those threads use the session.
class RtpLayerSession
{
public:
    enum Error
    {
        kErrorAlreadyOpen = -1,
        kErrorInvalidPort = -2,     // odd, 0, or no room for RTCP above it
        kErrorInvalidAddress = -3,  // bind or interface address not dotted IPv4
        kErrorInvalidArgument = -4, // clock rate, TTL or pre-transmission delay out of range
        kErrorSocket = -5,          // a socket could not be made or set up
        kErrorAddressInUse = -6,    // a port is taken: try another
        kErrorBind = -7             // the address cannot be bound (not local, ...)
    };

    // Largest datagram sent, header included.
    static constexpr size_t kMaxPacketSize = 1400;
    static constexpr int kDefaultReceiveCount = 10;

    RtpLayerSession();
    // Closes without a BYE; owners call byeAndClose.
    ~RtpLayerSession();
    RtpLayerSession(const RtpLayerSession&) = delete;
    RtpLayerSession& operator=(const RtpLayerSession&) = delete;

    // Binds RTP to portBase and RTCP to portBase + 1 on bindIp (any address when empty); sets the
    // multicast TTL and, when mcastIfIp is given, the interface multicast leaves by. Picks a
    // random SSRC, first sequence number and first timestamp. preTxDelay (seconds) only shifts
    // the RTP time of sender reports. 0, or a negative Error.
    int open(const std::string& bindIp, int portBase, int clockRate, int ttl = 1,
             const std::string& mcastIfIp = std::string(), double preTxDelay = 0.0);
    bool isOpen() const { return m_open.load(std::memory_order_acquire); }
    // The clock rate and pre-transmission delay of a session opened before its codec was known
    // (a port announced in a SIP answer); before any thread uses the session. -1 when out of
    // range (nothing changes).
    int setClock(int clockRate, double preTxDelay);
    // The RTP port bound, 0 when closed.
    int localPort() const { return isOpen() ? m_localPort : 0; }

    // RTP goes to ip:port, RTCP to ip:port + 1. -1 for a bad address, a port outside 1..65534 or
    // a destination already present.
    int addDestination(const std::string& ip, int port);
    void clearDestinations();

    // -1 without touching the system when ip is not a multicast address.
    int joinGroup(const std::string& ip);
    void leaveAllGroups();

    // Sends one packet with the current timestamp to every destination, then advances the
    // timestamp by tsIncrement and the sequence number by 1. A packet over kMaxPacketSize is
    // refused. 0, or -1 when it was refused or a destination could not be sent to.
    int sendPacket(const void* data, size_t length, uint8_t payloadType, bool marker, uint32_t tsIncrement);

    // now: monotonic seconds (RDThread::tickTime). Sends a report when one is due.
    void serviceRtcp(double now);

    // Takes up to max waiting RTP packets in arrival order, without blocking; also reads the
    // RTCP socket. Invalid datagrams are dropped. The count taken.
    int receive(RtpLayerPacket* out, int max = kDefaultReceiveCount);
    // Waits up to ms for either socket to become readable: > 0 readable, 0 time-out, -1 not open.
    int waitReadable(int ms);

    // Sends SR + SDES + BYE to every destination when any RTP was sent, then closes both sockets.
    void byeAndClose();

private:
    struct Destination
    {
        uint32_t address; // host order
        uint16_t port;
    };

    void closeSockets();
    void sendRtcp(const uint8_t* data, size_t length);
    size_t buildReport(uint8_t* buffer, size_t capacity, bool senderReport, bool bye);
    void drainRtcp();

    std::atomic<bool> m_open{false};
    int m_rtpSocket = -1;
    int m_rtcpSocket = -1;
    int m_clockRate = 8000;
    double m_preTxDelay = 0;
    int m_localPort = 0;
    uint32_t m_interface = 0; // host order, 0 = any
    uint32_t m_ssrc = 0;

    // Send side, under m_sendMutex.
    std::mutex m_sendMutex;
    std::vector<Destination> m_destinations;
    std::vector<uint32_t> m_groups;
    uint16_t m_sequence = 0;
    uint32_t m_timestamp = 0;
    uint32_t m_lastTimestamp = 0;
    double m_lastSendTime = 0;
    uint32_t m_packetCount = 0;
    uint32_t m_octetCount = 0;
    bool m_sentSinceReport = false;
    bool m_everSent = false;
    bool m_oversizeLogged = false;
    bool m_sendFailing = false;
    uint64_t m_sendErrors = 0;
    double m_nextReport = 0;
    double m_averageRtcpSize = 0;
    std::mt19937 m_random;
    uint8_t m_packet[kMaxPacketSize];

    // Receive side: the buffer belongs to the receiving thread, the statistics to m_statsMutex.
    std::vector<uint8_t> m_receiveBuffer;
    std::mutex m_statsMutex;
    RtpLayerReceiveStats m_stats;
    bool m_peerSent = false;
    uint64_t m_badPackets = 0;
};
