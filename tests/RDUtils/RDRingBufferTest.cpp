#include "RDRingBuffer.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string readAll(RDRingBuffer& ring)
{
    std::string out(size_t(ring.size()), '\0');
    const int n = ring.read(&out[0], int(out.size()));
    out.resize(size_t(n));
    return out;
}

// Fills a ring of capacity 8 so that its 6 bytes start at position 5 and wrap at the end.
void fillAcrossWrap(RDRingBuffer& ring)
{
    char scratch[5];
    ASSERT_EQ(ring.write("xxxxx", 5), 5);
    ASSERT_EQ(ring.read(scratch, 5), 5);
    ASSERT_EQ(ring.write("abcdef", 6), 6);
}

} // namespace

TEST(RDRingBufferTest, DefaultCapacityIs8192)
{
    RDRingBuffer ring;
    EXPECT_EQ(ring.capacity(), 8192);
    EXPECT_EQ(ring.size(), 0);
}

struct RingCase
{
    const char* name;
    const char* write;       // written after the wrap-around fill
    const char* expected;    // what a full read returns
};

class RDRingBufferWrapTest : public ::testing::TestWithParam<RingCase>
{
};

TEST_P(RDRingBufferWrapTest, ReadsInOrderAcrossTheWrap)
{
    const RingCase& c = GetParam();
    RDRingBuffer ring(8);
    fillAcrossWrap(ring);
    const int n = int(std::string(c.write).size());
    EXPECT_EQ(ring.write(c.write, n), std::min(n, 8));
    EXPECT_EQ(readAll(ring), c.expected);
    EXPECT_EQ(ring.size(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RDRingBufferWrapTest,
    ::testing::Values(RingCase{"six_bytes_from_position_5", "", "abcdef"},
                      RingCase{"two_more_fill_exactly", "gh", "abcdefgh"},
                      RingCase{"overflow_keeps_newest", "ghij", "cdefghij"},
                      RingCase{"write_larger_than_capacity", "0123456789AB", "456789AB"}),
    [](const ::testing::TestParamInfo<RingCase>& info) { return std::string(info.param.name); });

TEST(RDRingBufferTest, PartialReadsContinueWhereTheyStopped)
{
    RDRingBuffer ring(8);
    fillAcrossWrap(ring);
    char part[4] = {0};
    EXPECT_EQ(ring.read(part, 4), 4);
    EXPECT_EQ(std::string(part, 4), "abcd");
    EXPECT_EQ(ring.write("XYZ", 3), 3);
    EXPECT_EQ(readAll(ring), "efXYZ");
}

TEST(RDRingBufferTest, BadArgumentsMoveNothing)
{
    RDRingBuffer ring(8);
    char buffer[8];
    EXPECT_EQ(ring.write(nullptr, 4), 0);
    EXPECT_EQ(ring.write("abc", 0), 0);
    EXPECT_EQ(ring.write("abc", -3), 0);
    EXPECT_EQ(ring.size(), 0);
    ASSERT_EQ(ring.write("abc", 3), 3);
    EXPECT_EQ(ring.read(nullptr, 2), 0);
    EXPECT_EQ(ring.read(buffer, 0), 0);
    EXPECT_EQ(ring.read(buffer, -1), 0);
    EXPECT_EQ(ring.size(), 3);
    // Asking for more than is stored returns what is there.
    EXPECT_EQ(ring.read(buffer, 8), 3);
    EXPECT_EQ(ring.read(buffer, 8), 0);
}

TEST(RDRingBufferTest, ClearKeepsTheBuffer)
{
    RDRingBuffer ring(8);
    fillAcrossWrap(ring);
    ring.clear();
    EXPECT_EQ(ring.size(), 0);
    EXPECT_EQ(ring.capacity(), 8);
    ring.write("12345678", 8);
    EXPECT_EQ(readAll(ring), "12345678");
}

TEST(RDRingBufferTest, ResizeKeepsTheStoredBytesInOrder)
{
    RDRingBuffer ring(8);
    fillAcrossWrap(ring);
    ASSERT_TRUE(ring.resize(16));
    EXPECT_EQ(ring.capacity(), 16);
    ring.write("ghijklmnop", 10);
    EXPECT_EQ(readAll(ring), "abcdefghijklmnop");
}

TEST(RDRingBufferTest, ResizeBelowTheStoredBytesKeepsTheNewest)
{
    RDRingBuffer ring(8);
    fillAcrossWrap(ring);
    ASSERT_TRUE(ring.resize(4));
    EXPECT_EQ(ring.size(), 4);
    EXPECT_EQ(readAll(ring), "cdef");
    EXPECT_FALSE(ring.resize(0));
    EXPECT_EQ(ring.capacity(), 4);
}
