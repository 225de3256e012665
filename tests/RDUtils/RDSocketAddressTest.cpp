#include "RDSocketAddress.h"
#include "RDTcpSocket.h"
#include "RDTcpSocketServer.h"
#include "RDUdpSocket.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>

TEST(RDSocketAddress, DottedQuadTable)
{
    struct Case
    {
        const char* text;
        bool valid;
    } cases[] = {
        {"1.2.3.4", true},       {"0.0.0.0", true},       {"255.255.255.255", true}, {"192.168.001.010", true},
        {"256.1.1.1", false},    {"1.2.3.256", false},    {"-1.2.3.4", false},       {"+1.2.3.4", false},
        {"1.2.3.4x", false},     {"1.2.3.4 ", false},     {" 1.2.3.4", false},       {"1.2.3", false},
        {"1.2.3.4.5", false},    {"1..3.4", false},       {"0x7f.0.0.1", false},     {"1.2.3.0004", false},
        {"", false},             {"localhost", false},    {"127.1", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RDSocketAddress::isDottedQuad(c.text), c.valid) << c.text;
        sockaddr_in in{};
        EXPECT_EQ(RDSocketAddress(c.text, 80).toSockAddr(&in), c.valid || !*c.text ? 0 : -1) << c.text;
    }
    // Leading zeros are decimal, never octal.
    sockaddr_in in{};
    ASSERT_EQ(RDSocketAddress("192.168.001.010", 5000).toSockAddr(&in), 0);
    EXPECT_EQ(ntohl(in.sin_addr.s_addr), 0xC0A8010Au);
    EXPECT_EQ(ntohs(in.sin_port), 5000);
}

TEST(RDSocketAddress, ResolutionTable)
{
    struct Case
    {
        const char* host;
        int result;
        const char* resolved;
    } cases[] = {
        {"1.2.3.4", 0, "1.2.3.4"},
        {"localhost", 0, "127.0.0.1"},
        {"256.1.1.1", -1, nullptr},
        {"-1.2.3.4", -1, nullptr},
        {"1.2.3.4x", -1, nullptr},
        {"127.1", -1, nullptr},          // the resolver's short form is not taken
        {"0x7f.0.0.1", -1, nullptr},     // nor its hex form
        {"no-such-host.invalid", -1, nullptr},
        {"", -1, nullptr},
    };
    for (const Case& c : cases) {
        std::string host = c.host;
        EXPECT_EQ(RDSocketAddress::resolve(host), c.result) << c.host;
        if (c.resolved) {
            EXPECT_EQ(host, c.resolved) << c.host;
        }
    }
}

TEST(RDSocketAddress, PortsOutsideTheRangeAreRefusedNotTruncated)
{
    RDTcpSocketServer server;
    // 70000 would be 4464 once truncated to 16 bits.
    EXPECT_EQ(server.open(RDSocketAddress("127.0.0.1", 70000)), -1);
    EXPECT_FALSE(server.isValid());
    EXPECT_EQ(server.open(RDSocketAddress("127.0.0.1", -1)), -1);

    RDTcpSocket tcp;
    EXPECT_EQ(tcp.bind(RDSocketAddress("127.0.0.1", 70000)), -1);
    EXPECT_EQ(tcp.connect(RDSocketAddress("127.0.0.1", 70000)), -1);
    EXPECT_FALSE(tcp.isValid());

    RDUdpSocket udp;
    EXPECT_EQ(udp.bind(RDSocketAddress("127.0.0.1", 65536)), -1);
    EXPECT_TRUE(udp.isValid());
    EXPECT_EQ(udp.sendTo(RDSocketAddress("127.0.0.1", 70000), "x", 1), -1);
    EXPECT_TRUE(udp.isValid());
}

TEST(RDSocketAddress, FailedResolutionNeverConnects)
{
    RDTcpSocketServer server;
    ASSERT_GE(server.open(RDSocketAddress("127.0.0.1", 0)), 0);
    for (const char* host : {"no-such-host.invalid", "256.0.0.1", "127.0.0.1x", "127.1"}) {
        RDTcpSocket socket;
        EXPECT_EQ(socket.connect(RDSocketAddress(host, server.address().port())), -1) << host;
        EXPECT_FALSE(socket.isValid());
        EXPECT_TRUE(socket.address().isEmpty());
    }
    // Nothing reached the listener.
    EXPECT_EQ(server.waitReadable(0, 20000), 0);
    server.close();
}

TEST(RDSocketAddress, CopyAndClear)
{
    RDSocketAddress a("10.0.0.1", 9);
    RDSocketAddress b;
    b = a;
    const RDSocketAddress& same = b; // self-assignment on purpose, through a name compilers accept
    b = same;
    EXPECT_EQ(b.host(), "10.0.0.1");
    EXPECT_EQ(b.port(), 9);
    EXPECT_EQ(b.toString(), "10.0.0.1:9");
    b.clear();
    EXPECT_TRUE(b.isEmpty());
    EXPECT_EQ(a.port(), 9);
}
