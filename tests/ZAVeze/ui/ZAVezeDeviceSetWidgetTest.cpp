#include "ZAVezeDeviceSetWidget.h"

#include "DeviceFixtures.h"
#include "GuiTest.h"
#include "GuiTestHook.h"
#include "RDLabel.h"
#include "RDLanguage.h"
#include "RDVolumeSlider.h"
#include "ScriptedTool.h"
#include "ZAVezeDeviceCheckWidget.h"
#include "ZAVezeDeviceFirmwareSetWidget.h"
#include "ZAVezeDeviceIPSetWidget.h"
#include "ZAVezeDeviceNameSetWidget.h"
#include "ZAVezeDeviceRtpSetWidget.h"
#include "ZAVezeDeviceSipSetWidget.h"
#include "ZAVezeDeviceSystemSetWidget.h"
#include "ZAVezeDeviceTableWidget.h"
#include "ZAVezeDeviceVolumeSetWidget.h"
#include "ZAVezeFrame.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFontMetrics>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>

namespace {

using Sip = ZAVezeDeviceSipSetWidget;

QString mac(int index)
{
    return ZAVezeFrame::macText(DeviceFixtures::device(index).mac);
}

// The panel under a table of three devices, the first one shown, with a scripted device tool.
class PanelTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        GuiTest::hook().reset();
        table.setDevices(DeviceFixtures::devices(3));
        panel.setZAVeze(&tool);
        panel.setTableWidget(&table);
        panel.setDevice(table.devices()[0]);
        panel.resize(1400, 300);
    }
    void TearDown() override { GuiTest::hook().reset(); }

    void tick(std::initializer_list<int> rows)
    {
        for (int row : rows)
            qobject_cast<ZAVezeDeviceCheckWidget*>(table.tableWidget()->cellWidget(row, 0))->setChecked(true);
    }

    ScriptedTool tool;
    ZAVezeDeviceTableWidget table;
    ZAVezeDeviceSetWidget panel;
};

// One row of the message table: what is typed and ticked, the answers to the questions, the
// action, and what the operator is told and what reaches the devices.
struct ActionCase
{
    const char* name;
    std::function<void(ZAVezeDeviceSetWidget&)> prepare;
    std::vector<int> ticked;
    std::vector<int> answers;
    void (ZAVezeDeviceSetWidget::*slot)(bool);
    QStringList boxes;
    QStringList commands;
};

void typeStatic(ZAVezeDeviceSetWidget& p, const char* ip, const char* netmask, const char* gateway)
{
    ZAVezeDeviceIPSetWidget* ip4 = p.ipSetWidget();
    ip4->modeList()->setCurrentIndex(1);
    ip4->ipField()->setText(ip);
    ip4->netmaskField()->setText(netmask);
    ip4->gatewayField()->setText(gateway);
    ip4->dns1Field()->setText("");
    ip4->dns2Field()->setText("");
}

