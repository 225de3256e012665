#include "RtpLayerReceiveStats.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr uint32_t kSequenceMod = 1u << 16;
constexpr uint16_t kMaxDropout = 3000;
constexpr uint16_t kMaxMisorder = 100;

} // namespace

void RtpLayerReceiveStats::start(uint32_t ssrc, uint16_t sequenceNumber)
{
    const bool sameSource = m_hasSource && m_ssrc == ssrc;
    m_hasSource = true;
    m_ssrc = ssrc;
    m_baseSequence = sequenceNumber;
    m_maxSequence = sequenceNumber;
    m_badSequence = kSequenceMod + 1;
    m_cycles = 0;
    m_received = 0;
    m_expectedPrior = 0;
    m_receivedPrior = 0;
    if (!sameSource) {
        m_haveTransit = false;
        m_jitter16 = 0;
        m_haveSenderReport = false;
    }
}

void RtpLayerReceiveStats::onPacket(uint32_t ssrc, uint16_t sequenceNumber, uint32_t timestamp, uint32_t arrival)
{
    if (!m_hasSource || ssrc != m_ssrc) {
        start(ssrc, sequenceNumber);
    } else {
        const uint16_t delta = uint16_t(sequenceNumber - m_maxSequence);
        if (delta < kMaxDropout) {
            if (sequenceNumber < m_maxSequence)
                m_cycles += kSequenceMod;
            m_maxSequence = sequenceNumber;
        } else if (delta <= kSequenceMod - kMaxMisorder) {
            // A large jump: believe it only when the next packet follows on from it.
            if (sequenceNumber == m_badSequence) {
                start(ssrc, sequenceNumber);
            } else {
                m_badSequence = (uint32_t(sequenceNumber) + 1) & (kSequenceMod - 1);
                return;
            }
        }
        // Otherwise a duplicate or a late packet: counted, max unchanged.
    }
    ++m_received;
    m_receivedSinceReport = true;

    const uint32_t transit = arrival - timestamp;
    if (m_haveTransit) {
        const int32_t d = int32_t(transit - m_transit);
        const uint32_t magnitude = d < 0 ? uint32_t(-int64_t(d)) : uint32_t(d);
        // J += (|D| - J) / 16, in units of 1/16.
        m_jitter16 += magnitude - ((m_jitter16 + 8) >> 4);
    }
    m_transit = transit;
    m_haveTransit = true;
}

void RtpLayerReceiveStats::onSenderReport(uint32_t ssrc, uint32_t ntpMiddle, double now)
{
    if (!m_hasSource || ssrc != m_ssrc)
        return;
    m_haveSenderReport = true;
    m_lastSenderReport = ntpMiddle;
    m_lastSenderReportArrival = now;
}

bool RtpLayerReceiveStats::takeReportBlock(double now, RtpLayerRtcp::ReportBlock& block)
{
    if (!m_hasSource || !m_receivedSinceReport)
        return false;
    m_receivedSinceReport = false;
    const uint32_t extendedMax = m_cycles + m_maxSequence;
    const int64_t expected = int64_t(extendedMax) - int64_t(m_baseSequence) + 1;
    const int64_t lost = expected - int64_t(m_received);
    const int64_t expectedInterval = expected - int64_t(m_expectedPrior);
    const int64_t receivedInterval = int64_t(m_received) - int64_t(m_receivedPrior);
    m_expectedPrior = uint32_t(expected);
    m_receivedPrior = m_received;
    const int64_t lostInterval = expectedInterval - receivedInterval;

    block.ssrc = m_ssrc;
    block.fractionLost = (expectedInterval <= 0 || lostInterval <= 0)
                             ? 0
                             : uint8_t(std::min<int64_t>(255, (lostInterval << 8) / expectedInterval));
    block.cumulativeLost = int32_t(std::max<int64_t>(-0x800000, std::min<int64_t>(0x7FFFFF, lost)));
    block.extendedHighestSequence = extendedMax;
    block.jitter = uint32_t(std::min<uint64_t>(0xFFFFFFFFu, m_jitter16 >> 4));
    if (m_haveSenderReport) {
        block.lastSenderReport = m_lastSenderReport;
        const double delay = std::max(0.0, now - m_lastSenderReportArrival);
        const double units = std::floor(delay * 65536.0 + 0.5);
        block.delaySinceLastSenderReport = units >= 4294967295.0 ? 0xFFFFFFFFu : uint32_t(units);
    } else {
        block.lastSenderReport = 0;
        block.delaySinceLastSenderReport = 0;
    }
    return true;
}
