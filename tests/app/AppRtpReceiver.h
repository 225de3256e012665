#pragma once

#include <QByteArray>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

// The far end of a channel for tests of the running program: a thread that reads the RTP port
// and the RTCP port above it on 127.0.0.1, keeping every RTP payload and noting an RTCP BYE.
class AppRtpReceiver
{
public:
    AppRtpReceiver() = default;
    ~AppRtpReceiver();
    AppRtpReceiver(const AppRtpReceiver&) = delete;
    AppRtpReceiver& operator=(const AppRtpReceiver&) = delete;

    // Binds a free even port pair and starts reading.
    bool start();
    void stop();
    int port() const { return m_port; }

    int packetCount() const { return m_count.load(); }
    bool waitForPackets(int count, int timeoutMs) const;
    bool waitForBye(int timeoutMs) const;
    // The payloads of the packets of one payload type, in arrival order.
    QByteArray payloads(int payloadType) const;

    // An even UDP port of 127.0.0.1 with the one above it free just now (0 when none found).
    static int freeEvenPort();

private:
    void run();
    void readRtp();
    void readRtcp();

    int m_rtp = -1;
    int m_rtcp = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_count{0};
    std::atomic<bool> m_bye{false};
    mutable std::mutex m_mutex;
    std::vector<std::pair<int, QByteArray>> m_payloads;
    std::thread m_thread;
};