TEST_F(PanelTest, EachActionChecksInOrderAndSendsOnlyWhenNothingIsMissing)
{
    QTemporaryDir dir;
    const QString firmware = dir.filePath("fw.img");
    {
        QFile file(firmware);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("firmware");
    }
    auto none = [](ZAVezeDeviceSetWidget&) {};
    auto noName = [](ZAVezeDeviceSetWidget& p) { p.nameSetWidget()->nameField()->clear(); };
    auto named = [](ZAVezeDeviceSetWidget& p) { p.nameSetWidget()->nameField()->setText("Lobby"); };
    auto noDevice = [](ZAVezeDeviceSetWidget& p) {
        p.setDevice(ZAVezeDevice());
        p.nameSetWidget()->nameField()->setText("Lobby");
    };
    const int Yes = QMessageBox::Yes;
    const int No = QMessageBox::No;
    const std::vector<ActionCase> cases = {
        {"name empty", noName, {}, {}, &ZAVezeDeviceSetWidget::onSetName, {"Please input device name"}, {}},
        {"name", named, {}, {}, &ZAVezeDeviceSetWidget::onSetName, {}, {"SetName " + mac(1) + " Lobby"}},
        {"name without a device", noDevice, {}, {}, &ZAVezeDeviceSetWidget::onSetName, {"Please select device"}, {}},
        {"all names empty, nothing ticked", noName, {}, {}, &ZAVezeDeviceSetWidget::onSetAllName,
         {"Please input device name"}, {}},
        {"all names, nothing ticked", named, {}, {}, &ZAVezeDeviceSetWidget::onSetAllName, {"Please select device"}, {}},
        {"all names", named, {0, 1, 2}, {}, &ZAVezeDeviceSetWidget::onSetAllName, {},
         {"SetName " + mac(1) + " Lobby", "SetName " + mac(2) + " Lobby", "SetName " + mac(3) + " Lobby"}},
        {"static, netmask and gateway empty",
         [](ZAVezeDeviceSetWidget& p) { typeStatic(p, "192.168.1.30", "", ""); }, {}, {},
         &ZAVezeDeviceSetWidget::onSetIP, {"Please input netmask"}, {}},
        {"static, half an address", [](ZAVezeDeviceSetWidget& p) { typeStatic(p, "192.168.1.", "", ""); }, {0}, {},
         &ZAVezeDeviceSetWidget::onSetAllIP, {"Please input ip address"}, {}},
        {"static, gateway empty", [](ZAVezeDeviceSetWidget& p) { typeStatic(p, "10.0.0.5", "255.0.0.0", ""); }, {},
         {}, &ZAVezeDeviceSetWidget::onSetIP, {"Please input gateway"}, {}},
        {"static", [](ZAVezeDeviceSetWidget& p) { typeStatic(p, "10.0.0.5", "255.0.0.0", "10.0.0.1"); }, {}, {},
         &ZAVezeDeviceSetWidget::onSetIP, {}, {"SetIpStatic " + mac(1) + " 10.0.0.5 255.0.0.0 10.0.0.1  "}},
        {"DHCP with empty fields",
         [](ZAVezeDeviceSetWidget& p) {
             typeStatic(p, "", "", "");
             p.ipSetWidget()->modeList()->setCurrentIndex(0);
         },
         {0, 2}, {}, &ZAVezeDeviceSetWidget::onSetAllIP, {}, {"SetIpDhcp " + mac(1), "SetIpDhcp " + mac(3)}},
        {"all static, nothing ticked",
         [](ZAVezeDeviceSetWidget& p) { typeStatic(p, "10.0.0.5", "255.0.0.0", "10.0.0.1"); }, {}, {},
         &ZAVezeDeviceSetWidget::onSetAllIP, {"Please select device"}, {}},
        {"all static from .20 in row order",
         [](ZAVezeDeviceSetWidget& p) { typeStatic(p, "192.168.1.20", "255.255.255.0", "192.168.1.1"); }, {2, 0, 1},
         {}, &ZAVezeDeviceSetWidget::onSetAllIP, {},
         {"SetIpStatic " + mac(1) + " 192.168.1.20 255.255.255.0 192.168.1.1  ",
          "SetIpStatic " + mac(2) + " 192.168.1.21 255.255.255.0 192.168.1.1  ",
          "SetIpStatic " + mac(3) + " 192.168.1.22 255.255.255.0 192.168.1.1  "}},
        {"all static from .253/24 run out",
         [](ZAVezeDeviceSetWidget& p) { typeStatic(p, "192.168.1.253", "255.255.255.0", "192.168.1.1"); },
         {0, 1, 2}, {}, &ZAVezeDeviceSetWidget::onSetAllIP, {"Not enough addresses"}, {}},
        {"sip", none, {}, {}, &ZAVezeDeviceSetWidget::onSetSip, {}, {"SetSip " + mac(1) + " 0 101"}},
        {"all sip, nothing ticked", none, {}, {}, &ZAVezeDeviceSetWidget::onSetAllSip, {"Please select device"}, {}},
        {"all sip", none, {1}, {}, &ZAVezeDeviceSetWidget::onSetAllSip, {}, {"SetSip " + mac(2) + " 0 101"}},
        {"rtp", none, {}, {}, &ZAVezeDeviceSetWidget::onSetRtp, {},
         {"SetRtp " + mac(1) + " 239.255.0.1:8000,,,,,,,,,"}},
        {"all rtp, nothing ticked", none, {}, {}, &ZAVezeDeviceSetWidget::onSetAllRtp, {"Please select device"}, {}},
        {"upgrade, no file", [](ZAVezeDeviceSetWidget& p) { p.firmwareSetWidget()->pathField()->setText("/nonexistent.bin"); },
         {}, {}, &ZAVezeDeviceSetWidget::onSetUpgrade, {"Please select firmware file"}, {}},
        {"all upgrade, no file and nothing ticked",
         [](ZAVezeDeviceSetWidget& p) { p.firmwareSetWidget()->pathField()->clear(); }, {}, {},
         &ZAVezeDeviceSetWidget::onSetAllUpgrade, {"Please select firmware file"}, {}},
        {"all upgrade, nothing ticked",
         [firmware](ZAVezeDeviceSetWidget& p) { p.firmwareSetWidget()->pathField()->setText(firmware); }, {}, {},
         &ZAVezeDeviceSetWidget::onSetAllUpgrade, {"Please select device"}, {}},
        {"audio test", none, {}, {}, &ZAVezeDeviceSetWidget::onTestAudio, {}, {"PlayVolume " + mac(1)}},
        {"audio test without a device", [](ZAVezeDeviceSetWidget& p) { p.setDevice(ZAVezeDevice()); }, {}, {},
         &ZAVezeDeviceSetWidget::onTestAudio, {"Please select device"}, {}},
        {"microphone test", none, {}, {}, &ZAVezeDeviceSetWidget::onTestMicrophone, {}, {}},
        {"volume",
         [](ZAVezeDeviceSetWidget& p) {
             p.volumeSetWidget()->microphoneSlider()->setValue(33);
             p.volumeSetWidget()->autoOffBox()->setChecked(true);
         },
         {}, {}, &ZAVezeDeviceSetWidget::onSetVolume, {}, {"SetVolume " + mac(1) + " 33 7 1"}},
        {"all volume", none, {0, 1}, {}, &ZAVezeDeviceSetWidget::onSetAllVolume, {},
         {"SetVolume " + mac(1) + " 5 7 0", "SetVolume " + mac(2) + " 5 7 0"}},
        {"all volume, nothing ticked", none, {}, {}, &ZAVezeDeviceSetWidget::onSetAllVolume, {"Please select device"}, {}},
        {"account, both empty",
         [](ZAVezeDeviceSetWidget& p) { p.systemSetWidget()->usernameField()->clear(); }, {}, {},
         &ZAVezeDeviceSetWidget::onSetAllAuth, {"Please input username"}, {}},
        {"account, password empty", none, {}, {}, &ZAVezeDeviceSetWidget::onSetAuth, {"Please input password"}, {}},
        {"account", [](ZAVezeDeviceSetWidget& p) { p.systemSetWidget()->passwordField()->setText("s3cret"); }, {},
         {}, &ZAVezeDeviceSetWidget::onSetAuth, {}, {"SetAccount " + mac(1) + " admin s3cret"}},
        {"all accounts, nothing ticked",
         [](ZAVezeDeviceSetWidget& p) { p.systemSetWidget()->passwordField()->setText("s3cret"); }, {}, {},
         &ZAVezeDeviceSetWidget::onSetAllAuth, {"Please select device"}, {}},
        {"reboot, no", none, {}, {No}, &ZAVezeDeviceSetWidget::onSetReboot, {"Do you want to reboot device"}, {}},
        {"reboot", none, {}, {Yes}, &ZAVezeDeviceSetWidget::onSetReboot, {"Do you want to reboot device"},
         {"Reboot " + mac(1)}},
        {"reboot all, nothing ticked", none, {}, {Yes}, &ZAVezeDeviceSetWidget::onSetAllReboot,
         {"Do you want to reboot devices", "Please select device"}, {}},
        {"reboot all, no", none, {0}, {No}, &ZAVezeDeviceSetWidget::onSetAllReboot,
         {"Do you want to reboot devices"}, {}},
        {"restore", none, {}, {Yes}, &ZAVezeDeviceSetWidget::onSetRestore, {"Do you want to restore device"},
         {"ResetDefault " + mac(1)}},
        {"restore all", none, {1, 2}, {Yes}, &ZAVezeDeviceSetWidget::onSetAllRestore,
         {"Do you want to restore devices"}, {"ResetDefault " + mac(2), "ResetDefault " + mac(3)}},
        {"restore all, nothing ticked", none, {}, {Yes}, &ZAVezeDeviceSetWidget::onSetAllRestore,
         {"Do you want to restore devices", "Please select device"}, {}},
    };
    for (const ActionCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedTool caseTool;
        ZAVezeDeviceTableWidget caseTable;
        caseTable.setDevices(DeviceFixtures::devices(3));
        ZAVezeDeviceSetWidget p;
        p.setZAVeze(&caseTool);
        p.setTableWidget(&caseTable);
        p.setDevice(caseTable.devices()[0]);
        for (int row : c.ticked)
            qobject_cast<ZAVezeDeviceCheckWidget*>(caseTable.tableWidget()->cellWidget(row, 0))->setChecked(true);
        c.prepare(p);
        GuiTest::hook().reset();
        for (int answer : c.answers)
            GuiTest::hook().answerBox(answer);
        (p.*c.slot)(false);
        EXPECT_EQ(GuiTest::hook().boxTexts(), c.boxes);
        EXPECT_EQ(caseTool.commands(), c.commands);
    }
}

