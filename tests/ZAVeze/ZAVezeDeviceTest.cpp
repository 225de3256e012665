#include "ZAVezeDevice.h"
#include "ZAVezeIpInfo.h"
#include "ZAVezeTestFrames.h"

#include <QJsonDocument>

#include <gtest/gtest.h>

using ZAVezeTestFrames::replyOf;

namespace {

ZAVezeDevice deviceWith(const char* json)
{
    ZAVezeDevice device;
    device.info = QJsonDocument::fromJson(json).object();
    return device;
}

} // namespace

TEST(ZAVezeDevice, GettersTable)
{
    const ZAVezeDevice d = deviceWith(R"({"ip":5,"autoMute":"1","name":"Hall","micVolume":40,"outVolume":"x",
                                          "netmask":true,"gateway":null,"dns1":[1],"IpMode":"static"})");
    EXPECT_EQ(d.ipAddress(), QString("5"));
    EXPECT_EQ(d.autoMute(), 1);
    EXPECT_EQ(d.name(), QString("Hall"));
    EXPECT_EQ(d.micVolume(), 40);
    EXPECT_EQ(d.outVolume(), 0);
    EXPECT_EQ(d.netmask(), QString());
    EXPECT_EQ(d.gateway(), QString());
    EXPECT_EQ(d.dns1(), QString());
    EXPECT_EQ(d.dns2(), QString());
    EXPECT_EQ(d.ipMode(), QString("static"));
    EXPECT_EQ(d.volume(), QString("40,0"));
    bool ok = false;
    EXPECT_EQ(d.value("httpPort", &ok), QString());
    EXPECT_FALSE(ok);
    EXPECT_EQ(d.value("name", &ok), QString("Hall"));
    EXPECT_TRUE(ok);
}

TEST(ZAVezeDevice, SettersWriteStringsAndNumbers)
{
    ZAVezeDevice d = deviceWith(R"({"name":7})");
    d.setName("Yard");
    d.setMicVolume(12);
    EXPECT_TRUE(d.info.value("name").isString());
    EXPECT_TRUE(d.info.value("micVolume").isDouble());
    EXPECT_EQ(d.name(), QString("Yard"));
}

TEST(ZAVezeDevice, SetVolumeTable)
{
    const struct {
        const char* text;
        int mic;
        int out;
    } cases[] = {{"30,40", 30, 40}, {"30", 1, 2}, {"1,2,3", 1, 2}, {"a,b", 0, 0}, {",", 0, 0}, {"", 1, 2}};
    for (const auto& c : cases) {
        ZAVezeDevice d = deviceWith(R"({"micVolume":1,"outVolume":2})");
        d.setVolume(c.text);
        EXPECT_EQ(d.micVolume(), c.mic) << c.text;
        EXPECT_EQ(d.outVolume(), c.out) << c.text;
    }
}

TEST(ZAVezeDevice, SetRtpTakesTheFirstNonEmptyEntry)
{
    ZAVezeDevice d = deviceWith(R"({"rtpInfo":"old"})");
    d.setRtp({"", "239.1.1.1:5000", "239.1.1.2:5002"});
    EXPECT_EQ(d.rtpInfo(), QString("239.1.1.1:5000"));
    EXPECT_EQ(d.rtp.size(), 3);
    d.setRtp({"", ""});
    EXPECT_EQ(d.rtpInfo(), QString("239.1.1.1:5000"));
}

TEST(ZAVezeDevice, SetSipSummaryTable)
{
    const struct {
        const char* account;
        const char* host;
        const char* port;
        const char* summary;
    } cases[] = {
        {"100", "", "5060", "100"},
        {"acc", "host", "port", "acc@host:port"},
        {"", "host", "5060", "host:5060"},
        {"acc", "host", "", "acc@host"},
        {"", "", "5060", ""},
    };
    for (const auto& c : cases) {
        ZAVezeDevice d;
        d.sip.resize(2);
        ZAVezeSipInfo line;
        line.account = c.account;
        line.serverHost = c.host;
        line.serverPort = c.port;
        d.setSip(0, line);
        EXPECT_EQ(d.sipInfo(), QString(c.summary)) << c.account << "@" << c.host << ":" << c.port;
        EXPECT_EQ(d.sip[0].account, QString(c.account));
    }
    ZAVezeDevice d = deviceWith(R"({"sipInfo":"kept"})");
    d.sip.resize(2);
    ZAVezeSipInfo line;
    line.account = "200";
    d.setSip(1, line);
    EXPECT_EQ(d.sip[1].account, QString("200"));
    EXPECT_EQ(d.sipInfo(), QString("kept"));
    ZAVezeDevice empty;
    empty.setSip(0, line);
    EXPECT_TRUE(empty.sip.isEmpty());
    EXPECT_FALSE(empty.info.contains("sipInfo"));
}

