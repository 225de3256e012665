#include "ZAVezeDeviceIPSetWidget.h"

#include "DeviceFixtures.h"
#include "GuiTest.h"
#include "RDLabel.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

ZAVezeDevice deviceInMode(const char* mode)
{
    ZAVezeDevice device = DeviceFixtures::device(1, "192.168.1.20");
    device.info.remove("IpMode");
    if (mode)
        device.setIpMode(QString::fromLatin1(mode));
    device.setNetmask("255.255.255.0");
    device.setGateway("192.168.1.1");
    device.setDns1("192.168.1.2");
    device.setDns2("");
    return device;
}

TEST(ZAVezeDeviceIPSetWidget, FillsFromTheRecordAndEnablesTheAddressesOnlyForStatic)
{
    struct Case
    {
        const char* mode;
        int index;
    };
    // Only the exact text counts as static; anything else, or no mode at all, reads as DHCP.
    const Case cases[] = {{"Static", 1}, {"static", 0}, {nullptr, 0}, {"DHCP", 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode ? c.mode : "(missing)");
        ZAVezeDeviceIPSetWidget section;
        section.setDevice(deviceInMode(c.mode));
        EXPECT_EQ(section.modeList()->currentIndex(), c.index);
        EXPECT_EQ(section.deviceName(), DeviceFixtures::device(1).name());
        EXPECT_EQ(section.deviceLabel()->toolTip(), DeviceFixtures::device(1).name());
        EXPECT_EQ(section.ipField()->text(), "192.168.1.20");
        EXPECT_EQ(section.netmaskField()->text(), "255.255.255.0");
        EXPECT_EQ(section.gatewayField()->text(), "192.168.1.1");
        EXPECT_EQ(section.dns1Field()->text(), "192.168.1.2");
        for (QLineEdit* field : {section.ipField(), section.netmaskField(), section.gatewayField(),
                                 section.dns1Field(), section.dns2Field()})
            EXPECT_EQ(field->isEnabled(), c.index == 1);
        // Switching the list by hand applies the same rule.
        section.modeList()->setCurrentIndex(1 - c.index);
        EXPECT_EQ(section.ipField()->isEnabled(), c.index == 0);
    }
}

TEST(ZAVezeDeviceIPSetWidget, ReadsTheUntranslatedModeAndTheTypedFields)
{
    ZAVezeDeviceIPSetWidget section;
    section.setDevice(deviceInMode("Static"));
    section.dns2Field()->setText("8.8.8.8");
    ZAVezeIpInfo info = section.ipInfo();
    EXPECT_EQ(info.mode, "Static");
    EXPECT_EQ(info.ip, "192.168.1.20");
    EXPECT_EQ(info.netmask, "255.255.255.0");
    EXPECT_EQ(info.gateway, "192.168.1.1");
    EXPECT_EQ(info.dns1, "192.168.1.2");
    EXPECT_EQ(info.dns2, "8.8.8.8");
    section.modeList()->setCurrentIndex(0);
    EXPECT_EQ(section.ipInfo().mode, "DHCP");
}

TEST(ZAVezeDeviceIPSetWidget, TheFirstIncompleteAddressGivesTheMessage)
{
    struct Case
    {
        const char* ip;
        const char* netmask;
        const char* gateway;
        const char* dns1;
        const char* message;
    };
    const Case cases[] = {
        {"192.168.1.20", "255.255.255.0", "192.168.1.1", "", ""},
        {"192.168.1.20", "255.255.255.0", "192.168.1.1", "192.168.1.2", ""},
        {"", "", "", "", "Please input ip address"},
        // A half-typed address is as good as none.
        {"192.168.1.", "255.255.255.0", "192.168.1.1", "", "Please input ip address"},
        {"192.168.1.20", "", "", "", "Please input netmask"},
        {"192.168.1.20", "255.255.", "192.168.1.1", "", "Please input netmask"},
        {"192.168.1.20", "255.255.255.0", "", "", "Please input gateway"},
        {"192.168.1.20", "255.255.255.0", "192.168.1.1", "192.168", "Please input dns"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(QStringLiteral("%1 %2 %3 %4").arg(c.ip, c.netmask, c.gateway, c.dns1).toStdString());
        ZAVezeDeviceIPSetWidget section;
        section.setDevice(deviceInMode("Static"));
        section.ipField()->setText(c.ip);
        section.netmaskField()->setText(c.netmask);
        section.gatewayField()->setText(c.gateway);
        section.dns1Field()->setText(c.dns1);
        EXPECT_EQ(section.missingInput(), QString::fromLatin1(c.message));
        // In DHCP mode the address fields are not sent, so nothing in them is refused.
        section.modeList()->setCurrentIndex(0);
        EXPECT_EQ(section.missingInput(), QString());
    }
}

TEST(ZAVezeDeviceIPSetWidget, AddressFieldsTakeOnlyDottedAddresses)
{
    ZAVezeDeviceIPSetWidget section;
    section.setDevice(deviceInMode("Static"));
    QLineEdit* field = section.ipField();
    field->clear();
    QTest::keyClicks(field, "192.168.1.300abc");
    // The validator stops at what can still become an address.
    EXPECT_EQ(field->text(), "192.168.1.30");
    EXPECT_TRUE(field->hasAcceptableInput());
}

TEST(ZAVezeDeviceIPSetWidget, LooksRight)
{
    ZAVezeDeviceIPSetWidget section;
    section.setDevice(deviceInMode("Static"));
    section.resize(section.sizeHint().width(), 280);
    section.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&section));
    // Nothing sticks out of the section and the buttons stay below the last row.
    for (QWidget* child : section.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (!child->isVisible())
            continue;
        EXPECT_TRUE(section.rect().contains(child->geometry())) << child->metaObject()->className();
    }
    EXPECT_GT(section.setButton()->geometry().top(), section.dns2Field()->geometry().bottom());
    EXPECT_LT(section.setButton()->geometry().right(), section.setAllButton()->geometry().left());
    EXPECT_FALSE(GuiTest::grabToPng(&section, "device-panel-network").isEmpty());
    section.modeList()->setCurrentIndex(0);
    EXPECT_FALSE(GuiTest::grabToPng(&section, "device-panel-network-dhcp").isEmpty());
}

} // namespace