TEST_F(PanelTest, MessagesAndQuestionsCarryTheirCaptions)
{
    GuiTest::hook().answerBox(QMessageBox::No);
    panel.onSetAllReboot(false);
    panel.onSetRestore(false);
    panel.onSetAllName(false);
    const QList<GuiTestHook::Box>& boxes = GuiTest::hook().boxes();
    ASSERT_EQ(boxes.size(), 3);
    EXPECT_EQ(boxes[0].yesCaption, "Reboot");
    EXPECT_EQ(boxes[0].noCaption, "Cancel");
    EXPECT_EQ(boxes[1].yesCaption, "Restore");
    EXPECT_EQ(boxes[2].text, "Please select device");
    EXPECT_EQ(boxes[2].yesCaption, "OK");
    EXPECT_EQ(boxes[2].noCaption, "Cancel");
    EXPECT_EQ(tool.commands(), QStringList{"ResetDefault " + mac(1)});
}

TEST_F(PanelTest, TheFirmwareDialogTakesAnExistingFileOfAnyName)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("image.img");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("firmware");
    file.close();
    // The device's web interface is a listener on this machine that never answers: the upload
    // has begun once it is reached, and the dialog is then closed.
    QTcpServer web;
    ASSERT_TRUE(web.listen(QHostAddress::LocalHost));
    ZAVezeDevice device = table.devices()[0];
    device.setIpAddress("127.0.0.1");
    device.info.insert("httpPort", QString::number(web.serverPort()));
    panel.setDevice(device);
    panel.firmwareSetWidget()->pathField()->setText(path);
    QString opened;
    bool reached = false;
    GuiTest::onModal([&](QWidget* modal) {
        opened = QString::fromLatin1(modal->metaObject()->className());
        reached = GuiTest::waitFor([&] { return web.hasPendingConnections(); }, 10000);
        modal->close();
    });
    panel.onSetUpgrade(false);
    EXPECT_EQ(opened, "ZAVezeDeviceFirmwareSetDialog");
    EXPECT_TRUE(reached);
    EXPECT_TRUE(GuiTest::hook().boxTexts().isEmpty());
}

