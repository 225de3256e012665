#pragma once

#include <atomic>
#include <mutex>

class RtpLayerSession;

// Hands out local UDP ports for RTP sessions: even ports of a range, probed in turn by binding
// the port and the one above it (the session needs both, for RTP and RTCP). A port is not
// reserved; the cursor just moves past it, so a port that another program takes between the
// probe and the session's bind makes that bind fail and the session tries again. Where a port
// is announced before its session runs (a SIP answer), openSession binds it at once instead.
class RtpPortManager
{
public:
    static constexpr int kFirstPort = 36000;
    static constexpr int kEndPort = 38000;

    // Ports first, first + 2, ... below end (which is never handed out). first must be even.
    RtpPortManager(int first = kFirstPort, int end = kEndPort);
    virtual ~RtpPortManager();
    RtpPortManager(const RtpPortManager&) = delete;
    RtpPortManager& operator=(const RtpPortManager&) = delete;

    static void createInstance();
    // Null before createInstance and after destroyInstance.
    static RtpPortManager* instance();
    static void destroyInstance();

    // A port p with p and p + 1 bindable a moment ago, or 0 when the whole range is taken.
    int getFreePort();

    // Opens session (any address, TTL 1) on a port of the range, trying the next one while a
    // port is taken between the probe and the bind: the port, bound when this returns, or 0
    // when none could be bound (the session stays closed).
    static constexpr int kOpenAttempts = 8;
    int openSession(RtpLayerSession& session, int clockRate, double preTxDelay);

    // Whether a socket can be bound to the port on all interfaces right now.
    static bool isUdpPortFree(int port);
    static bool isTcpPortFree(int port);

private:
    std::mutex* m_mutex;
    int m_first;
    int m_end;
    int m_cursor;

    static std::atomic<RtpPortManager*> s_instance;
};
