#include "RtpLayerPacket.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<uint8_t> header(uint8_t first, uint8_t second)
{
    return {first, second, 0x12, 0x34, 0xDE, 0xAD, 0xBE, 0xEF, 0x01, 0x02, 0x03, 0x04};
}

std::vector<uint8_t> operator+(std::vector<uint8_t> a, const std::vector<uint8_t>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

} // namespace

TEST(RtpLayerPacketTest, WritesTheFixedHeader)
{
    uint8_t h[12];
    RtpLayerPacket::writeHeader(h, 14, true, 0xFFFF, 0xFFFFFFF0u, 0xCAFEBABEu);
    const std::vector<uint8_t> expected{0x80, 0x8E, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xF0, 0xCA, 0xFE, 0xBA, 0xBE};
    EXPECT_EQ(std::vector<uint8_t>(h, h + 12), expected);
    RtpLayerPacket::writeHeader(h, 0, false, 1, 2, 3);
    EXPECT_EQ(h[0], 0x80);
    EXPECT_EQ(h[1], 0x00);
}

TEST(RtpLayerPacketTest, ReceiveParserTable)
{
    const std::vector<uint8_t> payload{0xA1, 0xA2, 0xA3, 0xA4, 0xA5};
    struct Case
    {
        const char* name;
        std::vector<uint8_t> datagram;
        bool valid;
        size_t offset;
        size_t length;
    };
    const std::vector<Case> cases{
        {"plain", header(0x80, 0x00) + payload, true, 12, 5},
        {"marker and PT 8", header(0x80, 0x88) + payload, true, 12, 5},
        {"two CSRCs", header(0x82, 0x00) + std::vector<uint8_t>(8, 0x11) + payload, true, 20, 5},
        {"CSRC list past the end", header(0x83, 0x00) + std::vector<uint8_t>(8, 0x11), false, 0, 0},
        {"extension of one word", header(0x90, 0x00) + std::vector<uint8_t>{0xBE, 0xDE, 0x00, 0x01, 1, 2, 3, 4} + payload,
         true, 20, 5},
        {"extension header cut", header(0x90, 0x00) + std::vector<uint8_t>{0xBE, 0xDE}, false, 0, 0},
        {"extension longer than datagram", header(0x90, 0x00) + std::vector<uint8_t>{0xBE, 0xDE, 0x00, 0x09, 1, 2}, false,
         0, 0},
        {"padding of 3", header(0xA0, 0x00) + payload + std::vector<uint8_t>{0, 0, 3}, true, 12, 5},
        {"padding count 0", header(0xA0, 0x00) + payload + std::vector<uint8_t>{0}, false, 0, 0},
        {"padding longer than payload", header(0xA0, 0x00) + std::vector<uint8_t>{1, 2, 9}, false, 0, 0},
        {"padding is the whole payload", header(0xA0, 0x00) + std::vector<uint8_t>{0, 0, 3}, true, 12, 0},
        {"truncated header", std::vector<uint8_t>{0x80, 0x00, 0x12, 0x34, 0xDE, 0xAD, 0xBE, 0xEF, 1, 2, 3}, false, 0, 0},
        {"empty", {}, false, 0, 0},
        {"version 1", header(0x40, 0x00) + payload, false, 0, 0},
        {"version 3", header(0xC0, 0x00) + payload, false, 0, 0},
        {"RTCP SR on the RTP port", header(0x80, 200) + payload, false, 0, 0},
        {"RTCP BYE on the RTP port", header(0x81, 203) + payload, false, 0, 0},
        {"RTCP APP on the RTP port", header(0x80, 204) + payload, false, 0, 0},
        {"PT 72 without marker", header(0x80, 72) + payload, true, 12, 5},
        {"empty payload", header(0x80, 0x00), true, 12, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RtpLayerPacket packet;
        const bool ok = RtpLayerPacket::parse(c.datagram.data(), c.datagram.size(), packet);
        ASSERT_EQ(ok, c.valid);
        if (!ok)
            continue;
        EXPECT_EQ(packet.payloadOffset, c.offset);
        EXPECT_EQ(packet.payloadLength, c.length);
        EXPECT_EQ(packet.sequenceNumber, 0x1234);
        EXPECT_EQ(packet.timestamp, 0xDEADBEEFu);
        EXPECT_EQ(packet.ssrc, 0x01020304u);
        EXPECT_EQ(packet.marker, (c.datagram[1] & 0x80) != 0);
        EXPECT_EQ(packet.payloadType, c.datagram[1] & 0x7F);
    }
}
