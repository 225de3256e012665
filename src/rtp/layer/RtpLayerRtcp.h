#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// Building and reading RTCP packets (RFC 3550): sender and receiver reports with at most one
// report block, SDES with a CNAME, BYE, and the report interval. Builders return the number of
// bytes written, or 0 when the buffer is too small.
class RtpLayerRtcp
{
public:
    enum PacketType : uint8_t
    {
        kSenderReport = 200,
        kReceiverReport = 201,
        kSourceDescription = 202,
        kBye = 203
    };

    struct ReportBlock
    {
        uint32_t ssrc = 0;
        uint8_t fractionLost = 0;
        int32_t cumulativeLost = 0;      // sent as 24-bit signed, clamped
        uint32_t extendedHighestSequence = 0;
        uint32_t jitter = 0;             // RTP timestamp units
        uint32_t lastSenderReport = 0;   // middle 32 bits of the NTP time of the peer's last SR
        uint32_t delaySinceLastSenderReport = 0; // 1/65536 s
    };

    struct SenderInfo
    {
        uint32_t ntpSeconds = 0;
        uint32_t ntpFraction = 0;
        uint32_t rtpTimestamp = 0;
        uint32_t packetCount = 0;
        uint32_t octetCount = 0;
    };

    static size_t writeSenderReport(uint8_t* buffer, size_t capacity, uint32_t ssrc, const SenderInfo& info,
                                    const ReportBlock* block);
    static size_t writeReceiverReport(uint8_t* buffer, size_t capacity, uint32_t ssrc, const ReportBlock* block);
    // One chunk with the CNAME item (at most 255 bytes of it), null-terminated and padded to 32 bits.
    static size_t writeSourceDescription(uint8_t* buffer, size_t capacity, uint32_t ssrc, const std::string& cname);
    static size_t writeBye(uint8_t* buffer, size_t capacity, uint32_t ssrc);

    // Walks a compound packet and calls onSenderReport(ssrc, middle 32 bits of its NTP time) for
    // every sender report in it. False (and no calls after the damage) when the datagram is not
    // a well-formed compound packet: version 2 and every length inside the datagram.
    static bool readSenderReports(const uint8_t* datagram, size_t length,
                                  const std::function<void(uint32_t ssrc, uint32_t ntpMiddle)>& onSenderReport);

    // RFC 3550 A.7: seconds to the next report. randomFactor is uniform in [0.5, 1.5].
    static double interval(int members, int senders, double rtcpBandwidth, bool weSent, double averageSize,
                           bool initial, double randomFactor);

    // "user@host", the same for the whole process.
    static const std::string& cname();
};
