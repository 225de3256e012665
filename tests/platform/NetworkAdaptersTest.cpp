#include "NetworkAdapters.h"

#include <gtest/gtest.h>

TEST(NetworkAdaptersTest, DefaultGatewaysFromTheRouteTable)
{
    // Columns as the kernel prints them; addresses are the hex of the network-order word.
    const QByteArray table =
        "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
        "eth0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"      // default via 192.168.1.1, metric 600
        "eth0\t0001A8C0\t00000000\t0001\t0\t0\t600\t00FFFFFF\t0\t0\t0\n"      // on-link subnet: no gateway
        "wlan0\t00000000\t0100000A\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"     // default via 10.0.0.1
        "eth0\t00000000\t FE01A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"     // lower metric wins: 192.168.1.254
        "eth1\t00000000\t0102A8C0\t0002\t0\t0\t0\t00000000\t0\t0\t0\n"        // not up
        "eth2\t00000000\t00000000\t0001\t0\t0\t0\t00000000\t0\t0\t0\n"        // default without gateway
        "eth3\t0000000A\t0103A8C0\t0003\t0\t0\t0\t000000FF\t0\t0\t0\n"        // not a default route
        "junk line\n"
        "eth4\tZZZZZZZZ\t0104A8C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n";
    const QMap<QString, QStringList> gateways = NetworkAdapters::defaultGateways(table);
    EXPECT_EQ(gateways.value("eth0"), QStringList({"192.168.1.254", "192.168.1.1"}));
    EXPECT_EQ(gateways.value("wlan0"), QStringList({"10.0.0.1"}));
    EXPECT_EQ(gateways.size(), 2);
    EXPECT_TRUE(NetworkAdapters::defaultGateways(QByteArray()).isEmpty());
}

TEST(NetworkAdaptersTest, ParseMac)
{
    EXPECT_EQ(NetworkAdapters::parseMac("02:00:00:00:00:01\n"), QByteArray::fromHex("020000000001"));
    EXPECT_EQ(NetworkAdapters::parseMac("ff:ee:dd:cc:bb:aa"), QByteArray::fromHex("ffeeddccbbaa"));
    EXPECT_EQ(NetworkAdapters::parseMac("00:11:22:33:44:55:66:77").size(), 8);
    EXPECT_TRUE(NetworkAdapters::parseMac("").isEmpty());
    EXPECT_TRUE(NetworkAdapters::parseMac("02:00:00:00:00:1g").isEmpty());
    EXPECT_TRUE(NetworkAdapters::parseMac("02:00:00:00:00:100").isEmpty());
    EXPECT_TRUE(NetworkAdapters::parseMac("02::00").isEmpty());
}
