// Feeds arbitrary datagrams to the receive parsers: the RTP header check and the RTCP compound
// walk, and through them the reception statistics.
#include "RtpLayerPacket.h"
#include "RtpLayerReceiveStats.h"
#include "RtpLayerRtcp.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static RtpLayerReceiveStats stats;
    RtpLayerPacket packet;
    if (RtpLayerPacket::parse(data, size, packet)) {
        if (packet.payloadOffset + packet.payloadLength > size)
            __builtin_trap();
        volatile uint8_t sink = 0;
        for (size_t i = 0; i < packet.payloadLength; ++i)
            sink = sink ^ data[packet.payloadOffset + i];
        stats.onPacket(packet.ssrc, packet.sequenceNumber, packet.timestamp, packet.timestamp ^ 0x5A5A);
    }
    RtpLayerRtcp::readSenderReports(data, size, [](uint32_t ssrc, uint32_t ntpMiddle) {
        stats.onSenderReport(ssrc, ntpMiddle, 1.0);
    });
    RtpLayerRtcp::ReportBlock block;
    stats.takeReportBlock(2.0, block);
    return 0;
}
