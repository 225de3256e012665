#include "RDBigEndian.h"
#include "RDIpv4.h"
#include "RDRandom.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <set>

TEST(RDIpv4, ParseTable)
{
    struct Case
    {
        const char* text;
        bool valid;
        uint32_t address;
    } cases[] = {
        {"1.2.3.4", true, 0x01020304},       {"0.0.0.0", true, 0},           {"255.255.255.255", true, 0xFFFFFFFF},
        {"192.168.001.010", true, 0xC0A8010A}, {"239.255.0.1", true, 0xEFFF0001},
        {"1.2.3", false, 0},                 {"1.2.3.4.5", false, 0},        {"1.2.3.256", false, 0},
        {" 1.2.3.4", false, 0},              {"1.2.3.4 ", false, 0},         {"0x7f.0.0.1", false, 0},
        {"127.1", false, 0},                 {"1.2.3.0004", false, 0},       {"", false, 0},
        {"1..3.4", false, 0},                {"-1.2.3.4", false, 0},
    };
    for (const Case& c : cases) {
        uint32_t address = 0;
        EXPECT_EQ(parseIpv4(c.text, &address), c.valid) << c.text;
        if (c.valid) {
            EXPECT_EQ(address, c.address) << c.text;
        }
    }
}

TEST(RDIpv4, TextBothWays)
{
    EXPECT_EQ(ipv4Text(0x7F000001u), "127.0.0.1");
    EXPECT_EQ(ipv4Text(0xFFFFFFFFu), "255.255.255.255");
    in_addr in;
    in.s_addr = htonl(0xC0A80001u);
    EXPECT_EQ(ipv4Text(in), "192.168.0.1");
}

TEST(RDBigEndian, ReadsWhatItWrites)
{
    uint8_t bytes[6] = {};
    writeBe16(bytes, 0x1234);
    writeBe32(bytes + 2, 0xDEADBEEF);
    const uint8_t expected[6] = {0x12, 0x34, 0xDE, 0xAD, 0xBE, 0xEF};
    EXPECT_EQ(0, memcmp(bytes, expected, sizeof(bytes)));
    EXPECT_EQ(readBe16(bytes), 0x1234);
    EXPECT_EQ(readBe32(bytes + 2), 0xDEADBEEFu);
}

TEST(RDRandom, WordsDiffer)
{
    std::set<uint64_t> seen;
    for (int i = 0; i < 64; ++i)
        seen.insert(randomSeed());
    EXPECT_EQ(seen.size(), 64u);
    uint8_t odd[13] = {};
    randomBytes(odd, sizeof(odd));
    randomBytes(odd, 0);
}
