#include "RtpLayerPacket.h"

#include <arpa/inet.h>

namespace {

uint16_t read16(const uint8_t* p)
{
    return uint16_t((p[0] << 8) | p[1]);
}

uint32_t read32(const uint8_t* p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

void write32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

} // namespace

std::string RtpLayerPacket::sourceIp() const
{
    in_addr address;
    address.s_addr = htonl(sourceAddress);
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, text, sizeof(text));
    return text;
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
        header += 4 + size_t(read16(datagram + header + 2)) * 4;
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
    out.sequenceNumber = read16(datagram + 2);
    out.timestamp = read32(datagram + 4);
    out.ssrc = read32(datagram + 8);
    return true;
}

void RtpLayerPacket::writeHeader(uint8_t* header, uint8_t payloadType, bool marker, uint16_t sequenceNumber,
                                 uint32_t timestamp, uint32_t ssrc)
{
    header[0] = 0x80;
    header[1] = uint8_t((marker ? 0x80 : 0) | (payloadType & 0x7F));
    header[2] = uint8_t(sequenceNumber >> 8);
    header[3] = uint8_t(sequenceNumber);
    write32(header + 4, timestamp);
    write32(header + 8, ssrc);
}