TEST(ZAVezeDevice, ParseRtpSettingsTable)
{
    ZAVezeDevice d;
    d.parseRtpSettings(replyOf(R"({
        "rtp0":{"address":"239.0.0.1:1000"},
        "rtp1":{"rtpIP":"239.0.0.2","rtpPort":5004},
        "rtp2":{"rtpIp":"239.0.0.3","rtpPort":"5006"},
        "rtp3":{"rtpIP":"","rtpIp":"239.0.0.4","rtpPort":6000},
        "rtp4":{"rtpIp":"239.0.0.5","rtpPort":"70000"},
        "rtp5":{"rtpIp":"239.0.0.6","rtpPort":"x"},
        "rtp6":{"rtpIp":"239.0.0.7","rtpPort":0},
        "rtp7":{"rtpIp":"","rtpPort":7000},
        "rtp8":"not an object",
        "rtp10":{"address":"never read"}})"));
    EXPECT_EQ(d.rtp, (QVector<QString>{"239.0.0.1:1000", "239.0.0.2:5004", "239.0.0.3:5006", "239.0.0.4:6000"}));
}

TEST(ZAVezeDevice, ParseSipSettingsAlwaysGivesTwoLines)
{
    ZAVezeDevice d;
    d.parseSipSettings(replyOf(R"({"sip0":{"serverHost":"h","serverPort":"5060","account":"100",
                                   "password":"p","expires":3600,"proxyPort":5}})"));
    ASSERT_EQ(d.sip.size(), 2);
    EXPECT_EQ(d.sip[0].serverHost, QString("h"));
    EXPECT_EQ(d.sip[0].account, QString("100"));
    EXPECT_EQ(d.sip[0].expires, QString("3600"));
    EXPECT_EQ(d.sip[0].proxyPort, QString()); // a number where a text belongs
    EXPECT_EQ(d.sip[1].serverHost, QString());
    EXPECT_EQ(d.sip[1].expires, QString("0"));
    d.parseSipSettings(replyOf(R"({"sip0":{"expires":"600"},"sip1":{"expires":"1800"}})"));
    EXPECT_EQ(d.sip[0].expires, QString("600"));
    EXPECT_EQ(d.sip[1].expires, QString("1800"));
}

TEST(ZAVezeDevice, CompareMatchesByMacOnly)
{
    ZAVezeDevice a, b;
    a.mac = QByteArray::fromHex("020000000001");
    a.ip = QByteArray::fromHex("c0a80101");
    b = a;
    b.ip = QByteArray::fromHex("c0a80102");
    EXPECT_EQ(a.compare(b), 0);
    b = a;
    b.mac = QByteArray::fromHex("020000000002"); // factory-fresh devices share an address
    EXPECT_NE(a.compare(b), 0);
}

TEST(ZAVezeIpInfo, NextAddressTable)
{
    const struct {
        const char* ip;
        const char* netmask;
        bool ok;
        const char* next;
    } cases[] = {
        {"192.168.1.9", "255.255.255.0", true, "192.168.1.10"},
        {"192.168.001.009", "255.255.255.0", true, "192.168.1.10"},
        {"192.168.1.253", "255.255.255.0", true, "192.168.1.254"},
        {"192.168.1.254", "255.255.255.0", false, "192.168.1.254"}, // next is the broadcast
        {"192.168.1.255", "255.255.255.0", false, "192.168.1.255"},
        {"192.168.1.255", "255.255.0.0", true, "192.168.2.0"},
        {"192.168.1.9", "", true, "192.168.1.10"}, // a /24 when unreadable
        {"192.168.1.254", "junk", false, "192.168.1.254"},
        {"", "255.255.255.0", false, ""},
        {"1.2.3", "255.255.255.0", false, "1.2.3"},
        {"255.255.255.255", "0.0.0.0", false, "255.255.255.255"},
    };
    for (const auto& c : cases) {
        ZAVezeIpInfo info;
        info.mode = "static";
        info.ip = c.ip;
        info.netmask = c.netmask;
        info.gateway = "192.168.1.1";
        bool ok = !c.ok;
        const ZAVezeIpInfo next = info.nextAddress(&ok);
        EXPECT_EQ(ok, c.ok) << c.ip << "/" << c.netmask;
        EXPECT_EQ(next.ip, QString(c.next)) << c.ip << "/" << c.netmask;
        EXPECT_EQ(next.gateway, info.gateway);
        EXPECT_EQ(next.mode, info.mode);
    }
}

TEST(ZAVezeIpInfo, HostAddressTable)
{
    const struct {
        const char* ip;
        const char* netmask;
        bool host;
    } cases[] = {{"192.168.1.9", "255.255.255.0", true}, {"192.168.1.0", "255.255.255.0", false},
                 {"192.168.1.255", "255.255.255.0", false}, {"192.168.1.255", "255.255.0.0", true},
                 {"x", "255.255.255.0", false}};
    for (const auto& c : cases) {
        ZAVezeIpInfo info;
        info.ip = c.ip;
        info.netmask = c.netmask;
        EXPECT_EQ(info.isHostAddress(), c.host) << c.ip << "/" << c.netmask;
    }
}
