// The search and the device commands against two simulated devices (netns-run.sh).

#include "RDThread.h"
#include "TestDeviceSim.h"
#include "TestSupport.h"
#include "ZAVeze.h"
#include "ZAVezeFrame.h"
#include "ZAVezeTestWorker.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

namespace {

const QString kMacA = QStringLiteral("02:00:5e:00:00:0a");
const QString kMacB = QStringLiteral("02:00:5e:00:00:0b");

ZAVezeDevice device(const char* macHex, const char* ipHex)
{
    ZAVezeDevice d;
    d.mac = QByteArray::fromHex(macHex);
    d.ip = QByteArray::fromHex(ipHex);
    return d;
}

const ZAVezeDevice kDeviceA = device("02005e00000a", "c000020a");
const ZAVezeDevice kDeviceB = device("02005e00000b", "c000020b");

double secondsSince(std::chrono::steady_clock::time_point t0)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// The requests the simulator logged with this method, oldest first.
QList<QJsonObject> requests(const QString& method)
{
    QList<QJsonObject> found;
    for (const QJsonObject& entry : TestDeviceSim::log())
        if (entry.value("body").toObject().value("method").toString() == method)
            found.append(entry);
    return found;
}

class ZAVezeCommands : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const QString reason = TestDeviceSim::unavailableReason();
        SONARIS_REQUIRE_PEER(reason.isEmpty(), reason.toStdString());
        ASSERT_TRUE(TestDeviceSim::reset());
        ASSERT_TRUE(TestDeviceSim::clearLog());
        for (const RDSystemNetwork& network : RDSystemNetwork::networks())
            if (network.name() == TestDeviceSim::interfaceName())
                tool.setNetwork(network);
        tool.start();
        tool.beginJob();
        ASSERT_TRUE(pumpUntil([&] { return tool.isOpen(); }, 5000));
    }

    QVector<ZAVezeDevice> search(double seconds = 1.0)
    {
        QVector<ZAVezeDevice> devices;
        const int count = runOnWorker([&] { return tool.search(devices, seconds); });
        EXPECT_EQ(count, devices.size());
        return devices;
    }

    static const ZAVezeDevice* find(const QVector<ZAVezeDevice>& devices, const ZAVezeDevice& wanted)
    {
        for (const ZAVezeDevice& d : devices)
            if (d.compare(wanted) == 0)
                return &d;
        return nullptr;
    }

    template <typename F>
    int run(F command)
    {
        return runOnWorker([&] { return command(); });
    }

    ZAVeze tool;
};

} // namespace

TEST_F(ZAVezeCommands, SearchFindsBothDevicesWithTheirLines)
{
    const QVector<ZAVezeDevice> devices = search();
    ASSERT_EQ(devices.size(), 2);
    const ZAVezeDevice* a = find(devices, kDeviceA);
    const ZAVezeDevice* b = find(devices, kDeviceB);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->ip, kDeviceA.ip);
    EXPECT_EQ(a->name(), QString("Hall speaker"));
    EXPECT_EQ(a->outVolume(), 70);
    ASSERT_EQ(a->sip.size(), 2);
    EXPECT_EQ(a->sip[0].account, QString("100"));
    EXPECT_EQ(a->sip[0].expires, QString("3600"));
    EXPECT_EQ(a->sip[1].expires, QString("1800"));
    EXPECT_EQ(a->rtp, (QVector<QString>{"239.255.0.1:8000", "239.255.0.2:8002", "239.255.0.3:8004"}));
    ASSERT_EQ(b->sip.size(), 2);
    EXPECT_EQ(b->sip[0].protocol, QString("TCP"));
    EXPECT_EQ(b->sip[1].account, QString());
    EXPECT_EQ(b->sip[1].expires, QString("0"));
    EXPECT_EQ(b->rtp, (QVector<QString>{"239.255.0.9:9000"}));

    // The three broadcasts, "user" and "alarmTest" byte for byte.
    const QList<QJsonObject> searches = requests("search");
    ASSERT_FALSE(searches.isEmpty());
    const QJsonObject body = searches.first().value("body").toObject();
    EXPECT_EQ(body.value("user").toString(), QString("Windows Ravlix"));
    EXPECT_EQ(body.value("alarmTest").toString(), QString("enable"));
    EXPECT_TRUE(searches.first().value("hex").toString().startsWith("ffffffffffff"));
    const int id = body.value("id").toInt();
    ASSERT_FALSE(requests("GetSipSettings").isEmpty());
    ASSERT_FALSE(requests("GetRtpSettings").isEmpty());
    EXPECT_EQ(requests("GetSipSettings").first().value("body").toObject().value("id").toInt(), id + 1);
    EXPECT_EQ(requests("GetRtpSettings").first().value("body").toObject().value("id").toInt(), id + 2);
}

