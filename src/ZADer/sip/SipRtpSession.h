#pragma once

#include "RtpLayerSession.h"
#include "SipH264.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

class RDThread;
class RtpLayerPacket;
class SipMedia;
class SipRtpSessionObserver;

// One medium of a call on the wire: an RTP session on the medium's local port, sending to the
// address the remote side described, with a send thread that paces the observer's frames in
// real time and a receive thread that hands received payloads to the observer.
//
// Received RTP is taken from the remote description's address; when that address sends nothing
// (a caller behind NAT) the session latches to the source that does, and sends there too.
class SipRtpSession
{
public:
    static constexpr int kDefaultPacketTime = 20; // ms
    // How long the described address must be silent before another source is latched.
    static constexpr double kLatchQuiet = 1.0;
    static constexpr int kReceiveWaitMs = 10;

    SipRtpSession();
    // Stops the session when the owner did not.
    ~SipRtpSession();
    SipRtpSession(const SipRtpSession&) = delete;
    SipRtpSession& operator=(const SipRtpSession&) = delete;

    // Set before start.
    void setDataTimeout(double seconds); // 0 = none
    void setDurationLimit(double seconds); // 0 = none
    void setObserver(SipRtpSessionObserver* observer);

    // 0 when the session runs; -1 without a medium or send payload, or when the RTP session
    // cannot be made (port taken, address not IPv4). packetTime < 1 means 20 ms. The sockets
    // the medium bound at the answer are taken over; without them the local port is bound now.
    int start(const std::shared_ptr<SipMedia>& medium, int packetTime);
    // Stops both threads, sends the RTCP BYE and closes the session. No callback after it.
    void stop();
    bool isRunning() const { return m_sendThread != nullptr; }

    // The remote side moved (a re-INVITE): send to ip:port from now on and take RTP from ip.
    // 0, or -1 for an unusable address.
    int retarget(const std::string& ip, int port);

    int packetTime() const { return m_ptime; }
    uint32_t defaultIncrement() const { return m_defaultIncrement; }
    int mediaType() const { return m_mediaType; }
    // The address RTP is being sent to and taken from, "ip:port" (empty when none).
    std::string remoteTarget() const;

    // channels x clockRate x ptime / 1000, or clockRate x ptime / 1000 without a channel count.
    static uint32_t defaultIncrementFor(int clockRate, int channels, int packetTime);

    // Thread bodies.
    void doSend(RDThread* thread);
    void doReceive(RDThread* thread);

private:
    // Whether a packet from that source is taken; latches to it when the described address has
    // been silent. Receive thread only (the latch state is shared with retarget).
    bool accept(const RtpLayerPacket& packet, double now);
    // One frame whose RTP timestamp advances by increment after it.
    void sendFrame(const uint8_t* data, int size, int payloadType, uint32_t increment);
    void deliver(const RtpLayerPacket& packet);
    void setDestinationLocked(uint32_t address, int port);

    std::unique_ptr<RtpLayerSession> m_rtp;
    SipH264::Assembler m_assembler;

    int m_ptime = kDefaultPacketTime;
    int m_mediaType = 0;
    int m_clockRate = 8000;
    int m_payloadType = 0;
    uint32_t m_defaultIncrement = 0;
    std::shared_ptr<SipMedia> m_medium;

    RDThread* m_sendThread = nullptr;
    RDThread* m_recvThread = nullptr;
    SipRtpSessionObserver* m_observer = nullptr;
    double m_dataTimeout = 0;
    double m_durationLimit = 0;

    mutable std::mutex m_latchMutex;
    uint32_t m_describedAddress = 0; // host order; 0 = none usable
    uint32_t m_targetAddress = 0; // where RTP goes (host order), 0 = nowhere
    int m_targetPort = 0;
    double m_describedSeen = -1e9; // monotonic time of the last packet from the described address
    uint32_t m_latchedAddress = 0;
    uint16_t m_latchedPort = 0;
    double m_latchedSeen = -1e9;
    uint64_t m_rejected = 0;
};
