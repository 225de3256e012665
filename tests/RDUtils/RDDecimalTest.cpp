#include "RDDecimal.h"

#include <gtest/gtest.h>

#include <climits>

TEST(RDDecimal, PortTable)
{
    struct Case
    {
        const char* text;
        int port;
    } cases[] = {
        {"5060", 5060}, {"1", 1},       {"65535", 65535}, {"0", -1},   {"65536", -1}, {"99999", -1},
        {"-1", -1},     {"+5060", -1},  {" 5060", -1},    {"5060 ", -1}, {"5060x", -1}, {"", -1},
        {"0005060", 5060}, {"99999999999999999999999", -1}, {"-", -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(parsePort(c.text), c.port) << c.text;
}

TEST(RDDecimal, RangesAndSigns)
{
    long long value = 7;
    EXPECT_TRUE(parseDecimal("-9223372036854775808", LLONG_MIN, LLONG_MAX, &value));
    EXPECT_EQ(value, LLONG_MIN);
    EXPECT_TRUE(parseDecimal("9223372036854775807", LLONG_MIN, LLONG_MAX, &value));
    EXPECT_EQ(value, LLONG_MAX);
    value = 7;
    EXPECT_FALSE(parseDecimal("9223372036854775808", LLONG_MIN, LLONG_MAX, &value));
    EXPECT_FALSE(parseDecimal("-9223372036854775809", LLONG_MIN, LLONG_MAX, &value));
    // A sign is only read where the range allows negative numbers.
    EXPECT_FALSE(parseDecimal("-0", 0, 10, &value));
    EXPECT_TRUE(parseDecimal("-0", -1, 10, &value));
    EXPECT_EQ(value, 0);
    EXPECT_TRUE(parseDecimal("-5", -10, -1, &value));
    EXPECT_EQ(value, -5);
    EXPECT_FALSE(parseDecimal("5", -10, -1, &value));
    EXPECT_EQ(value, -5); // untouched on failure
    EXPECT_EQ(decimalOr("2147483647", INT_MIN, INT_MAX, 3), INT_MAX);
    EXPECT_EQ(decimalOr("2147483648", INT_MIN, INT_MAX, 3), 3);
    // Only the given length is read: no zero byte needed, none past it looked at.
    const char digits[] = {'1', '2', '3'};
    EXPECT_TRUE(parseDecimal(digits, 2, 0, 100, &value));
    EXPECT_EQ(value, 12);
    EXPECT_FALSE(parseDecimal(nullptr, 0, 0, 1, &value));
}
