#include "RDMemoryData.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

std::string readAll(RDData& data)
{
    std::string out(static_cast<size_t>(data.size()), '\0');
    out.resize(static_cast<size_t>(data.read(&out[0], static_cast<int>(out.size()))));
    return out;
}

} // namespace

TEST(RDMemoryData, UnreadBytesMoveToTheFrontInsteadOfGrowing)
{
    RDMemoryData data(4096);
    std::string bytes(4096, '\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 7);
    ASSERT_EQ(data.write(bytes.data(), 4096), 4096);
    std::string sink(4000, '\0');
    ASSERT_EQ(data.read(&sink[0], 4000), 4000);
    EXPECT_EQ(sink, bytes.substr(0, 4000));
    const std::string more(100, 'm');
    ASSERT_EQ(data.write(more.data(), 100), 100);
    EXPECT_EQ(data.capacity(), 4096);
    EXPECT_EQ(data.size(), 196);
    EXPECT_EQ(readAll(data), bytes.substr(4000) + more);
    EXPECT_TRUE(data.isEmpty());
}

TEST(RDMemoryData, GrowthTable)
{
    struct Step
    {
        int write;
        int capacityAfter;
    };
    RDMemoryData data(0);
    EXPECT_EQ(data.capacity(), 0);
    const Step steps[] = {{3, 4}, {10, 16}, {3, 16}, {1, 32}, {100, 128}};
    std::string expected;
    for (const Step& s : steps) {
        const std::string piece(static_cast<size_t>(s.write), static_cast<char>('a' + expected.size() % 26));
        EXPECT_EQ(data.write(piece.data(), s.write), s.write);
        expected += piece;
        EXPECT_EQ(data.capacity(), s.capacityAfter) << "after writing " << s.write;
    }
    EXPECT_EQ(readAll(data), expected);
}

TEST(RDMemoryData, ReserveKeepsTheUnreadBytes)
{
    RDMemoryData data(8);
    data.write("abcdef", 6);
    char two[2];
    data.read(two, 2);
    EXPECT_EQ(data.reserve(16), 16);
    EXPECT_EQ(std::string(data.data(), static_cast<size_t>(data.size())), "cdef");
    EXPECT_EQ(data.reserve(2), 2);
    EXPECT_EQ(readAll(data), "cd");
    EXPECT_EQ(data.reserve(0), 0);
    EXPECT_TRUE(data.isEmpty());
    EXPECT_EQ(data.write("x", 1), 1);
    EXPECT_EQ(readAll(data), "x");
}

TEST(RDMemoryData, RefusedWritesLeaveTheStoreUnchanged)
{
    RDMemoryData data(16);
    data.write("keep", 4);
    EXPECT_EQ(data.write("x", -1), -1);
    EXPECT_EQ(data.write(nullptr, 3), -1);
    // Far beyond the cap: refused before the data pointer is touched.
    EXPECT_EQ(data.write("x", INT_MAX), -1);
    EXPECT_EQ(data.write("x", RDMemoryData::kMaxCapacity), -1);
    EXPECT_EQ(data.reserve(INT_MAX), -1);
    EXPECT_EQ(data.capacity(), 16);
    EXPECT_EQ(data.write(nullptr, 0), 0);
    EXPECT_EQ(readAll(data), "keep");
}

TEST(RDMemoryData, SkipAndReadCounts)
{
    RDMemoryData data;
    data.write("hello world", 11);
    EXPECT_EQ(data.skip(6), 6);
    EXPECT_EQ(data.skip(0), 0);
    EXPECT_EQ(data.skip(-3), 0);
    char buffer[32];
    EXPECT_EQ(data.read(buffer, 32), 5);
    EXPECT_EQ(std::string(buffer, 5), "world");
    EXPECT_EQ(data.read(buffer, 32), 0);
    EXPECT_EQ(data.skip(5), 0);
}