TEST_F(PanelTest, TheSelectButtonPutsTheChosenFileIntoThePathField)
{
    GuiTest::hook().answerFiles({"/srv/firmware/v2.bin", "/srv/other.bin"});
    QTest::mouseClick(panel.firmwareSetWidget()->selectButton(), Qt::LeftButton);
    ASSERT_EQ(GuiTest::hook().fileAsks().size(), 1);
    EXPECT_EQ(GuiTest::hook().fileAsks()[0].mode, QFileDialog::ExistingFile);
    EXPECT_EQ(GuiTest::hook().fileAsks()[0].nameFilter, "*.bin");
    EXPECT_EQ(panel.firmwareSetWidget()->pathField()->text(), "/srv/firmware/v2.bin");
    GuiTest::hook().answerFiles({});
    QTest::mouseClick(panel.firmwareSetWidget()->selectButton(), Qt::LeftButton);
    EXPECT_EQ(panel.firmwareSetWidget()->pathField()->text(), "/srv/firmware/v2.bin");
}

TEST_F(PanelTest, TheButtonsRunTheirActions)
{
    // A click on each button reaches its slot: the single action of a shown device sends.
    panel.showVolumeSetWidget();
    panel.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
    QTest::mouseClick(panel.volumeSetWidget()->audioTestButton(), Qt::LeftButton);
    GuiTest::hook().answerBox(QMessageBox::Yes);
    QTest::mouseClick(panel.systemSetWidget()->rebootButton(), Qt::LeftButton);
    QTest::mouseClick(panel.volumeSetWidget()->setAllButton(), Qt::LeftButton);
    EXPECT_EQ(tool.commands(), (QStringList{"PlayVolume " + mac(1), "Reboot " + mac(1)}));
    EXPECT_EQ(GuiTest::hook().boxTexts(),
              (QStringList{"Do you want to reboot device", "Please select device"}));
}

