#include "RtpLayerPacket.h"

#include "RDBigEndian.h"
#include "RDIpv4.h"

std::string RtpLayerPacket::sourceIp() const
{
    return ipv4Text(sourceAddress);
}

bool RtpLayerPacket::parse(const uint8_t* datagram, size_t length, RtpLayerPacket& out)
{
    if (!datagram || length < kHeaderSize)
        return false;
    const uint8_t first = datagram[0];
    const uint8_t second = datagram[1];
    if ((first >> 6) != 2)
        return false;
    if (second >= 200 && second <= 204)
        return false;
    size_t header = kHeaderSize + size_t(first & 0x0F) * 4;
    if (header > length)
        return false;
    if (first & 0x10) {
        if (header + 4 > length)
            return false;
        header += 4 + size_t(readBe16(datagram + header + 2)) * 4;
        if (header > length)
            return false;
    }
    size_t padding = 0;
    if (first & 0x20) {
        padding = datagram[length - 1];
        // The count includes its own byte, so 0 is as broken as one reaching into the header.
        if (padding == 0 || padding > length - header)
            return false;
    }
    out.payloadOffset = header;
    out.payloadLength = length - header - padding;
    out.marker = (second & 0x80) != 0;
    out.payloadType = second & 0x7F;
    out.sequenceNumber = readBe16(datagram + 2);
    out.timestamp = readBe32(datagram + 4);
    out.ssrc = readBe32(datagram + 8);
    return true;
}

void RtpLayerPacket::writeHeader(uint8_t* header, uint8_t payloadType, bool marker, uint16_t sequenceNumber,
                                 uint32_t timestamp, uint32_t ssrc)
{
    header[0] = 0x80;
    header[1] = uint8_t((marker ? 0x80 : 0) | (payloadType & 0x7F));
    header[2] = uint8_t(sequenceNumber >> 8);
    header[3] = uint8_t(sequenceNumber);
    writeBe32(header + 4, timestamp);
    writeBe32(header + 8, ssrc);
}
