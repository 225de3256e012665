#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One received RTP packet: the whole datagram, where its payload lies in it, the header fields
// in host order and the address it came from.
class RtpLayerPacket
{
public:
    static constexpr size_t kHeaderSize = 12;

    std::vector<uint8_t> data;   // the whole datagram
    size_t payloadOffset = 0;
    size_t payloadLength = 0;    // without padding
    uint32_t timestamp = 0;
    uint32_t ssrc = 0;
    uint16_t sequenceNumber = 0;
    uint8_t payloadType = 0;
    bool marker = false;
    uint32_t sourceAddress = 0;  // IPv4, host order
    uint16_t sourcePort = 0;

    const uint8_t* payload() const { return data.data() + payloadOffset; }
    std::string sourceIp() const;

    // Checks an RTP datagram and reads its header: at least 12 bytes, version 2, the CSRC list,
    // the header extension and the padding all inside the datagram, and not RTCP (a second
    // byte of 200-204). On success fills the header fields, payloadOffset and payloadLength of
    // out (its data and address are left alone) and returns true.
    static bool parse(const uint8_t* datagram, size_t length, RtpLayerPacket& out);

    // Writes the 12-byte fixed header (version 2; no padding, extension or CSRC).
    static void writeHeader(uint8_t* header, uint8_t payloadType, bool marker, uint16_t sequenceNumber,
                            uint32_t timestamp, uint32_t ssrc);
};
