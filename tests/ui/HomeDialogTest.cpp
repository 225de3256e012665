// The main window offscreen, with the application object in this process: the layout of the
// bar, table and panel, the settings sections by clicked column, the search that clears the
// table, and the one channel editor window.
#include "HomeDialog.h"

#include "GuiTest.h"
#include "GuiTestHook.h"
#include "HomeTopWidget.h"
#include "RDButton.h"
#include "RDOptionsDialog.h"
#include "RtpInfoDialog.h"
#include "UiAppFixture.h"
#include "ZAVezeDevice.h"
#include "ZAVezeDeviceSectionWidget.h"
#include "ZAVezeDeviceSetWidget.h"
#include "ZAVezeDeviceTableWidget.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QJsonObject>
#include <QTableWidget>
#include <QTest>

#include <gtest/gtest.h>

namespace {

ZAVezeDevice device(int last, const char* name)
{
    ZAVezeDevice d;
    d.mac = QByteArray::fromHex("0012340000") + char(last);
    d.ip = QByteArray::fromHex("c0a801") + char(last);
    d.info.insert(QStringLiteral("name"), QLatin1String(name));
    d.info.insert(QStringLiteral("ip"), QStringLiteral("192.168.1.%1").arg(last));
    d.info.insert(QStringLiteral("mac"), QStringLiteral("00:12:34:00:00:%1").arg(last, 2, 16, QLatin1Char('0')));
    return d;
}

// The indexes of the panel's shown sections, in panel order.
QList<int> shownSections(ZAVezeDeviceSetWidget* panel)
{
    QList<int> shown;
    const auto sections = panel->sections();
    for (int i = 0; i < sections.size(); ++i) {
        if (!sections.at(i)->isHidden())
            shown << i;
    }
    return shown;
}

class HomeDialogTest : public UiAppFixture
{
};

} // namespace

TEST_F(HomeDialogTest, BarTableAndPanelGeometry)
{
    create();
    HomeDialog home(-1);
    home.showNormal();
    home.resize(1200, 800);
    const QMargins m = home.contentsMargins();
    const int w = 1200 - m.left() - m.right();
    EXPECT_EQ(home.topWidget()->geometry(), QRect(m.left() + 2, m.top(), w - 4, 35));
    EXPECT_EQ(home.setWidget()->geometry(), QRect(m.left(), 800 - m.bottom() - 300, w, 300));
    const QRect table = home.tableWidget()->geometry();
    EXPECT_EQ(table.left(), m.left() + 2);
    EXPECT_EQ(table.top(), home.topWidget()->geometry().bottom() + 4);
    EXPECT_EQ(table.bottom(), home.setWidget()->geometry().top() - 4);
    // The three buttons stand side by side, each border on the one before's last column.
    HomeTopWidget* top = home.topWidget();
    EXPECT_EQ(top->searchButton()->text(), "Scan Devices");
    EXPECT_EQ(top->rtpButton()->text(), "RTP Multicast");
    EXPECT_EQ(top->settingsButton()->text(), "Options");
    EXPECT_EQ(top->rtpButton()->geometry().left(), top->searchButton()->geometry().right());
    EXPECT_EQ(top->settingsButton()->geometry().left(), top->rtpButton()->geometry().right());
    EXPECT_FALSE(top->searchButton()->currentPixmap().isNull());
    home.tableWidget()->setDevices({device(10, "Hall"), device(11, "Yard")});
    GuiTest::grabToPng(&home, QStringLiteral("home_window"));
}

// A clicked column shows its settings sections; the panel is filled from the row's device, or
// from an empty record past the last device.
TEST_F(HomeDialogTest, CellClicksPickSectionsAndDevice)
{
    create();
    HomeDialog home(-1);
    home.showNormal();
    home.resize(1200, 800);
    home.tableWidget()->setDevices({device(10, "Hall"), device(11, "Yard")});
    ZAVezeDeviceSetWidget* panel = home.setWidget();
    // Sections in panel order: name, network, SIP, RTP, firmware, volume, system.
    const struct
    {
        int column;
        QList<int> shown;
    } rows[] = {{0, {}}, {3, {0, 1}}, {4, {}}, {5, {0, 1}}, {7, {0, 1}}, {8, {2}},
                {9, {3}}, {10, {4}}, {11, {5, 6}}, {12, {5, 6}}, {13, {}}};
    for (const auto& row : rows) {
        home.onTableWidgetCellClicked(1, row.column);
        EXPECT_EQ(shownSections(panel), row.shown) << row.column;
        EXPECT_EQ(panel->device().name(), "Yard") << row.column;
    }
    home.onTableWidgetCellClicked(0, 3);
    EXPECT_EQ(panel->device().name(), "Hall");
    GuiTest::grabToPng(&home, QStringLiteral("home_name_sections"));
    home.onTableWidgetCellClicked(2, 3);
    EXPECT_TRUE(panel->device().name().isEmpty()) << "the row past the last device";
    EXPECT_TRUE(panel->device().mac.isEmpty());
}