TEST_F(PanelTest, SipSettingsMapTheFieldsAndTheChosenAccount)
{
    panel.setDevice(DeviceFixtures::fromJson(DeviceFixtures::panelFixture("static-two-lines")));
    ZAVezeDeviceSipSetWidget* sip = panel.sipSetWidget();
    sip->field(Sip::ProxyServer)->setText("10.1.1.1");
    sip->field(Sip::ProxyPort)->setText("5099");
    int line = -1;
    ZAVezeSipInfo info = sip->sipInfo(&line);
    EXPECT_EQ(line, 0);
    EXPECT_EQ(info.account, "301");
    EXPECT_EQ(info.authName, "301");
    EXPECT_EQ(info.password, "s1p");
    EXPECT_EQ(info.displayName, "Lobby");
    EXPECT_EQ(info.serverHost, "192.168.1.200");
    EXPECT_EQ(info.serverPort, "5060");
    EXPECT_EQ(info.expires, "3600");
    EXPECT_EQ(info.proxyStatus, "Enable");
    EXPECT_EQ(info.proxyHost, "10.1.1.1");
    EXPECT_EQ(info.proxyPort, "5099");
    EXPECT_TRUE(info.protocol.isEmpty());

    // Typing for the first account is dropped by a switch to the second and back.
    sip->field(Sip::Username)->setText("typed");
    sip->accountList()->setCurrentIndex(1);
    info = sip->sipInfo(&line);
    EXPECT_EQ(line, 1);
    EXPECT_EQ(info.account, "302");
    EXPECT_EQ(info.proxyStatus, "Disable");
    EXPECT_TRUE(sip->field(Sip::ProxyServer)->isHidden());
    sip->accountList()->setCurrentIndex(0);
    EXPECT_EQ(sip->field(Sip::Username)->text(), "301");
    EXPECT_FALSE(sip->field(Sip::ProxyServer)->isHidden());

    // Set All sends the same settings on the chosen line to every ticked device.
    tick({0, 2});
    sip->accountList()->setCurrentIndex(1);
    panel.onSetAllSip(false);
    EXPECT_EQ(tool.commands(), (QStringList{"SetSip " + mac(1) + " 1 302@192.168.1.210:5062",
                                            "SetSip " + mac(3) + " 1 302@192.168.1.210:5062"}));
}

TEST_F(PanelTest, FieldsRefuseWhatADeviceCannotTake)
{
    struct Case
    {
        const char* what;
        QLineEdit* field;
        QString typed;
        QString kept;
    };
    ZAVezeDeviceSipSetWidget* sip = panel.sipSetWidget();
    const QString name129(129, QLatin1Char('n'));
    const QString text65(65, QLatin1Char('u'));
    const Case cases[] = {
        {"name", panel.nameSetWidget()->nameField(), name129, name129.left(128)},
        {"username", panel.systemSetWidget()->usernameField(), text65, text65.left(64)},
        {"password", panel.systemSetWidget()->passwordField(), text65, text65.left(64)},
        {"server port 0", sip->field(Sip::ServerPort), "0", ""},
        {"server port 65536", sip->field(Sip::ServerPort), "65536", "6553"},
        {"server port 65535", sip->field(Sip::ServerPort), "65535", "65535"},
        {"proxy port 70000", sip->field(Sip::ProxyPort), "70000", "7000"},
        {"expire time", sip->field(Sip::ExpireTime), "3600x", "3600"},
        {"rtp port 70000", panel.rtpSetWidget()->field(0), "1.2.3.4:70000", "1.2.3.4:7000"},
        {"rtp port 0", panel.rtpSetWidget()->field(1), "1.2.3.4:0", "1.2.3.4:"},
        {"rtp port 65535", panel.rtpSetWidget()->field(2), "239.1.2.3:65535", "239.1.2.3:65535"},
        {"rtp address", panel.rtpSetWidget()->field(3), "239.1.2.300:5", "239.1.2.30:5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.field->clear();
        QTest::keyClicks(c.field, c.typed);
        EXPECT_EQ(c.field->text(), c.kept);
    }
    // Passwords show as typed.
    EXPECT_EQ(sip->field(Sip::Password)->echoMode(), QLineEdit::Normal);
    EXPECT_EQ(panel.systemSetWidget()->passwordField()->echoMode(), QLineEdit::Normal);
}

TEST_F(PanelTest, SetDeviceFillsEverySectionFromTheRecord)
{
    struct Case
    {
        const char* fixture;
        int mode;
        QString sip1Account;
        QString sip2Account;
        int proxy;
        QVector<QString> rtp;
        int microphone;
        int speaker;
        bool autoOff;
    };
    QVector<QString> twelve;
    for (int i = 1; i <= 10; ++i)
        twelve.append(QStringLiteral("239.255.0.%1:%2").arg(i).arg(8000 + 2 * (i - 1)));
    const Case cases[] = {
        {"static-two-lines", 1, "301", "302", 0, twelve, 35, 80, true},
        // Only the exact "Static" and "Enable" count.
        {"lowercase-static-one-line", 0, "400", "", 1,
         {"239.255.1.1:9000", "239.255.1.2:9002", "239.255.1.3:9004", "", "", "", "", "", "", ""}, 0, 100, false},
        {"missing-mode", 0, "", "", 1, QVector<QString>(10), 60, 20, false},
    };
    // One panel for all, so each record also has to replace what the one before left.
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fixture);
        const ZAVezeDevice device = DeviceFixtures::fromJson(DeviceFixtures::panelFixture(c.fixture));
        panel.setDevice(device);
        EXPECT_EQ(panel.device().compare(device), 0);
        for (ZAVezeDeviceSectionWidget* section : panel.sections()) {
            EXPECT_EQ(section->deviceName(), device.name());
            EXPECT_EQ(section->deviceLabel()->toolTip(), device.name());
            // Shortened only where the title leaves too little room (as laid out when shown).
            section->resize(section->sizeHint().width(), 280);
            section->relayout();
            const QString shown = section->deviceLabel()->text();
            EXPECT_TRUE(shown == device.name() || (shown.endsWith(QChar(0x2026)) && device.name().startsWith(shown.chopped(1))))
                << shown.toStdString();
        }
        EXPECT_EQ(panel.nameSetWidget()->nameField()->text(), device.name());
        ZAVezeDeviceIPSetWidget* ip = panel.ipSetWidget();
        EXPECT_EQ(ip->modeList()->currentIndex(), c.mode);
        EXPECT_EQ(ip->ipField()->isEnabled(), c.mode == 1);
        EXPECT_EQ(ip->ipField()->text(), device.ipAddress());
        EXPECT_EQ(ip->netmaskField()->text(), device.netmask());
        ZAVezeDeviceSipSetWidget* sip = panel.sipSetWidget();
        EXPECT_EQ(sip->accountList()->currentIndex(), 0);
        EXPECT_EQ(sip->field(Sip::Username)->text(), c.sip1Account);
        EXPECT_EQ(sip->proxyList()->currentIndex(), c.proxy);
        EXPECT_EQ(sip->field(Sip::ProxyPort)->isHidden(), c.proxy != 0);
        sip->accountList()->setCurrentIndex(1);
        EXPECT_EQ(sip->field(Sip::Username)->text(), c.sip2Account);
        EXPECT_EQ(panel.rtpSetWidget()->rtpList(), c.rtp);
        EXPECT_EQ(panel.volumeSetWidget()->microphoneSlider()->value(), c.microphone);
        EXPECT_EQ(panel.volumeSetWidget()->speakerSlider()->value(), c.speaker);
        EXPECT_EQ(panel.volumeSetWidget()->autoOffBox()->isChecked(), c.autoOff);
        EXPECT_EQ(panel.systemSetWidget()->usernameField()->text(), device.account());
    }
}

