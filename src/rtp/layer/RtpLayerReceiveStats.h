#pragma once

#include "RtpLayerRtcp.h"

#include <cstdint>

// Reception statistics of one remote sender, as RFC 3550 (A.1, A.3, A.8) keeps them for a
// report block: sequence tracking with wrap-around, loss, interarrival jitter and the time of
// the sender's last report. A packet of another SSRC starts over for that source. No probation:
// every packet counts from the first one on. Not thread-safe; the owner locks.
class RtpLayerReceiveStats
{
public:
    // arrival: the arrival time in RTP timestamp units of the receiver's clock.
    void onPacket(uint32_t ssrc, uint16_t sequenceNumber, uint32_t timestamp, uint32_t arrival);
    // now: monotonic seconds.
    void onSenderReport(uint32_t ssrc, uint32_t ntpMiddle, double now);

    // Fills a report block for the current source and starts the next interval. False when no
    // packet came since the previous block.
    bool takeReportBlock(double now, RtpLayerRtcp::ReportBlock& block);

    bool hasSource() const { return m_hasSource; }

private:
    void start(uint32_t ssrc, uint16_t sequenceNumber);

    bool m_hasSource = false;
    bool m_receivedSinceReport = false;
    uint32_t m_ssrc = 0;
    uint16_t m_maxSequence = 0;
    uint32_t m_cycles = 0;
    uint32_t m_baseSequence = 0;
    uint32_t m_badSequence = 0;
    uint32_t m_received = 0;
    uint32_t m_expectedPrior = 0;
    uint32_t m_receivedPrior = 0;
    bool m_haveTransit = false;
    uint32_t m_transit = 0;
    uint64_t m_jitter16 = 0; // jitter scaled by 16
    bool m_haveSenderReport = false;
    uint32_t m_lastSenderReport = 0;
    double m_lastSenderReportArrival = 0;
};
