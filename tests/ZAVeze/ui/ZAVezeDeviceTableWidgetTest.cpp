#include "ZAVezeDeviceTableWidget.h"

#include "DeviceFixtures.h"
#include "GuiTest.h"
#include "RDLanguage.h"
#include "ZAVezeDeviceCheckWidget.h"
#include "ZAVezeDeviceHeaderView.h"
#include "ZAVezeDeviceItemWidget.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QJsonObject>
#include <QScreen>
#include <QTableWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <thread>

namespace {

QString cellText(const ZAVezeDeviceTableWidget& table, int row, int column)
{
    auto* cell = qobject_cast<ZAVezeDeviceItemWidget*>(table.tableWidget()->cellWidget(row, column));
    return cell ? cell->text() : QStringLiteral("<no cell>");
}

ZAVezeDeviceCheckWidget* tick(const ZAVezeDeviceTableWidget& table, int row)
{
    return qobject_cast<ZAVezeDeviceCheckWidget*>(table.tableWidget()->cellWidget(row, 0));
}

QStringList names(const QVector<ZAVezeDevice>& devices)
{
    QStringList list;
    for (const ZAVezeDevice& d : devices)
        list << d.name();
    return list;
}

} // namespace

TEST(ZAVezeDeviceTableWidget, CellsShowTheRecordTexts)
{
    ZAVezeDevice sparse;
    sparse.mac = QByteArray::fromHex("020000000009");
    sparse.ip = QByteArray::fromHex("0a000001");
    sparse.info = QJsonObject{{"name", 42}, {"ip", "10.0.0.1"}, {"micVolume", "3"}};
    ZAVezeDeviceTableWidget table;
    table.resize(1200, 200);
    table.setDevices({DeviceFixtures::device(1), sparse});
    QTableWidget* view = table.tableWidget();
    ASSERT_EQ(view->rowCount(), 2);
    ASSERT_EQ(view->columnCount(), 13);
    const QStringList headers = {"", "", "No.", "Name", "MAC", "IP Address", "Netmask", "Gateway", "SIP Account",
                                 "RTP Multicast", "Firmware Version", "Volume", "System"};
    for (int c = 0; c < 13; ++c)
        EXPECT_EQ(view->horizontalHeaderItem(c)->text(), headers[c]) << c;
    const QStringList first = {"", "", "1", "Speaker 1", "02:00:00:00:00:01", "192.168.1.11", "255.255.255.0",
                               "192.168.1.1", "101@192.168.1.2:5060", "239.255.0.1:8000", "V1.4.2", "5,7", "admin"};
    // A number is shown as decimal text, a missing key as empty text.
    const QStringList second = {"", "", "2", "42", "", "10.0.0.1", "", "", "", "", "", "3,0", ""};
    for (int c = 0; c < 13; ++c) {
        EXPECT_EQ(cellText(table, 0, c), first[c]) << c;
        EXPECT_EQ(cellText(table, 1, c), second[c]) << c;
    }
    EXPECT_EQ(view->item(0, 3)->flags(), Qt::ItemIsSelectable | Qt::ItemIsEditable | Qt::ItemIsEnabled);
    EXPECT_EQ(view->item(0, 4)->flags(), Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    EXPECT_EQ(view->item(0, 0)->flags(), Qt::ItemIsEnabled);
    EXPECT_TRUE(view->item(0, 3)->text().isEmpty());
}

TEST(ZAVezeDeviceTableWidget, ColumnWidthsShareTheWidthLeft)
{
    ZAVezeDeviceTableWidget table;
    table.resize(1200, 200);
    table.setDevices(DeviceFixtures::devices(1));
    QTableWidget* view = table.tableWidget();
    EXPECT_EQ(view->columnWidth(0), 30);
    EXPECT_EQ(view->columnWidth(1), 30);
    EXPECT_EQ(view->columnWidth(2), 50);
    const double s = QGuiApplication::primaryScreen()->logicalDotsPerInch() / 96.0;
    const int expected = int(std::trunc(((1200 - 110) - 13 * s) / 10 - 2 * s));
    for (int c = 3; c < 13; ++c)
        EXPECT_EQ(view->columnWidth(c), expected) << c;
    EXPECT_EQ(table.header()->sizeHint().height(), 30);
}

TEST(ZAVezeDeviceTableWidget, HeaderBoxAndRowTicksFollowEachOther)
{
    ZAVezeDeviceTableWidget table;
    table.resize(1200, 200);
    EXPECT_TRUE(table.checkedDevices().isEmpty());   // no rows: nothing ticked
    table.setDevices(DeviceFixtures::devices(3));
    table.show();
    QCheckBox* all = table.header()->checkBox();
    EXPECT_TRUE(GuiTest::waitFor([&] { return all->isVisible(); }));
    EXPECT_TRUE(table.checkedDevices().isEmpty());

    QTest::mouseClick(tick(table, 2), Qt::LeftButton);
    QTest::mouseClick(tick(table, 0), Qt::LeftButton);
    EXPECT_EQ(names(table.checkedDevices()), (QStringList{"Speaker 1", "Speaker 3"}));
    EXPECT_FALSE(all->isChecked());
    QTest::mouseClick(tick(table, 1), Qt::LeftButton);
    EXPECT_TRUE(all->isChecked());
    QTest::mouseClick(tick(table, 1), Qt::LeftButton);
    EXPECT_FALSE(all->isChecked());

    all->click();
    EXPECT_EQ(table.checkedDevices().size(), 3);
    all->click();
    EXPECT_TRUE(table.checkedDevices().isEmpty());
    // A press on header section 0 clicks the box as well.
    const int x = table.header()->sectionPosition(0) + 3;
    QTest::mouseClick(table.header()->viewport(), Qt::LeftButton, {}, QPoint(x, 3));
    EXPECT_TRUE(all->isChecked());
    EXPECT_EQ(table.checkedDevices().size(), 3);
    GuiTest::grabToPng(&table, "device-table-ticked");
}

TEST(ZAVezeDeviceTableWidget, CtrlCCopiesTheSelectedCellsAsTabSeparatedText)
{
    ZAVezeDeviceTableWidget table;
    table.resize(1200, 200);
    table.setDevices(DeviceFixtures::devices(2));
    table.show();
    QTableWidget* view = table.tableWidget();
    QItemSelectionModel* selection = view->selectionModel();
    selection->select(view->model()->index(0, 3), QItemSelectionModel::Select);
    selection->select(view->model()->index(0, 5), QItemSelectionModel::Select);
    selection->select(view->model()->index(1, 4), QItemSelectionModel::Select);
    QClipboard* clipboard = QGuiApplication::clipboard();

    clipboard->setText("before");
    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(clipboard->text(), "before");

    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(clipboard->text(), "Speaker 1\t\t192.168.1.11\n\t02:00:00:00:00:02");

    selection->clearSelection();
    clipboard->setText("before");
    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(clipboard->text(), "before");
}

TEST(ZAVezeDeviceTableWidget, UpdatesFromAWorkerReachTheRowWithTheSameMac)
{
    // Factory-fresh devices share one address: only the MAC tells them apart.
    QVector<ZAVezeDevice> devices = {DeviceFixtures::device(1, "192.168.1.100"),
                                     DeviceFixtures::device(2, "192.168.1.100")};
    ZAVezeDeviceTableWidget table;
    table.resize(1200, 200);
    table.setDevices(devices);
    ZAVezeDevice changed = devices[1];
    changed.setName("Renamed");
    changed.setIpAddress("192.168.1.50");
    ZAVezeDevice stranger = DeviceFixtures::device(9, "192.168.1.100");
    stranger.setName("Stranger");
    std::thread worker([&] {
        table.updateDevice(stranger);
        table.updateDevice(changed);
    });
    worker.join();
    EXPECT_EQ(cellText(table, 1, 3), "Speaker 2");   // not before the event loop runs
    ASSERT_TRUE(GuiTest::waitFor([&] { return cellText(table, 1, 3) == "Renamed"; }));
    EXPECT_EQ(cellText(table, 1, 5), "192.168.1.50");
    EXPECT_EQ(cellText(table, 0, 3), "Speaker 1");
    EXPECT_EQ(table.devices()[1].name(), "Renamed");   // the stored record follows
    EXPECT_EQ(names(table.devices()), (QStringList{"Speaker 1", "Renamed"}));
}

TEST(ZAVezeDeviceTableWidget, ALanguageChangeRebuildsTheRowsAndClearsTicks)
{
    ZAVezeDeviceTableWidget table;
    table.resize(1200, 200);
    table.setDevices(DeviceFixtures::devices(2));
    tick(table, 0)->setChecked(true);
    EXPECT_EQ(table.checkedDevices().size(), 1);
    table.localize();
    EXPECT_TRUE(table.checkedDevices().isEmpty());
    EXPECT_EQ(table.tableWidget()->rowCount(), 2);
    EXPECT_EQ(cellText(table, 1, 3), "Speaker 2");
}

TEST(ZAVezeDeviceTableWidget, LooksRightWithSomeDevices)
{
    ZAVezeDeviceTableWidget table;
    table.resize(1200, 220);
    table.setDevices(DeviceFixtures::devices(4));
    table.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&table));
    EXPECT_FALSE(GuiTest::grabToPng(&table, "device-table").isEmpty());
    ZAVezeDeviceTableWidget empty;
    empty.resize(1200, 120);
    empty.setDevices({});
    empty.show();
    EXPECT_EQ(empty.tableWidget()->columnCount(), 13);
    EXPECT_FALSE(GuiTest::grabToPng(&empty, "device-table-empty").isEmpty());
}
