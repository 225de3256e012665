#include "ZAVezeDeviceAuthSetDialog.h"
#include "ZAVezeDeviceBeepDialog.h"
#include "ZAVezeDeviceIpSetDialog.h"
#include "ZAVezeDeviceMacSetDialog.h"
#include "ZAVezeDeviceNameSetDialog.h"
#include "ZAVezeDeviceRebootDialog.h"
#include "ZAVezeDeviceRestoreDialog.h"
#include "ZAVezeDeviceRtpSetDialog.h"
#include "ZAVezeDeviceSipSetDialog.h"
#include "ZAVezeDeviceTableWidget.h"
#include "ZAVezeDeviceVolumeSetDialog.h"

#include "DeviceFixtures.h"
#include "GuiTest.h"
#include "RecordingSink.h"
#include "ScriptedTool.h"
#include "ZAVezeFrame.h"

#include <QElapsedTimer>
#include <QJsonValue>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

using Devices = QVector<ZAVezeDevice>;
using Make = std::function<std::unique_ptr<ZAVezeDeviceSetDialog>(ScriptedTool*, ZAVezeDeviceUpdateSink*,
                                                                   const Devices&)>;
using Check = std::function<void(const ZAVezeDevice& updated)>;

ZAVezeSipInfo sipLine(const QString& account)
{
    ZAVezeSipInfo sip;
    sip.serverHost = "10.9.9.9";
    sip.serverPort = "5070";
    sip.account = account;
    return sip;
}

struct JobCase
{
    const char* name;
    Make make;
    // Commands the three devices get, in order (the silent one included).
    QStringList commands;
    bool reports;
    Check check;
};

QString mac(int index)
{
    return ZAVezeFrame::macText(DeviceFixtures::device(index).mac);
}

// The same command for all three devices (%1 their MAC).
QStringList each(const QString& pattern)
{
    return {pattern, pattern, pattern};
}

template <typename Dialog>
std::unique_ptr<Dialog> made(ScriptedTool* tool, ZAVezeDeviceUpdateSink* sink)
{
    return std::make_unique<Dialog>(nullptr, tool, sink);
}