TEST_F(PanelTest, EachColumnShowsItsSections)
{
    using T = ZAVezeDeviceTableWidget;
    const QVector<ZAVezeDeviceSectionWidget*> all = panel.sections();
    auto shown = [&] {
        QVector<ZAVezeDeviceSectionWidget*> list;
        for (ZAVezeDeviceSectionWidget* s : all)
            if (!s->isHidden())
                list.append(s);
        return list;
    };
    for (ZAVezeDeviceSectionWidget* s : all)
        EXPECT_TRUE(s->isHidden());
    struct Case
    {
        int column;
        QVector<ZAVezeDeviceSectionWidget*> sections;
    };
    const Case cases[] = {
        {T::NameColumn, {panel.nameSetWidget(), panel.ipSetWidget()}},
        {T::MacColumn, {}},
        {T::IpColumn, {panel.nameSetWidget(), panel.ipSetWidget()}},
        {T::NetmaskColumn, {panel.nameSetWidget(), panel.ipSetWidget()}},
        {T::GatewayColumn, {panel.nameSetWidget(), panel.ipSetWidget()}},
        {T::SipColumn, {panel.sipSetWidget()}},
        {T::RtpColumn, {panel.rtpSetWidget()}},
        {T::FirmwareColumn, {panel.firmwareSetWidget()}},
        {T::VolumeColumn, {panel.volumeSetWidget(), panel.systemSetWidget()}},
        {T::SystemColumn, {panel.volumeSetWidget(), panel.systemSetWidget()}},
        {T::CheckColumn, {}},
        {T::BeepColumn, {}},
        {T::NumberColumn, {}},
        {T::ColumnCount, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.column);
        // From every other column's sections, so "unless shown" cannot hide a wrong switch.
        for (const Case& before : cases) {
            panel.showSetWidgetsForColumn(before.column);
            panel.showSetWidgetsForColumn(c.column);
            EXPECT_EQ(shown(), c.sections) << "after column " << before.column;
        }
    }
    // A second click on the name column leaves the sections where they are.
    // (The network section is hidden by hand to see that nothing was switched.)
    panel.showSetWidgetsForColumn(T::NameColumn);
    panel.ipSetWidget()->hide();
    panel.showSetWidgetsForColumn(T::NameColumn);
    EXPECT_EQ(shown(), QVector<ZAVezeDeviceSectionWidget*>{panel.nameSetWidget()});
    panel.showSetWidgetsForColumn(T::IpColumn);
    EXPECT_EQ(shown(), (QVector<ZAVezeDeviceSectionWidget*>{panel.nameSetWidget(), panel.ipSetWidget()}));
}

