// The settings panel with the real device tool against two simulated devices (netns-run.sh):
// "Set All" for the volumes and for the RTP destinations reaches both ticked devices, the table
// shows the change, and the devices themselves report it to the next search.

#include "GuiTest.h"
#include "RDVolumeSlider.h"
#include "SimDeviceTool.h"
#include "TestDeviceSim.h"
#include "ZAVeze.h"
#include "ZAVezeDeviceCheckWidget.h"
#include "ZAVezeDeviceItemWidget.h"
#include "ZAVezeDeviceRtpSetWidget.h"
#include "ZAVezeDeviceSetWidget.h"
#include "ZAVezeDeviceTableWidget.h"
#include "ZAVezeDeviceVolumeSetWidget.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace {

QString cellText(const ZAVezeDeviceTableWidget& table, int row, int column)
{
    auto* cell = qobject_cast<ZAVezeDeviceItemWidget*>(table.tableWidget()->cellWidget(row, column));
    return cell ? cell->text() : QString();
}

// What a search tells of each device's volumes and destinations: "name mic,out auto rtp...".
QStringList settings(const QVector<ZAVezeDevice>& devices)
{
    QStringList list;
    for (const ZAVezeDevice& d : devices)
        list << QStringLiteral("%1 %2 %3 %4").arg(d.name(), d.volume()).arg(d.autoMute()).arg(QStringList(d.rtp.toList()).join(','));
    return list;
}

} // namespace

TEST(ZAVezeDeviceSetWidgetNetns, SetAllVolumeAndRtpReachBothDevices)
{
    const QString reason = TestDeviceSim::unavailableReason();
    if (!reason.isEmpty())
        GTEST_SKIP() << reason.toStdString();
    ASSERT_TRUE(TestDeviceSim::reset());
    ZAVeze tool;
    ASSERT_TRUE(SimDeviceTool::open(tool));
    const QVector<ZAVezeDevice> found = SimDeviceTool::search(tool);
    ASSERT_EQ(settings(found), (QStringList{"Hall speaker 40,70 1 239.255.0.1:8000,239.255.0.2:8002,239.255.0.3:8004",
                                            "Yard horn 10,90 0 239.255.0.9:9000"}));

    // The table above the panel, as the main window has them.
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* table = new ZAVezeDeviceTableWidget(&window);
    auto* panel = new ZAVezeDeviceSetWidget(&window);
    layout->addWidget(table);
    layout->addWidget(panel);
    panel->setFixedHeight(300);
    window.resize(1500, 500);
    table->setZAVeze(&tool);
    table->setDevices(found);
    panel->setZAVeze(&tool);
    panel->setTableWidget(table);
    panel->setDevice(found[1]);
    panel->showSetWidgetsForColumn(ZAVezeDeviceTableWidget::VolumeColumn);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    for (int row = 0; row < 2; ++row)
        QTest::mouseClick(qobject_cast<ZAVezeDeviceCheckWidget*>(table->tableWidget()->cellWidget(row, 0))->checkBox(),
                          Qt::LeftButton);
    ASSERT_EQ(table->checkedDevices().size(), 2);

    ZAVezeDeviceVolumeSetWidget* volume = panel->volumeSetWidget();
    volume->microphoneSlider()->setValue(25);
    volume->speakerSlider()->setValue(65);
    volume->autoOffBox()->setChecked(true);
    // The click returns when the dialog's job has gone through both devices.
    QTest::mouseClick(volume->setAllButton(), Qt::LeftButton);
    ASSERT_TRUE(GuiTest::waitFor([&] {
        return cellText(*table, 0, ZAVezeDeviceTableWidget::VolumeColumn) == "25,65"
               && cellText(*table, 1, ZAVezeDeviceTableWidget::VolumeColumn) == "25,65";
    }));
    GuiTest::grabToPng(&window, "device-panel-netns-volume");

    panel->showSetWidgetsForColumn(ZAVezeDeviceTableWidget::RtpColumn);
    ZAVezeDeviceRtpSetWidget* rtp = panel->rtpSetWidget();
    for (int i = 0; i < ZAVezeDeviceRtpSetWidget::kFieldCount; ++i)
        rtp->field(i)->clear();
    QTest::keyClicks(rtp->field(0), "239.255.7.1:7000");
    QTest::keyClicks(rtp->field(5), "239.255.7.6:7010");
    QTest::mouseClick(rtp->setAllButton(), Qt::LeftButton);
    ASSERT_TRUE(GuiTest::waitFor([&] {
        return cellText(*table, 0, ZAVezeDeviceTableWidget::RtpColumn) == "239.255.7.1:7000"
               && cellText(*table, 1, ZAVezeDeviceTableWidget::RtpColumn) == "239.255.7.1:7000";
    }));
    GuiTest::grabToPng(&window, "device-panel-netns-rtp");

    // The devices took both changes: a new search lists them so.
    QStringList expected{"Hall speaker 25,65 1 239.255.7.1:7000,239.255.7.6:7010",
                         "Yard horn 25,65 1 239.255.7.1:7000,239.255.7.6:7010"};
    QStringList last;
    EXPECT_TRUE(GuiTest::waitFor([&] { return (last = settings(SimDeviceTool::search(tool))) == expected; }, 15000))
        << last.join(" | ").toStdString();
    tool.stop();
}