std::vector<JobCase> jobCases()
{
    return {
        {"account",
         [](ScriptedTool* t, ZAVezeDeviceUpdateSink* s, const Devices& d) {
             auto dialog = made<ZAVezeDeviceAuthSetDialog>(t, s);
             dialog->setDevices(d, "root", "s3cret");
             return dialog;
         },
         each("SetAccount %1 root s3cret"), true,
         [](const ZAVezeDevice& u) {
             EXPECT_EQ(u.account(), "root");
             EXPECT_EQ(u.password(), "s3cret");
         }},
        {"dhcp",
         [](ScriptedTool* t, ZAVezeDeviceUpdateSink* s, const Devices& d) {
             auto dialog = made<ZAVezeDeviceIpSetDialog>(t, s);
             dialog->setDevicesDhcp(d);
             return dialog;
         },
         each("SetIpDhcp %1"), true,
         [](const ZAVezeDevice& u) {
             EXPECT_EQ(u.ipMode(), "DHCP");
             EXPECT_EQ(u.ipAddress(), "192.168.1.11");   // kept until the next search
         }},
        {"static",
         [](ScriptedTool* t, ZAVezeDeviceUpdateSink* s, const Devices& d) {
             auto dialog = made<ZAVezeDeviceIpSetDialog>(t, s);
             QVector<ZAVezeIpInfo> list;
             for (int i = 0; i < d.size(); ++i) {
                 ZAVezeIpInfo a;
                 a.ip = QStringLiteral("10.0.0.%1").arg(20 + i);
                 a.netmask = "255.0.0.0";
                 a.gateway = "10.0.0.1";
                 a.dns1 = "10.0.0.2";
                 a.dns2 = "10.0.0.3";
                 list << a;
             }
             EXPECT_TRUE(dialog->setDevicesStatic(d, list));
             return dialog;
         },
         QStringList{"SetIpStatic %1 10.0.0.20 255.0.0.0 10.0.0.1 10.0.0.2 10.0.0.3",
                     "SetIpStatic %1 10.0.0.21 255.0.0.0 10.0.0.1 10.0.0.2 10.0.0.3",
                     "SetIpStatic %1 10.0.0.22 255.0.0.0 10.0.0.1 10.0.0.2 10.0.0.3"},
         true,
         [](const ZAVezeDevice& u) {
             EXPECT_EQ(u.ipMode(), "Static");
             EXPECT_EQ(u.ipAddress(), "10.0.0.20");
             EXPECT_EQ(u.netmask(), "255.0.0.0");
             EXPECT_EQ(u.gateway(), "10.0.0.1");
             EXPECT_EQ(u.dns1(), "10.0.0.2");
             EXPECT_EQ(u.dns2(), "10.0.0.3");
         }},
        {"mac",
         [](ScriptedTool* t, ZAVezeDeviceUpdateSink* s, const Devices& d) {
             auto dialog = made<ZAVezeDeviceMacSetDialog>(t, s);
             EXPECT_TRUE(dialog->setDevices(d, {"AA:00:00:00:00:01", "AA:00:00:00:00:02", "AA:00:00:00:00:03"}));
             return dialog;
         },
         QStringList{"SetMac %1 AA:00:00:00:00:01", "SetMac %1 AA:00:00:00:00:02", "SetMac %1 AA:00:00:00:00:03"},
         true,
         [](const ZAVezeDevice& u) {
             EXPECT_EQ(u.macAddress(), "AA:00:00:00:00:01");
             EXPECT_EQ(u.mac, DeviceFixtures::device(1).mac);   // the raw bytes stay
         }},
        {"name",
         [](ScriptedTool* t, ZAVezeDeviceUpdateSink* s, const Devices& d) {
             auto dialog = made<ZAVezeDeviceNameSetDialog>(t, s);
             EXPECT_TRUE(dialog->setDevices(d, {"Hall", "Yard", "Gate"}));
             return dialog;
         },
         QStringList{"SetName %1 Hall", "SetName %1 Yard", "SetName %1 Gate"}, true,
         [](const ZAVezeDevice& u) { EXPECT_EQ(u.name(), "Hall"); }},
        {"rtp",
         [](ScriptedTool* t, ZAVezeDeviceUpdateSink* s, const Devices& d) {
             auto dialog = made<ZAVezeDeviceRtpSetDialog>(t, s);
             dialog->setDevices(d, {"", "239.1.2.3:9000"});
             return dialog;
         },
         each("SetRtp %1 ,239.1.2.3:9000"), true,
         [](const ZAVezeDevice& u) {
             EXPECT_EQ(u.rtp, (QVector<QString>{"", "239.1.2.3:9000"}));
             EXPECT_EQ(u.rtpInfo(), "239.1.2.3:9000");
         }},
        {"sip line 0",
         [](ScriptedTool* t, ZAVezeDeviceUpdateSink* s, const Devices& d) {
             auto dialog = made<ZAVezeDeviceSipSetDialog>(t, s);
             EXPECT_TRUE(dialog->setDevices(d, 0, {sipLine("201"), sipLine("202"), sipLine("203")}));
             return dialog;
         },
         QStringList{"SetSip %1 0 201@10.9.9.9:5070", "SetSip %1 0 202@10.9.9.9:5070",
                     "SetSip %1 0 203@10.9.9.9:5070"},
         true,
         [](const ZAVezeDevice& u) {
             EXPECT_EQ(u.sip[0].account, "201");
             EXPECT_EQ(u.sipInfo(), "201@10.9.9.9:5070");
         }},
        {"sip line 1",
         [](ScriptedTool* t, ZAVezeDeviceUpdateSink* s, const Devices& d) {
             auto dialog = made<ZAVezeDeviceSipSetDialog>(t, s);
             EXPECT_TRUE(dialog->setDevices(d, 1, {sipLine("301"), sipLine("302"), sipLine("303")}));
             return dialog;
         },
         QStringList{"SetSip %1 1 301@10.9.9.9:5070", "SetSip %1 1 302@10.9.9.9:5070",
                     "SetSip %1 1 303@10.9.9.9:5070"},
         true,
         [](const ZAVezeDevice& u) {
             EXPECT_EQ(u.sip[1].account, "301");
             EXPECT_EQ(u.sip[0].account, "101");
             EXPECT_EQ(u.sipInfo(), "101@192.168.1.2:5060");   // only line 0 is summarised
         }},
        {"volume",
         [](ScriptedTool* t, ZAVezeDeviceUpdateSink* s, const Devices& d) {
             auto dialog = made<ZAVezeDeviceVolumeSetDialog>(t, s);
             dialog->setDevices(d, 3, 9, 1);
             return dialog;
         },
         each("SetVolume %1 3 9 1"), true,
         [](const ZAVezeDevice& u) {
             EXPECT_EQ(u.info.value("micVolume"), QJsonValue(3));
             EXPECT_EQ(u.info.value("outVolume"), QJsonValue(9));
             EXPECT_EQ(u.info.value("autoMute"), QJsonValue(1));
             EXPECT_EQ(u.volume(), "3,9");
         }},
        {"reboot",
         [](ScriptedTool* t, ZAVezeDeviceUpdateSink* s, const Devices& d) {
             auto dialog = made<ZAVezeDeviceRebootDialog>(t, s);
             dialog->setDevices(d);
             return dialog;
         },
         each("Reboot %1"), false, nullptr},
        {"restore",
         [](ScriptedTool* t, ZAVezeDeviceUpdateSink* s, const Devices& d) {
             auto dialog = made<ZAVezeDeviceRestoreDialog>(t, s);
             dialog->setDevices(d);
             return dialog;
         },
         each("ResetDefault %1"), false, nullptr},
    };
}

} // namespace

