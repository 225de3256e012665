#include "RDIpv4.h"
#include "SipRoutes.h"

#include <arpa/inet.h>

#include <gtest/gtest.h>

namespace {

in_addr address(const char* text)
{
    in_addr out{};
    inet_pton(AF_INET, text, &out);
    return out;
}

} // namespace

// Which masquerade a destination gets: by name and port, by the literal address, by the address
// a name was looked up as; none for another port or no match.
TEST(SipRoutesTest, MasqueradeTable)
{
    SipRoutes routes;
    ASSERT_EQ(routes.masquerade("registrar.test", 5060, "203.0.113.5", 40000), 0);
    ASSERT_EQ(routes.masquerade("127.0.0.9", 0, "203.0.113.9", 40009), 0);
    ASSERT_EQ(routes.masquerade("pbx.test", 0, "203.0.113.7", 40007), 0);
    routes.storeLookup("pbx.test", true, address("127.0.0.8"), 1000);
    // Set again: the later address wins.
    ASSERT_EQ(routes.masquerade("registrar.test", 5060, "203.0.113.6", 40006), 0);

    const struct
    {
        const char* host;
        int port;
        const char* address;
        bool masqueraded;
        const char* ip;
        int natPort;
    } rows[] = {
        {"registrar.test", 5060, "127.0.0.2", true, "203.0.113.6", 40006},
        {"registrar.test", 5061, "127.0.0.2", false, nullptr, 5070},
        {"127.0.0.9", 7000, "127.0.0.9", true, "203.0.113.9", 40009},
        {"other.test", 5060, "127.0.0.9", true, "203.0.113.9", 40009},
        {"127.0.0.8", 5060, "127.0.0.8", true, "203.0.113.7", 40007},
        {"127.0.0.3", 5060, "127.0.0.3", false, nullptr, 5070},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.host) + ":" + std::to_string(row.port));
        in_addr ip{};
        int natPort = 0;
        EXPECT_EQ(routes.localAddressFor(row.host, row.port, address(row.address), 5070, 1000, &ip, &natPort),
                  row.masqueraded);
        EXPECT_EQ(natPort, row.natPort);
        if (row.ip)
            EXPECT_EQ(ipv4Text(ip), row.ip);
        else
            EXPECT_NE(ip.s_addr, 0u) << "the kernel's source address for the destination";
    }
    in_addr ip{};
    int natPort = 0;
    routes.localAddressFor("127.0.0.3", 5060, address("127.0.0.3"), 0, 1000, &ip, &natPort);
    EXPECT_EQ(natPort, 5060) << "not listening: the default port";
}

TEST(SipRoutesTest, Refusals)
{
    SipRoutes routes;
    EXPECT_NE(routes.masquerade(nullptr, 0, "203.0.113.5", 1), 0);
    EXPECT_NE(routes.masquerade("", 0, "203.0.113.5", 1), 0);
    EXPECT_NE(routes.masquerade("a\r\nb", 0, "203.0.113.5", 1), 0);
    EXPECT_NE(routes.masquerade("a", 0, "not an address", 1), 0);
    EXPECT_NE(routes.masquerade("a", 0, "203.0.113.5", 0), 0);
    EXPECT_NE(routes.masquerade("a", 65536, "203.0.113.5", 1), 0);
}

// A lookup is kept 60 s, a failed one 10 s.
TEST(SipRoutesTest, LookupsExpire)
{
    SipRoutes routes;
    routes.storeLookup("ok.test", true, address("127.0.0.5"), 1000);
    routes.storeLookup("bad.test", false, in_addr{}, 1000);
    SipRoutes::Lookup lookup;
    ASSERT_TRUE(routes.cachedLookup("ok.test", 1000 + SipRoutes::kResolvedMs - 1, &lookup));
    EXPECT_TRUE(lookup.ok);
    EXPECT_EQ(ipv4Text(lookup.address), "127.0.0.5");
    EXPECT_FALSE(routes.cachedLookup("ok.test", 1000 + SipRoutes::kResolvedMs, &lookup));
    ASSERT_TRUE(routes.cachedLookup("bad.test", 1000 + SipRoutes::kUnresolvedMs - 1, &lookup));
    EXPECT_FALSE(lookup.ok);
    EXPECT_FALSE(routes.cachedLookup("bad.test", 1000 + SipRoutes::kUnresolvedMs, &lookup));
    EXPECT_FALSE(routes.cachedLookup("never.test", 1000, &lookup));
}
