#include "ZAVezeStaticAddressPlan.h"

#include <QSet>
#include <QStringList>

#include <gtest/gtest.h>

namespace {

struct PlanCase
{
    const char* ip;
    const char* netmask;
    int count;
    bool ok;
    QStringList ips;
};

ZAVezeIpInfo typed(const QString& ip, const QString& netmask)
{
    ZAVezeIpInfo info;
    info.mode = "Static";
    info.ip = ip;
    info.netmask = netmask;
    info.gateway = "192.168.1.1";
    info.dns1 = "192.168.1.2";
    info.dns2 = "";
    return info;
}

TEST(ZAVezeStaticAddressPlan, GivesConsecutiveHostAddressesOrRefuses)
{
    const PlanCase cases[] = {
        {"192.168.1.20", "255.255.255.0", 3, true, {"192.168.1.20", "192.168.1.21", "192.168.1.22"}},
        {"192.168.1.20", "255.255.255.0", 1, true, {"192.168.1.20"}},
        {"192.168.1.252", "255.255.255.0", 3, true, {"192.168.1.252", "192.168.1.253", "192.168.1.254"}},
        // The old counting gave .254, .255, .255: a broadcast address and a repeat.
        {"192.168.1.253", "255.255.255.0", 3, false, {}},
        {"192.168.1.254", "255.255.255.0", 2, false, {}},
        // The network and broadcast addresses are never handed out, not even to the first device.
        {"192.168.1.0", "255.255.255.0", 1, false, {}},
        {"192.168.1.255", "255.255.255.0", 1, false, {}},
        // A wider subnet carries into the third number instead of stopping at .255.
        {"10.0.0.254", "255.255.0.0", 3, true, {"10.0.0.254", "10.0.0.255", "10.0.1.0"}},
        {"10.0.255.253", "255.255.0.0", 3, false, {}},
        // A /30 has two host addresses.
        {"172.16.0.1", "255.255.255.252", 2, true, {"172.16.0.1", "172.16.0.2"}},
        {"172.16.0.1", "255.255.255.252", 3, false, {}},
        {"192.168.1.", "255.255.255.0", 1, false, {}},
        {"", "255.255.255.0", 2, false, {}},
    };
    for (const PlanCase& c : cases) {
        SCOPED_TRACE(QStringLiteral("%1/%2 x%3").arg(c.ip, c.netmask).arg(c.count).toStdString());
        QVector<ZAVezeIpInfo> addresses{typed("9.9.9.9", "255.0.0.0")};
        EXPECT_EQ(ZAVezeStaticAddressPlan::plan(typed(c.ip, c.netmask), c.count, &addresses), c.ok);
        QStringList ips;
        QSet<QString> seen;
        for (const ZAVezeIpInfo& info : addresses) {
            ips << info.ip;
            seen.insert(info.ip);
            EXPECT_TRUE(info.isHostAddress()) << info.ip.toStdString();
            EXPECT_EQ(info.mode, "Static");
            EXPECT_EQ(info.netmask, c.netmask);
            EXPECT_EQ(info.gateway, "192.168.1.1");
            EXPECT_EQ(info.dns1, "192.168.1.2");
            EXPECT_EQ(info.dns2, "");
        }
        EXPECT_EQ(ips, c.ips);
        EXPECT_EQ(seen.size(), ips.size());
    }
}

} // namespace