// Each job against three devices: the first accepts, the second refuses, the third stays silent.
// Every device is commanded once; only the first one's copy gets the values and is reported.
TEST(ZAVezeDeviceSetDialog, EveryJobWritesTheValuesOfTheDevicesThatAccepted)
{
    for (const JobCase& c : jobCases()) {
        SCOPED_TRACE(c.name);
        ScriptedTool tool;
        tool.setSilentSeconds(0.2);
        tool.setOutcome(DeviceFixtures::device(2).mac, ScriptedTool::Fail);
        tool.setOutcome(DeviceFixtures::device(3).mac, ScriptedTool::Silent);
        RecordingSink sink;
        auto dialog = c.make(&tool, &sink, DeviceFixtures::devices(3));
        EXPECT_EQ(dialog->size(), QSize(300, 80));
        EXPECT_EQ(dialog->exec(), QDialog::Accepted);
        QStringList expected;
        for (int i = 0; i < 3; ++i)
            expected << QString(c.commands[i]).arg(mac(i + 1));
        EXPECT_EQ(tool.commands(), expected);
        const QVector<ZAVezeDevice> reported = sink.devices();
        if (!c.reports) {
            EXPECT_TRUE(reported.isEmpty());
            continue;
        }
        ASSERT_EQ(reported.size(), 1);
        EXPECT_EQ(reported[0].mac, DeviceFixtures::device(1).mac);
        c.check(reported[0]);
    }
}

TEST(ZAVezeDeviceSetDialog, NameAndMacJobsWithoutATableChangeTheDevicesOnly)
{
    ScriptedTool tool;
    ZAVezeDeviceNameSetDialog name(nullptr, &tool, nullptr);
    name.setDevice(DeviceFixtures::device(1), "Lobby");
    EXPECT_EQ(name.exec(), QDialog::Accepted);
    ZAVezeDeviceMacSetDialog mac(nullptr, &tool, nullptr);
    mac.setDevice(DeviceFixtures::device(1), "AA:BB:CC:DD:EE:FF");
    EXPECT_EQ(mac.exec(), QDialog::Accepted);
    EXPECT_EQ(tool.commands(), (QStringList{"SetName " + ::mac(1) + " Lobby", "SetMac " + ::mac(1) + " AA:BB:CC:DD:EE:FF"}));
}

