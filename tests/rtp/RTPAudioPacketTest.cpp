#include "RTPAudioPacket.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

TEST(RTPAudioPacketTest, NewPacketIsEmptyWithUnsetPayloadType)
{
    RTPAudioPacket p;
    EXPECT_EQ(p.data, nullptr);
    EXPECT_EQ(p.capacity, 0);
    EXPECT_EQ(p.length, 0);
    EXPECT_EQ(p.duration, 0.0);
    EXPECT_EQ(p.sampleRate, 0);
    EXPECT_EQ(p.channels, 0);
    EXPECT_EQ(p.payloadType, -1);
}

struct PayloadCase
{
    const char* name;
    int payloadType;
    std::vector<unsigned char> bytes;
    int expectedLength;
    int frameOffset;   // where the given bytes start in the packet
};

class RTPAudioPacketPayloadTest : public ::testing::TestWithParam<PayloadCase>
{
};

TEST_P(RTPAudioPacketPayloadTest, CarriesExactlyOneMp3Header)
{
    const PayloadCase& c = GetParam();
    RTPAudioPacket p;
    p.payloadType = c.payloadType;
    p.setPayload(c.bytes.data(), int(c.bytes.size()));
    ASSERT_EQ(p.length, c.expectedLength);
    for (int i = 0; i < c.frameOffset; ++i)
        EXPECT_EQ(p.data[i], 0) << i;
    for (size_t i = 0; i < c.bytes.size(); ++i)
        ASSERT_EQ(p.data[c.frameOffset + int(i)], c.bytes[i]) << i;
}

std::vector<unsigned char> mp3Frame(int size)
{
    std::vector<unsigned char> frame(size_t(size), 0x55);
    frame[0] = 0xFF;
    frame[1] = 0xFB;
    return frame;
}

std::vector<unsigned char> withHeader(const std::vector<unsigned char>& frame)
{
    std::vector<unsigned char> headed(4 + frame.size(), 0);
    std::copy(frame.begin(), frame.end(), headed.begin() + 4);
    return headed;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RTPAudioPacketPayloadTest,
    ::testing::Values(PayloadCase{"mp3_frame_gets_header", 14, mp3Frame(417), 421, 4},
                      PayloadCase{"mp3_with_header_kept", 14, withHeader(mp3Frame(417)), 421, 0},
                      PayloadCase{"pcmu_unchanged", 0, std::vector<unsigned char>(160, 0x7F), 160, 0},
                      PayloadCase{"pcmu_zero_bytes_unchanged", 0, std::vector<unsigned char>(160, 0), 160, 0},
                      PayloadCase{"l16_unchanged", 10, std::vector<unsigned char>(880, 0), 880, 0}),
    [](const ::testing::TestParamInfo<PayloadCase>& info) { return std::string(info.param.name); });

TEST(RTPAudioPacketTest, BufferIsReusedWhenLargeEnough)
{
    RTPAudioPacket p;
    std::vector<unsigned char> big(100, 1), small(50, 2);
    p.setData(big.data(), 100);
    unsigned char* buffer = p.data;
    EXPECT_EQ(p.capacity, 100);
    p.setData(small.data(), 50);
    EXPECT_EQ(p.data, buffer);
    EXPECT_EQ(p.capacity, 100);
    EXPECT_EQ(p.length, 50);
    EXPECT_EQ(p.data[0], 2);
    p.setData(big.data(), 100);
    EXPECT_EQ(p.length, 100);
    p.release();
    EXPECT_EQ(p.data, nullptr);
    EXPECT_EQ(p.capacity, 0);
    EXPECT_EQ(p.length, 0);
}

TEST(RTPAudioPacketTest, BadInputGivesAnEmptyPacket)
{
    RTPAudioPacket p;
    const unsigned char bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    p.setData(bytes, 8);
    p.setData(nullptr, 8);
    EXPECT_EQ(p.length, 0);
    p.setData(bytes, -5);
    EXPECT_EQ(p.length, 0);
    p.payloadType = 14;
    p.setPayload(nullptr, 4);
    EXPECT_EQ(p.length, 0);
    p.setPayload(bytes, 0);
    EXPECT_EQ(p.length, 0);
    p.setPayload(bytes, -1);
    EXPECT_EQ(p.length, 0);
}