TEST_F(PanelTest, ShownSectionsStandLeftToRightAtTheirOwnWidths)
{
    panel.showVolumeSetWidget();
    ZAVezeDeviceVolumeSetWidget* volume = panel.volumeSetWidget();
    ZAVezeDeviceSystemSetWidget* system = panel.systemSetWidget();
    EXPECT_EQ(volume->geometry(), QRect(10, 10, volume->sizeHint().width(), 280));
    EXPECT_EQ(system->geometry(), QRect(volume->geometry().right() + 11, 10, system->sizeHint().width(), 280));
    EXPECT_GE(volume->width(), 250);
    panel.showSipSetWidget();
    ZAVezeDeviceSipSetWidget* sip = panel.sipSetWidget();
    EXPECT_EQ(sip->geometry(), QRect(10, 10, sip->sizeHint().width(), 280));
    // Every control of a shown section lies inside it.
    for (ZAVezeDeviceSectionWidget* section : panel.sections()) {
        SCOPED_TRACE(section->metaObject()->className());
        // A hidden widget hears of its new size only when shown.
        section->resize(section->sizeHint().width(), 280);
        section->relayout();
        for (QWidget* child : section->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
            if (child->isHidden())
                continue;
            EXPECT_TRUE(section->rect().contains(child->geometry()))
                << child->metaObject()->className() << " at " << child->geometry().x() << ","
                << child->geometry().y() << " " << child->width() << "x" << child->height();
        }
    }
}

TEST_F(PanelTest, SectionWidthsFollowTheirWidestCaptions)
{
    const QFontMetrics metrics(panel.nameSetWidget()->titleLabel()->font());
    auto widest = [&](std::initializer_list<const char*> texts) {
        int width = 0;
        for (const char* text : texts)
            width = qMax(width, metrics.horizontalAdvance(QString::fromLatin1(text)));
        return width;
    };
    const QFontMetrics buttonMetrics(panel.firmwareSetWidget()->selectButton()->font());
    const int select = buttonMetrics.horizontalAdvance(QStringLiteral("Select")) + 20;
    const struct
    {
        ZAVezeDeviceSectionWidget* section;
        int width;
    } cases[] = {
        {panel.nameSetWidget(), widest({"Device Name"}) + 210},
        {panel.ipSetWidget(), widest({"Mode", "IP Address", "Netmask", "Gateway", "DNS1", "DNS2"}) + 210},
        {panel.sipSetWidget(),
         2 * widest({"SIP Account", "Username", "Auth ID", "Password", "Display Name", "Server Host", "Server Port",
                     "Expire Time", "Outbound Proxy", "Proxy Server", "Proxy Port"})
             + 440},
        {panel.rtpSetWidget(), 2 * widest({"RTP10"}) + 440},
        {panel.firmwareSetWidget(), widest({"Firmware File"}) + select + 390},
        {panel.volumeSetWidget(), qMax(250, widest({"Microphone Volume", "Speaker Volume", "Amp Auto OFF"}) + 210)},
        {panel.systemSetWidget(), widest({"Username", "Password"}) + 210},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.section->metaObject()->className());
        EXPECT_EQ(c.section->sizeHint().width(), c.width);
    }
    // Name and network side by side: 10 px from the left, 10 px between.
    panel.showNameSetWidget();
    EXPECT_EQ(panel.nameSetWidget()->x(), 10);
    EXPECT_EQ(panel.ipSetWidget()->x(), 10 + cases[0].width + 10);
    EXPECT_EQ(panel.ipSetWidget()->height(), panel.height() - 20);
}