TEST(ZAVezeDeviceSetDialog, TheTestToneIsPlayedOnceWhateverTheAnswer)
{
    ScriptedTool tool;
    tool.setOutcome(DeviceFixtures::device(1).mac, ScriptedTool::Fail);
    RecordingSink sink;
    ZAVezeDeviceBeepDialog dialog(nullptr, &tool, &sink);
    dialog.setDevice(DeviceFixtures::device(1));
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_EQ(tool.commands(), QStringList{"PlayVolume " + mac(1)});
    EXPECT_TRUE(sink.devices().isEmpty());
}

TEST(ZAVezeDeviceSetDialog, AnEmptyListEndsAtOnceAccepted)
{
    ScriptedTool tool;
    ZAVezeDeviceRebootDialog dialog(nullptr, &tool, nullptr);
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_TRUE(tool.commands().isEmpty());
}

TEST(ZAVezeDeviceSetDialog, ListsOfAnotherLengthThanTheDevicesAreRefused)
{
    ScriptedTool tool;
    const Devices three = DeviceFixtures::devices(3);
    ZAVezeDeviceIpSetDialog ip(nullptr, &tool, nullptr);
    EXPECT_FALSE(ip.setDevicesStatic(three, QVector<ZAVezeIpInfo>(2)));
    EXPECT_EQ(ip.exec(), QDialog::Accepted);
    ZAVezeDeviceNameSetDialog name(nullptr, &tool, nullptr);
    EXPECT_FALSE(name.setDevices(three, {"a", "b", "c", "d"}));
    EXPECT_EQ(name.exec(), QDialog::Accepted);
    ZAVezeDeviceMacSetDialog mac(nullptr, &tool, nullptr);
    EXPECT_FALSE(mac.setDevices(three, {}));
    EXPECT_EQ(mac.exec(), QDialog::Accepted);
    ZAVezeDeviceSipSetDialog sip(nullptr, &tool, nullptr);
    EXPECT_FALSE(sip.setDevices(three, 0, {ZAVezeSipInfo()}));
    EXPECT_EQ(sip.exec(), QDialog::Accepted);
    EXPECT_TRUE(tool.commands().isEmpty());
}

// A silent device costs the whole command time of the real tool (3 s), then the job goes on.
TEST(ZAVezeDeviceSetDialog, ASilentDeviceInTheMiddleIsSkippedAfterThreeSeconds)
{
    ScriptedTool tool;
    tool.setOutcome(DeviceFixtures::device(2).mac, ScriptedTool::Silent);
    ZAVezeDeviceTableWidget table;
    table.resize(1000, 200);
    table.setDevices(DeviceFixtures::devices(3));
    ZAVezeDeviceNameSetDialog dialog(nullptr, &tool, &table);
    ASSERT_TRUE(dialog.setDevices(table.devices(), {"One", "Two", "Three"}));
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    const qint64 elapsed = timer.elapsed();
    EXPECT_GE(elapsed, 2900);
    EXPECT_LT(elapsed, 15000);
    EXPECT_EQ(tool.commands().size(), 3);
    ASSERT_TRUE(GuiTest::waitFor([&] { return table.devices()[2].name() == "Three"; }));
    EXPECT_EQ(table.devices()[0].name(), "One");
    EXPECT_EQ(table.devices()[1].name(), "Speaker 2");
}

TEST(ZAVezeDeviceSetDialog, ClosingMidJobCancelsTheCommandAndSendsNoMore)
{
    ScriptedTool tool;
    tool.setSilentSeconds(30);
    for (int i = 1; i <= 3; ++i)
        tool.setOutcome(DeviceFixtures::device(i).mac, ScriptedTool::Silent);
    RecordingSink sink;
    ZAVezeDeviceVolumeSetDialog dialog(nullptr, &tool, &sink);
    dialog.setDevices(DeviceFixtures::devices(3), 1, 2, 0);
    QElapsedTimer timer;
    GuiTest::onModal([&](QWidget* modal) {
        GuiTest::grabToPng(modal, "device-set-dialog");
        GuiTest::waitFor([&] { return !tool.commands().isEmpty(); });
        timer.start();
        modal->close();
    });
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
    EXPECT_LT(timer.elapsed(), 2000);
    GuiTest::waitFor([] { return false; }, 200);
    EXPECT_EQ(tool.commands().size(), 1);
    EXPECT_TRUE(sink.devices().isEmpty());
}
