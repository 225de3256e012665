#include "SipH264.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Sent
{
    std::vector<uint8_t> payload;
    bool marker;
    uint32_t increment;
};

std::vector<Sent> packetize(const std::vector<uint8_t>& unit, uint32_t increment)
{
    std::vector<Sent> sent;
    SipH264::packetize(unit.data(), unit.size(), increment,
                       [&](const uint8_t* payload, size_t length, bool marker, uint32_t inc) {
                           sent.push_back({std::vector<uint8_t>(payload, payload + length), marker, inc});
                       });
    return sent;
}

std::vector<uint8_t> unitOf(size_t size, uint8_t header = 0x65)
{
    std::vector<uint8_t> unit(size);
    unit[0] = header;
    for (size_t i = 1; i < size; ++i)
        unit[i] = static_cast<uint8_t>(i * 7);
    return unit;
}

} // namespace

// A 3000-byte unit: FU-A fragments of 1300, 1300 and 399 bytes of the unit after its header,
// start and end bits, the mark and the increment on the last only.
TEST(SipH264Test, FragmentsLargeUnit)
{
    const std::vector<uint8_t> unit = unitOf(3000);
    const std::vector<Sent> sent = packetize(unit, 3000);
    ASSERT_EQ(sent.size(), 3u);
    const size_t pieces[] = {1300, 1300, 399};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(sent[i].payload.size(), pieces[i] + 2);
        EXPECT_EQ(sent[i].payload[0], (0x65 & 0x60) | 28) << "FU indicator: NRI and type 28";
        EXPECT_EQ(sent[i].payload[1] & 0x1F, 0x65 & 0x1F);
        EXPECT_EQ((sent[i].payload[1] & 0x80) != 0, i == 0) << "start bit";
        EXPECT_EQ((sent[i].payload[1] & 0x40) != 0, i == 2) << "end bit";
        EXPECT_EQ(sent[i].marker, i == 2);
        EXPECT_EQ(sent[i].increment, i == 2 ? 3000u : 0u);
    }
    EXPECT_EQ(sent[1].payload[2], unit[1 + 1300]);

    // Put back together: the rebuilt header, then every byte.
    SipH264::Assembler assembler;
    EXPECT_FALSE(assembler.push(sent[0].payload.data(), sent[0].payload.size()));
    EXPECT_FALSE(assembler.push(sent[1].payload.data(), sent[1].payload.size()));
    ASSERT_TRUE(assembler.push(sent[2].payload.data(), sent[2].payload.size()));
    EXPECT_EQ(std::vector<uint8_t>(assembler.unit(), assembler.unit() + assembler.unitSize()), unit);
}

// Units that fit go whole (RFC 6184 allows no fragment holding a whole unit).
TEST(SipH264Test, SmallUnitsGoWhole)
{
    for (size_t size : {size_t(1), size_t(100), SipH264::kFragmentSize}) {
        const std::vector<Sent> sent = packetize(unitOf(size), 3000);
        ASSERT_EQ(sent.size(), 1u) << size;
        EXPECT_EQ(sent[0].payload.size(), size);
        EXPECT_TRUE(sent[0].marker);
        EXPECT_EQ(sent[0].increment, 3000u);
    }
    EXPECT_TRUE(packetize({}, 3000).empty());
    // Just over: two fragments, never one with both bits.
    const std::vector<Sent> two = packetize(unitOf(SipH264::kFragmentSize + 1), 1);
    ASSERT_EQ(two.size(), 2u);
    EXPECT_EQ(two[0].payload[1] & 0xC0, 0x80);
    EXPECT_EQ(two[1].payload[1] & 0xC0, 0x40);
}

TEST(SipH264Test, Reassembly)
{
    SipH264::Assembler assembler;
    // Single units (1 to 24) pass unchanged; other types are ignored.
    const std::vector<uint8_t> single = {0x41, 1, 2, 3};
    ASSERT_TRUE(assembler.push(single.data(), single.size()));
    EXPECT_EQ(assembler.unit(), single.data());
    const std::vector<uint8_t> stap = {0x18, 0, 1, 0x41};
    EXPECT_TRUE(assembler.push(stap.data(), stap.size()));
    const std::vector<uint8_t> reserved = {0x1E, 1, 2};
    EXPECT_FALSE(assembler.push(reserved.data(), reserved.size()));

    // Start, middle, end: one unit with the header built from indicator and header.
    const std::vector<uint8_t> start = {0x7C, 0x85, 10, 11};
    const std::vector<uint8_t> middle = {0x7C, 0x05, 12};
    const std::vector<uint8_t> end = {0x7C, 0x45, 13, 14};
    EXPECT_FALSE(assembler.push(start.data(), start.size()));
    EXPECT_FALSE(assembler.push(middle.data(), middle.size()));
    ASSERT_TRUE(assembler.push(end.data(), end.size()));
    EXPECT_EQ(std::vector<uint8_t>(assembler.unit(), assembler.unit() + assembler.unitSize()),
              (std::vector<uint8_t>{0x65, 10, 11, 12, 13, 14}));

    // Without its start, a unit is dropped fragment by fragment; a 1-byte fragment is no
    // fragment.
    EXPECT_FALSE(assembler.push(middle.data(), middle.size()));
    EXPECT_FALSE(assembler.push(end.data(), end.size()));
    const std::vector<uint8_t> tiny = {0x7C};
    EXPECT_FALSE(assembler.push(tiny.data(), tiny.size()));

    // A unit growing past its limit is dropped; the next one is assembled again.
    std::vector<uint8_t> big(1402, 0);
    big[0] = 0x7C;
    big[1] = 0x85;
    EXPECT_FALSE(assembler.push(big.data(), big.size()));
    big[1] = 0x05;
    for (size_t sent = 1400; sent <= SipH264::kMaxUnitSize; sent += 1400)
        EXPECT_FALSE(assembler.push(big.data(), big.size()));
    big[1] = 0x45;
    EXPECT_FALSE(assembler.push(big.data(), big.size())) << "the end of a dropped unit";
    EXPECT_GE(assembler.dropped(), 1u);
    EXPECT_FALSE(assembler.push(start.data(), start.size()));
    EXPECT_TRUE(assembler.push(end.data(), end.size()));
}