TEST_F(ZAVezeCommands, DuplicateAndEarlyRepliesStillListEachDeviceOnceWithItsLists)
{
    ASSERT_TRUE(TestDeviceSim::fault("search", {{"duplicate", true}, {"settingsFirst", true}}, 1, kMacA));
    ASSERT_TRUE(TestDeviceSim::fault("search", {{"duplicate", true}}, 1, kMacB));
    const QVector<ZAVezeDevice> devices = search();
    ASSERT_EQ(devices.size(), 2);
    const ZAVezeDevice* a = find(devices, kDeviceA);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->sip.size(), 2);
    EXPECT_EQ(a->rtp.size(), 3);
}

TEST_F(ZAVezeCommands, EveryCommandSendsItsMembers)
{
    ZAVezeSipInfo sip;
    sip.serverHost = "192.0.2.200";
    sip.serverPort = "5060";
    sip.protocol = "UDP";
    sip.displayName = "Lobby";
    sip.authName = "101";
    sip.account = "101";
    sip.password = "secret";
    sip.expires = "300";
    sip.proxyStatus = "0";
    const struct {
        const char* method;
        std::function<int()> command;
        QJsonObject members;
    } cases[] = {
        {"PlayVolume", [&] { return tool.playVolume(kDeviceA); }, {}},
        {"SetAccountPassword", [&] { return tool.setAccountPassword(kDeviceA, "root", "pw"); },
         {{"account", "root"}, {"password", "pw"}}},
        {"SetIp", [&] { return tool.setIpDhcp(kDeviceB); }, {{"IpMode", "dhcp"}}},
        {"SetMac", [&] { return tool.setMac(kDeviceA, "02:00:5E:00:00:0A"); }, {{"mac", "02:00:5E:00:00:0A"}}},
        {"SetName", [&] { return tool.setName(kDeviceA, "Lobby"); }, {{"name", "Lobby"}}},
        {"SetRtpSettings", [&] { return tool.setRtpSettings(kDeviceA, {"239.1.1.1:5000", ""}); },
         {{"rtp0", QJsonObject{{"enable", 1}, {"rtpIp", "239.1.1.1"}, {"rtpPort", "5000"}}},
          {"rtp1", QJsonObject{{"enable", 1}, {"rtpIp", ""}, {"rtpPort", ""}}}}},
        {"SetSipSettings", [&] { return tool.setSipSettings(kDeviceA, 0, sip); },
         {{"sip0", QJsonObject{{"serverHost", "192.0.2.200"}, {"serverPort", "5060"}, {"account", "101"},
                               {"authName", "101"}, {"password", "secret"}, {"displayName", "Lobby"},
                               {"expires", "300"}, {"proxyStatus", "0"}, {"proxyHost", ""}, {"proxyPort", ""}}}}},
        {"SetDeviceVolume", [&] { return tool.setDeviceVolume(kDeviceA, 11, 22, 1); },
         {{"micVolume", 11}, {"outVolume", 22}, {"autoMute", 1}}},
        {"ResetDefault", [&] { return tool.resetDefault(kDeviceA); }, {}},
        {"reboot", [&] { return tool.reboot(kDeviceA); }, {}},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(TestDeviceSim::clearLog());
        EXPECT_EQ(run(c.command), 0) << c.method;
        const QList<QJsonObject> sent = requests(c.method);
        ASSERT_EQ(sent.size(), 1) << c.method;
        QJsonObject body = sent.first().value("body").toObject();
        EXPECT_TRUE(sent.first().value("canonical").toBool()) << c.method;
        body.remove("id");
        body.remove("method");
        EXPECT_EQ(body, c.members) << c.method << ": " << QJsonDocument(body).toJson().constData();
    }
    // The device took the address request; the static form carries all five texts.
    ASSERT_TRUE(TestDeviceSim::clearLog());
    EXPECT_EQ(run([&] { return tool.setIpStatic(kDeviceB, "192.0.2.11", "255.255.255.0", "192.0.2.254", "192.0.2.53", ""); }), 0);
    const QJsonObject body = requests("SetIp").value(0).value("body").toObject();
    EXPECT_EQ(body.value("IpMode").toString(), QString("static"));
    EXPECT_EQ(body.value("dns1").toString(), QString("192.0.2.53"));
    EXPECT_TRUE(body.contains("dns2"));
}

TEST_F(ZAVezeCommands, RepliesDecideTheResult)
{
    const struct {
        const char* name;
        QJsonObject fault;
        int expected;
    } cases[] = {
        {"SUCCESS", {{"result", "SUCCESS"}}, 0},
        {"fail", {{"result", "fail"}}, -1},
        {"result 0", {{"result", 0}}, -1},
        {"no result", {{"result", QJsonValue::Null}}, -1},
        {"string id and other-case method", {{"stringId", true}, {"methodCase", true}}, 0},
        {"foreign reply first", {{"foreignFirst", true}}, 0},
        {"reply for another adapter", {{"targetIp", "192.0.2.99"}}, -1},
        {"padded frame", {{"pad", true}}, -1},
        {"zero byte after the object", {{"zeroByte", true}}, 0},
        {"array", {{"body", "[]"}}, -1},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(TestDeviceSim::fault("SetName", c.fault, 1, kMacA));
        const double seconds = c.expected == 0 ? 3.0 : 0.5;
        EXPECT_EQ(run([&] { return tool.request(kDeviceA.mac, kDeviceA.ip, "SetName", {{"name", "x"}}, nullptr, seconds); }),
                  c.expected)
            << c.name;
        TestDeviceSim::clear();
    }
}

