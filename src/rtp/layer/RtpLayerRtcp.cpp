#include "RtpLayerRtcp.h"

#include "RDBigEndian.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <pwd.h>
#include <unistd.h>

namespace {

// Common header; length is the packet's size in 32-bit words minus one.
void writeHeader(uint8_t* p, int count, uint8_t type, size_t bytes)
{
    p[0] = uint8_t(0x80 | (count & 0x1F));
    p[1] = type;
    writeBe16(p + 2, uint16_t(bytes / 4 - 1));
}

void writeBlock(uint8_t* p, const RtpLayerRtcp::ReportBlock& b)
{
    const int32_t lost = std::max<int32_t>(-0x800000, std::min<int32_t>(0x7FFFFF, b.cumulativeLost));
    writeBe32(p, b.ssrc);
    writeBe32(p + 4, (uint32_t(b.fractionLost) << 24) | (uint32_t(lost) & 0xFFFFFF));
    writeBe32(p + 8, b.extendedHighestSequence);
    writeBe32(p + 12, b.jitter);
    writeBe32(p + 16, b.lastSenderReport);
    writeBe32(p + 20, b.delaySinceLastSenderReport);
}

} // namespace

size_t RtpLayerRtcp::writeSenderReport(uint8_t* buffer, size_t capacity, uint32_t ssrc, const SenderInfo& info,
                                       const ReportBlock* block)
{
    const size_t bytes = 28 + (block ? 24 : 0);
    if (capacity < bytes)
        return 0;
    writeHeader(buffer, block ? 1 : 0, kSenderReport, bytes);
    writeBe32(buffer + 4, ssrc);
    writeBe32(buffer + 8, info.ntpSeconds);
    writeBe32(buffer + 12, info.ntpFraction);
    writeBe32(buffer + 16, info.rtpTimestamp);
    writeBe32(buffer + 20, info.packetCount);
    writeBe32(buffer + 24, info.octetCount);
    if (block)
        writeBlock(buffer + 28, *block);
    return bytes;
}

size_t RtpLayerRtcp::writeReceiverReport(uint8_t* buffer, size_t capacity, uint32_t ssrc, const ReportBlock* block)
{
    const size_t bytes = 8 + (block ? 24 : 0);
    if (capacity < bytes)
        return 0;
    writeHeader(buffer, block ? 1 : 0, kReceiverReport, bytes);
    writeBe32(buffer + 4, ssrc);
    if (block)
        writeBlock(buffer + 8, *block);
    return bytes;
}

size_t RtpLayerRtcp::writeSourceDescription(uint8_t* buffer, size_t capacity, uint32_t ssrc,
                                            const std::string& cname)
{
    const size_t nameLength = std::min<size_t>(cname.size(), 255);
    // Header, SSRC, CNAME item (type, length, text), at least one null octet, then 32-bit padding.
    const size_t used = 4 + 4 + 2 + nameLength + 1;
    const size_t bytes = (used + 3) & ~size_t(3);
    if (capacity < bytes)
        return 0;
    std::memset(buffer, 0, bytes);
    writeHeader(buffer, 1, kSourceDescription, bytes);
    writeBe32(buffer + 4, ssrc);
    buffer[8] = 1; // CNAME
    buffer[9] = uint8_t(nameLength);
    std::memcpy(buffer + 10, cname.data(), nameLength);
    return bytes;
}

size_t RtpLayerRtcp::writeBye(uint8_t* buffer, size_t capacity, uint32_t ssrc)
{
    if (capacity < 8)
        return 0;
    writeHeader(buffer, 1, kBye, 8);
    writeBe32(buffer + 4, ssrc);
    return 8;
}

bool RtpLayerRtcp::readSenderReports(const uint8_t* datagram, size_t length,
                                     const std::function<void(uint32_t, uint32_t)>& onSenderReport)
{
    if (!datagram || length < 4)
        return false;
    size_t offset = 0;
    while (offset < length) {
        if (length - offset < 4)
            return false;
        const uint8_t* p = datagram + offset;
        if ((p[0] >> 6) != 2)
            return false;
        const size_t bytes = (size_t((p[2] << 8) | p[3]) + 1) * 4;
        if (bytes > length - offset)
            return false;
        if (p[1] == kSenderReport && bytes >= 28 && onSenderReport)
            onSenderReport(readBe32(p + 4), (readBe32(p + 8) << 16) | (readBe32(p + 12) >> 16));
        offset += bytes;
    }
    return true;
}

double RtpLayerRtcp::interval(int members, int senders, double rtcpBandwidth, bool weSent, double averageSize,
                              bool initial, double randomFactor)
{
    const double kMinTime = 5.0;
    const double kSenderFraction = 0.25;
    const double kReceiverFraction = 1.0 - kSenderFraction;
    const double kCompensation = 2.71828 - 1.5;

    double minTime = initial ? kMinTime / 2 : kMinTime;
    int n = std::max(members, 1);
    double bandwidth = rtcpBandwidth > 0 ? rtcpBandwidth : 1.0;
    if (senders <= n * kSenderFraction) {
        if (weSent) {
            bandwidth *= kSenderFraction;
            n = senders;
        } else {
            bandwidth *= kReceiverFraction;
            n -= senders;
        }
    }
    double t = averageSize * n / bandwidth;
    if (t < minTime)
        t = minTime;
    t *= std::max(0.5, std::min(1.5, randomFactor));
    return t / kCompensation;
}

const std::string& RtpLayerRtcp::cname()
{
    static std::string name;
    static std::once_flag once;
    std::call_once(once, [] {
        std::string user = "user";
        passwd entry;
        passwd* found = nullptr;
        char buffer[1024];
        if (getpwuid_r(getuid(), &entry, buffer, sizeof(buffer), &found) == 0 && found && found->pw_name)
            user = found->pw_name;
        char host[256] = {};
        if (gethostname(host, sizeof(host) - 1) != 0 || !host[0])
            std::strcpy(host, "localhost");
        name = user + "@" + host;
    });
    return name;
}
