// The device windows with the real device tool against two simulated devices (netns-run.sh):
// a search fills the table, one device is renamed and the other given a static address from
// the table's cells, and the rows show both changes.

#include "GuiTest.h"
#include "SimDeviceTool.h"
#include "TestDeviceSim.h"
#include "ZAVeze.h"
#include "ZAVezeDeviceLineEdit.h"
#include "ZAVezeDeviceTableWidget.h"
#include "ZAVezeDeviceTextWidget.h"

#include <QApplication>
#include <QTableWidget>
#include <QTest>

#include <gtest/gtest.h>

namespace {

QStringList names(const QVector<ZAVezeDevice>& devices)
{
    QStringList list;
    for (const ZAVezeDevice& d : devices)
        list << d.name() + "@" + d.ipAddress();
    return list;
}

void editCell(ZAVezeDeviceTableWidget& table, int row, int column, const QString& text)
{
    auto* cell = qobject_cast<ZAVezeDeviceTextWidget*>(table.tableWidget()->cellWidget(row, column));
    ASSERT_NE(cell, nullptr);
    QTest::mouseDClick(cell, Qt::LeftButton);
    ASSERT_TRUE(cell->editor()->isVisible());
    cell->editor()->selectAll();
    QTest::keyClick(cell->editor(), Qt::Key_Backspace);
    QTest::keyClicks(cell->editor(), text);
    QTest::keyClick(cell->editor(), Qt::Key_Return);
}

QString cellText(const ZAVezeDeviceTableWidget& table, int row, int column)
{
    auto* cell = qobject_cast<ZAVezeDeviceTextWidget*>(table.tableWidget()->cellWidget(row, column));
    return cell ? cell->text() : QString();
}

} // namespace

TEST(ZAVezeDeviceWindows, SearchRenameAndStaticAddressShowInTheTable)
{
    const QString reason = TestDeviceSim::unavailableReason();
    if (!reason.isEmpty())
        GTEST_SKIP() << reason.toStdString();
    ASSERT_TRUE(TestDeviceSim::reset());
    ZAVeze tool;
    ASSERT_TRUE(SimDeviceTool::open(tool));

    const QVector<ZAVezeDevice> found = SimDeviceTool::search(tool);
    ASSERT_EQ(names(found), (QStringList{"Hall speaker@192.0.2.10", "Yard horn@192.0.2.11"}));

    ZAVezeDeviceTableWidget table;
    table.setZAVeze(&tool);
    table.resize(1500, 200);
    table.setDevices(found);
    table.show();
    QApplication::setActiveWindow(&table);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&table));

    editCell(table, 0, ZAVezeDeviceTableWidget::NameColumn, "Lobby");
    ASSERT_TRUE(GuiTest::waitFor([&] { return cellText(table, 0, ZAVezeDeviceTableWidget::NameColumn) == "Lobby"; }));
    editCell(table, 1, ZAVezeDeviceTableWidget::IpColumn, "192.0.2.50");
    ASSERT_TRUE(
        GuiTest::waitFor([&] { return cellText(table, 1, ZAVezeDeviceTableWidget::IpColumn) == "192.0.2.50"; }));
    EXPECT_EQ(table.devices()[1].ipMode(), "Static");
    EXPECT_EQ(cellText(table, 0, ZAVezeDeviceTableWidget::IpColumn), "192.0.2.10");
    EXPECT_EQ(cellText(table, 1, ZAVezeDeviceTableWidget::NameColumn), "Yard horn");
    GuiTest::grabToPng(&table, "device-table-netns");

    // The devices themselves took the changes: a new search lists them so.
    ASSERT_TRUE(GuiTest::waitFor(
        [&] { return names(SimDeviceTool::search(tool)).contains("Yard horn@192.0.2.50"); }, 15000));
    EXPECT_TRUE(names(SimDeviceTool::search(tool)).contains("Lobby@192.0.2.10"));
    tool.stop();
}