TEST(ZAVezeDeviceSetWidget, ALanguageSwitchReTextsEverySection)
{
    QTemporaryDir dir;
    RDLanguage::setLanguagePath(dir.path());
    QFile file(dir.filePath("Test.txt"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    const char* const texts[] = {
        "Name Settings", "Device Name", "Set", "Set All", "Network Settings", "Mode", "IP Address", "Netmask",
        "Gateway", "DNS1", "DNS2", "DHCP", "Static", "SIP Settings", "SIP Account", "Account", "Username",
        "Auth ID", "Password", "Display Name", "Server Host", "Server Port", "Expire Time", "Outbound Proxy",
        "Proxy Server", "Proxy Port", "RTP Settings", "RTP", "Firmware Settings", "Firmware File", "Select",
        "Upgrade", "Upgrade All", "Volume Settings", "Audio Test", "Microphone Test", "Microphone Volume",
        "Speaker Volume", "Amp Auto OFF", "System Settings", "Restore", "Restore All", "Reboot", "Reboot All",
        "Enable", "Disable"};
    for (const char* text : texts)
        file.write(QByteArray(text) + "=<" + text + ">\n");
    file.close();

    ZAVezeDeviceSetWidget panel;
    panel.resize(1400, 300);
    RDLanguage::setLanguage("Test");
    QStringList english;
    for (QObject* child : panel.findChildren<QObject*>()) {
        QStringList shown;
        if (auto* label = qobject_cast<RDLabel*>(child))
            shown << label->text();
        else if (auto* button = qobject_cast<QPushButton*>(child))
            shown << button->text();
        else if (auto* list = qobject_cast<QComboBox*>(child))
            for (int i = 0; i < list->count(); ++i)
                shown << list->itemText(i);
        for (const QString& text : shown)
            if (!text.isEmpty() && !text.startsWith('<') && text != "Enable" && text != "Disable"
                && !QRegExp("\\d+").exactMatch(text))
                english << text;
    }
    EXPECT_TRUE(english.isEmpty()) << english.join(", ").toStdString();
    EXPECT_EQ(panel.rtpSetWidget()->label(9)->text(), "<RTP>10");
    EXPECT_EQ(panel.sipSetWidget()->accountList()->itemText(1), "<Account>2");
    EXPECT_EQ(panel.sipSetWidget()->proxyList()->itemText(0), "Enable");
    EXPECT_EQ(panel.sipSetWidget()->proxyList()->itemData(0).toString(), "Enable");
    EXPECT_EQ(panel.ipSetWidget()->modeList()->itemText(1), "<Static>");
    EXPECT_EQ(panel.ipSetWidget()->ipInfo().mode, "DHCP");
    // The wider captions widen the sections.
    const int widened = panel.rtpSetWidget()->sizeHint().width();
    RDLanguage::setLanguage(QString());
    EXPECT_EQ(panel.rtpSetWidget()->label(0)->text(), "RTP1");
    EXPECT_LT(panel.rtpSetWidget()->sizeHint().width(), widened);
    RDLanguage::initLanguage(QString());
}

TEST(ZAVezeDeviceSetWidget, LooksRightSectionBySection)
{
    ZAVezeDeviceTableWidget table;
    table.setDevices({DeviceFixtures::fromJson(DeviceFixtures::panelFixture("static-two-lines")),
                      DeviceFixtures::fromJson(DeviceFixtures::panelFixture("lowercase-static-one-line"))});
    ZAVezeDeviceSetWidget panel;
    panel.setTableWidget(&table);
    panel.resize(1300, 300);
    panel.setDevice(table.devices()[0]);
    panel.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
    const struct
    {
        int column;
        const char* picture;
    } shots[] = {
        {ZAVezeDeviceTableWidget::NameColumn, "panel-name-network"},
        {ZAVezeDeviceTableWidget::SipColumn, "panel-sip"},
        {ZAVezeDeviceTableWidget::RtpColumn, "panel-rtp"},
        {ZAVezeDeviceTableWidget::FirmwareColumn, "panel-firmware"},
        {ZAVezeDeviceTableWidget::VolumeColumn, "panel-volume-system"},
    };
    for (const auto& shot : shots) {
        panel.showSetWidgetsForColumn(shot.column);
        EXPECT_FALSE(GuiTest::grabToPng(&panel, shot.picture).isEmpty());
    }
    // The second device: DHCP (greyed addresses), one SIP line with the proxy rows hidden.
    panel.setDevice(table.devices()[1]);
    panel.showSetWidgetsForColumn(ZAVezeDeviceTableWidget::IpColumn);
    EXPECT_FALSE(GuiTest::grabToPng(&panel, "panel-name-network-dhcp").isEmpty());
    panel.showSetWidgetsForColumn(ZAVezeDeviceTableWidget::SipColumn);
    EXPECT_FALSE(GuiTest::grabToPng(&panel, "panel-sip-no-proxy").isEmpty());
}

} // namespace