TEST_F(ZAVezeCommands, NoReplyFailsAfterTheCommandTime)
{
    ASSERT_TRUE(TestDeviceSim::fault("SetName", {{"drop", true}}, 1, kMacA));
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(run([&] { return tool.setName(kDeviceA, "x"); }), -1);
    const double seconds = secondsSince(t0);
    EXPECT_GE(seconds, 2.9);
    EXPECT_LT(seconds, 15.0);
}

TEST_F(ZAVezeCommands, RefusedArgumentsSendNothing)
{
    EXPECT_EQ(tool.setSipSettings(kDeviceA, 2, ZAVezeSipInfo()), -1);
    QVector<QString> eleven(11, QStringLiteral("239.1.1.1:5000"));
    EXPECT_EQ(tool.setRtpSettings(kDeviceA, eleven), -1);
    EXPECT_EQ(run([&] { return tool.playVolume(kDeviceA); }), 0); // something that is sent, as a marker
    EXPECT_TRUE(requests("SetSipSettings").isEmpty());
    EXPECT_TRUE(requests("SetRtpSettings").isEmpty());
}

TEST_F(ZAVezeCommands, ChangesShowInTheNextSearch)
{
    ASSERT_EQ(run([&] { return tool.setName(kDeviceA, "Renamed"); }), 0);
    ASSERT_EQ(run([&] { return tool.setRtpSettings(kDeviceA, {"239.9.9.9:7000", "239.9.9.10:7002"}); }), 0);
    ASSERT_EQ(run([&] {
                  return tool.setIpStatic(kDeviceB, "192.0.2.77", "255.255.255.0", "192.0.2.254", "", "");
              }),
              0);
    const QVector<ZAVezeDevice> devices = search();
    ASSERT_EQ(devices.size(), 2);
    const ZAVezeDevice* a = find(devices, kDeviceA);
    const ZAVezeDevice* b = find(devices, kDeviceB);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->name(), QString("Renamed"));
    // The device reports the ports as the set request wrote them: as strings.
    EXPECT_EQ(a->rtp, (QVector<QString>{"239.9.9.9:7000", "239.9.9.10:7002"}));
    EXPECT_EQ(b->ipAddress(), QString("192.0.2.77"));
    EXPECT_EQ(b->ipMode(), QString("static"));
    EXPECT_EQ(b->ip, QByteArray::fromHex("c000024d")); // it answers from its new address
}

TEST_F(ZAVezeCommands, CancelDuringASearchReturnsWhatWasCollected)
{
    QVector<ZAVezeDevice> devices;
    int count = -2;
    const auto t0 = std::chrono::steady_clock::now();
    std::thread canceller([&] {
        RDThread::msleep(700);
        tool.cancel();
    });
    count = runOnWorker([&] { return tool.search(devices, 10.0); });
    canceller.join();
    EXPECT_LT(secondsSince(t0), 5.0);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(devices.size(), 2);
}

TEST_F(ZAVezeCommands, CancelDuringACommandFailsItEarly)
{
    ASSERT_TRUE(TestDeviceSim::fault("SetName", {{"drop", true}}, 1, kMacA));
    const auto t0 = std::chrono::steady_clock::now();
    std::thread canceller([&] {
        RDThread::msleep(200);
        tool.cancel();
    });
    EXPECT_EQ(run([&] { return tool.setName(kDeviceA, "x"); }), -1);
    canceller.join();
    EXPECT_LT(secondsSince(t0), 2.5); // the command's own time is 3 s
}

TEST_F(ZAVezeCommands, CancelBetweenTwoCommandsStopsTheSecond)
{
    EXPECT_EQ(run([&] { return tool.reboot(kDeviceB); }), 0);
    tool.cancel(); // the operator closes "Reboot All" between two devices
    EXPECT_EQ(run([&] { return tool.reboot(kDeviceA); }), -1);
    RDThread::msleep(200);
    const QList<QJsonObject> reboots = requests("reboot");
    ASSERT_EQ(reboots.size(), 1);
    EXPECT_EQ(reboots.first().value("identity").toString(), kMacB);
    // A new job works again.
    tool.beginJob();
    EXPECT_EQ(run([&] { return tool.playVolume(kDeviceA); }), 0);
}

TEST_F(ZAVezeCommands, ALateReplyFailsItsCommandAndNotTheNext)
{
    ASSERT_TRUE(TestDeviceSim::fault("SetName", {{"delay", 3.5}}, 1, kMacA));
    EXPECT_EQ(run([&] { return tool.setName(kDeviceA, "late"); }), -1);
    // The next command runs while the late reply arrives.
    ZAVezeReply reply;
    const auto t0 = std::chrono::steady_clock::now();
    while (secondsSince(t0) < 1.5) {
        ASSERT_EQ(run([&] { return tool.request(kDeviceA.mac, kDeviceA.ip, "PlayVolume", {}, &reply); }), 0);
        EXPECT_EQ(reply.method(), QString("PlayVolume"));
    }
}