// A search that is not accepted leaves no device behind: no rows, none ticked.
TEST_F(HomeDialogTest, CancelledSearchClearsTheList)
{
    create();
    HomeDialog home(-1);
    home.tableWidget()->setDevices({device(10, "Hall"), device(11, "Yard")});
    home.onTableWidgetCellClicked(0, 3);
    GuiTest::onModal([](QWidget* modal) { static_cast<QDialog*>(modal)->reject(); });
    home.onClickSearchButton();
    EXPECT_EQ(home.tableWidget()->tableWidget()->rowCount(), 0);
    EXPECT_TRUE(home.tableWidget()->devices().isEmpty());
    EXPECT_TRUE(home.tableWidget()->checkedDevices().isEmpty());
    EXPECT_TRUE(shownSections(home.setWidget()).isEmpty());
}

namespace {

// Sees the search dialog being shown modal and closes it. Polling for the modal widget can miss
// it: without a device tool the search ends at once, and the dialog may close before a poll.
class SearchDialogSpy : public QObject
{
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show && watched->inherits("ZAVezeDeviceSearchDialog")) {
            auto* dialog = static_cast<QDialog*>(watched);
            shownModal = shownModal || dialog->isModal();
            QMetaObject::invokeMethod(dialog, "reject", Qt::QueuedConnection);
        }
        return false;
    }
    bool shownModal = false;
};

} // namespace

// The first scan starts by itself after the auto-scan delay.
TEST_F(HomeDialogTest, AutoScanStartsTheSearch)
{
    create();
    SearchDialogSpy spy;
    qApp->installEventFilter(&spy);
    HomeDialog home(10);
    // Generous: building the window and starting the search take seconds on a loaded machine
    // under the sanitizers.
    EXPECT_TRUE(GuiTest::waitFor([&] { return spy.shownModal; }, 30000));
    qApp->removeEventFilter(&spy);
}

// "RTP Multicast" makes the editor once and then brings the same one forward, centred.
TEST_F(HomeDialogTest, OneChannelEditorWindow)
{
    ASSERT_TRUE(start());
    HomeDialog home(-1);
    home.showNormal();
    home.resize(1200, 800);
    EXPECT_EQ(home.rtpInfoDialog(), nullptr);
    QTest::mouseClick(home.topWidget()->rtpButton(), Qt::LeftButton);
    RtpInfoDialog* editor = home.rtpInfoDialog();
    ASSERT_NE(editor, nullptr);
    EXPECT_TRUE(editor->isVisible());
    GuiTest::grabToPng(editor, QStringLiteral("home_channel_editor"));
    editor->hide();
    QTest::mouseClick(home.topWidget()->rtpButton(), Qt::LeftButton);
    EXPECT_EQ(home.rtpInfoDialog(), editor);
    EXPECT_TRUE(editor->isVisible());
    // Centred, give or take the window frames.
    EXPECT_LE((editor->geometry().center() - home.geometry().center()).manhattanLength(), 6);
}

TEST_F(HomeDialogTest, OptionsRunModallyEachTimeAnew)
{
    create();
    HomeDialog home(-1);
    QList<QWidget*> seen;
    for (int i = 0; i < 2; ++i) {
        GuiTest::onModal([&](QWidget* modal) {
            seen << modal;
            EXPECT_NE(qobject_cast<RDOptionsDialog*>(modal), nullptr);
            static_cast<QDialog*>(modal)->reject();
        });
        QTest::mouseClick(home.topWidget()->settingsButton(), Qt::LeftButton);
    }
    EXPECT_EQ(seen.size(), 2);
}
