#include "ZAVezeDeviceTableWidget.h"

#include "DeviceFixtures.h"
#include "GuiTest.h"
#include "RDLabel.h"
#include "RDPixmapWidget.h"
#include "ScriptedTool.h"
#include "UrlRecorder.h"
#include "ZAVezeDeviceBeepWidget.h"
#include "ZAVezeDeviceIpWidget.h"
#include "ZAVezeDeviceLineEdit.h"
#include "ZAVezeDeviceTextWidget.h"
#include "ZAVezeFrame.h"

#include <QApplication>
#include <QLineEdit>
#include <QTableWidget>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace {

// The table in a window beside another input, so that the editor can lose the focus.
class CellsFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        auto* layout = new QVBoxLayout(&window);
        table = new ZAVezeDeviceTableWidget(&window);
        other = new QLineEdit(&window);
        layout->addWidget(table);
        layout->addWidget(other);
        window.resize(1200, 260);
        table->setZAVeze(&tool);
        table->setDevices(DeviceFixtures::devices(2));
        window.show();
        QApplication::setActiveWindow(&window);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }

    ZAVezeDeviceTextWidget* cell(int row, int column) const
    {
        return qobject_cast<ZAVezeDeviceTextWidget*>(table->tableWidget()->cellWidget(row, column));
    }
    // Double-clicks the cell, replaces the editor's text; the editor, or null when none opened.
    ZAVezeDeviceLineEdit* edit(int row, int column, const QString& text)
    {
        ZAVezeDeviceTextWidget* c = cell(row, column);
        QTest::mouseDClick(c, Qt::LeftButton);
        if (!c->editor()->isVisible())
            return nullptr;
        c->editor()->selectAll();
        QTest::keyClick(c->editor(), Qt::Key_Backspace);
        QTest::keyClicks(c->editor(), text);
        return c->editor();
    }
    QString mac(int index) const { return ZAVezeFrame::macText(DeviceFixtures::device(index).mac); }

    ScriptedTool tool;
    QWidget window;
    ZAVezeDeviceTableWidget* table = nullptr;
    QLineEdit* other = nullptr;
};

} // namespace

TEST_F(CellsFixture, OnlyNameAndAddressCellsOpenAnEditor)
{
    for (int column : {2, 4, 8, 9, 10, 11, 12}) {
        QTest::mouseDClick(cell(0, column), Qt::LeftButton);
        EXPECT_FALSE(cell(0, column)->editor()->isVisible()) << column;
        EXPECT_TRUE(cell(0, column)->label()->isVisible()) << column;
    }
    for (int column : {3, 5, 6, 7}) {
        QTest::mouseDClick(cell(0, column), Qt::LeftButton);
        EXPECT_TRUE(cell(0, column)->editor()->isVisible()) << column;
        EXPECT_FALSE(cell(0, column)->label()->isVisible()) << column;
        EXPECT_EQ(cell(0, column)->editor()->text(), cell(0, column)->text());
        QTest::keyClick(cell(0, column)->editor(), Qt::Key_Escape);
    }
    EXPECT_TRUE(tool.commands().isEmpty());
}

TEST_F(CellsFixture, ADoubleClickOnAnEditingCellChangesNothing)
{
    ZAVezeDeviceLineEdit* editor = edit(0, 3, "Hall");
    ASSERT_NE(editor, nullptr);
    QTest::mouseDClick(cell(0, 3), Qt::LeftButton);
    EXPECT_EQ(editor->text(), "Hall");
    EXPECT_TRUE(editor->isVisible());
}

TEST_F(CellsFixture, EscapeOrAnUnchangedTextSendsNothing)
{
    ZAVezeDeviceLineEdit* editor = edit(0, 3, "Hall");
    ASSERT_NE(editor, nullptr);
    QTest::keyClick(editor, Qt::Key_Escape);
    EXPECT_FALSE(editor->isVisible());
    EXPECT_EQ(cell(0, 3)->text(), "Speaker 1");
    editor = edit(0, 3, "Speaker 1");
    QTest::keyClick(editor, Qt::Key_Return);
    EXPECT_FALSE(editor->isVisible());
    other->setFocus();
    QApplication::processEvents();
    EXPECT_TRUE(tool.commands().isEmpty());
}

// Return finishes the edit, and the focus loss that follows (the dialog, then another input)
// finishes it again: one command all the same.
TEST_F(CellsFixture, ReturnThenFocusLossSendsExactlyOneCommand)
{
    ZAVezeDeviceLineEdit* editor = edit(0, 3, "Hall");
    ASSERT_NE(editor, nullptr);
    QTest::keyClick(editor, Qt::Key_Return);
    other->setFocus();
    QApplication::processEvents();
    EXPECT_EQ(tool.commands(), QStringList{"SetName " + mac(1) + " Hall"});
    ASSERT_TRUE(GuiTest::waitFor([&] { return cell(0, 3)->text() == "Hall"; }));
    EXPECT_EQ(table->devices()[0].name(), "Hall");
}

TEST_F(CellsFixture, FocusLossAloneFinishesTheEditOnce)
{
    ZAVezeDeviceLineEdit* editor = edit(1, 3, "Yard");
    ASSERT_NE(editor, nullptr);
    other->setFocus();
    QApplication::processEvents();
    EXPECT_EQ(tool.commands(), QStringList{"SetName " + mac(2) + " Yard"});
}

TEST_F(CellsFixture, ARefusedNameKeepsTheOldLabel)
{
    tool.setOutcome(DeviceFixtures::device(1).mac, ScriptedTool::Fail);
    ZAVezeDeviceLineEdit* editor = edit(0, 3, "Hall");
    ASSERT_NE(editor, nullptr);
    QTest::keyClick(editor, Qt::Key_Return);
    EXPECT_EQ(tool.commands().size(), 1);
    QApplication::processEvents();
    EXPECT_EQ(cell(0, 3)->text(), "Speaker 1");
}

TEST_F(CellsFixture, AnIncompleteAddressOpensNoDialog)
{
    for (int column : {5, 6, 7}) {
        ZAVezeDeviceLineEdit* editor = edit(0, column, "192.168.1.");
        ASSERT_NE(editor, nullptr);
        QTest::keyClick(editor, Qt::Key_Return);
        EXPECT_FALSE(editor->isVisible());
    }
    EXPECT_TRUE(tool.commands().isEmpty());
    EXPECT_EQ(cell(0, 5)->text(), "192.168.1.11");
    EXPECT_EQ(cell(0, 6)->text(), "255.255.255.0");
    EXPECT_EQ(cell(0, 7)->text(), "192.168.1.1");
}

// Each address cell sends a static address built from its new value and the stored record.
TEST_F(CellsFixture, AddressEditsSendAStaticAddressWithTheStoredValues)
{
    struct Case
    {
        int column;
        QString text;
        QString command;
    };
    const Case cases[] = {
        {5, "192.168.1.77", "SetIpStatic %1 192.168.1.77 255.255.255.0 192.168.1.1 192.168.1.1 8.8.8.8"},
        {6, "255.255.0.0", "SetIpStatic %1 192.168.1.77 255.255.0.0 192.168.1.1 192.168.1.1 8.8.8.8"},
        {7, "192.168.1.254", "SetIpStatic %1 192.168.1.77 255.255.0.0 192.168.1.254 192.168.1.1 8.8.8.8"},
    };
    int sent = 0;
    for (const Case& c : cases) {
        ZAVezeDeviceLineEdit* editor = edit(0, c.column, c.text);
        ASSERT_NE(editor, nullptr);
        QTest::keyClick(editor, Qt::Key_Return);
        ++sent;
        ASSERT_EQ(tool.commands().size(), sent);
        EXPECT_EQ(tool.commands().last(), c.command.arg(mac(1)));
        // The label changes with the job's report, and the stored record with it.
        ASSERT_TRUE(GuiTest::waitFor([&] { return cell(0, c.column)->text() == c.text; }));
    }
    EXPECT_EQ(table->devices()[0].ipMode(), "Static");
}

TEST_F(CellsFixture, ARefusedAddressKeepsTheOldLabel)
{
    tool.setOutcome(DeviceFixtures::device(2).mac, ScriptedTool::Fail);
    ZAVezeDeviceLineEdit* editor = edit(1, 5, "192.168.1.99");
    ASSERT_NE(editor, nullptr);
    QTest::keyClick(editor, Qt::Key_Return);
    EXPECT_EQ(tool.commands().size(), 1);
    QApplication::processEvents();
    EXPECT_EQ(cell(1, 5)->text(), "192.168.1.12");
}

TEST_F(CellsFixture, TheWebButtonOpensTheDevicePage)
{
    UrlRecorder recorder;
    auto* ip = qobject_cast<ZAVezeDeviceIpWidget*>(cell(1, 5));
    ASSERT_NE(ip, nullptr);
    EXPECT_EQ(ip->webButton()->toolTip(), "http://192.168.1.12/index.html");
    QTest::mouseClick(ip->webButton(), Qt::LeftButton);
    ASSERT_EQ(recorder.urls().size(), 1);
    EXPECT_EQ(recorder.urls()[0], QUrl("http://192.168.1.12/index.html"));

    // The address comes from the device: leading zeros are dropped (a URL would read them as
    // octal), and what is not a dotted IPv4 address opens nothing.
    ZAVezeDevice zeros = DeviceFixtures::device(1);
    zeros.setIpAddress("010.000.001.012");
    table->setDevices({zeros});
    ip = qobject_cast<ZAVezeDeviceIpWidget*>(cell(0, 5));
    QTest::mouseClick(ip->webButton(), Qt::LeftButton);
    ASSERT_EQ(recorder.urls().size(), 2);
    EXPECT_EQ(recorder.urls()[1], QUrl("http://10.0.1.12/index.html"));
    ZAVezeDevice odd = DeviceFixtures::device(1);
    odd.setIpAddress("evil.example/x?");
    table->setDevices({odd});
    ip = qobject_cast<ZAVezeDeviceIpWidget*>(cell(0, 5));
    EXPECT_FALSE(ip->webButton()->isEnabled());
    ip->onClickWeb();
    EXPECT_EQ(recorder.urls().size(), 2);
}

TEST_F(CellsFixture, TheBeepButtonPlaysTheToneOnTheRowsDevice)
{
    auto* beep = qobject_cast<ZAVezeDeviceBeepWidget*>(table->tableWidget()->cellWidget(1, 1));
    ASSERT_NE(beep, nullptr);
    QTest::mouseClick(beep->button(), Qt::LeftButton);
    EXPECT_EQ(tool.commands(), QStringList{"PlayVolume " + mac(2)});
}

// Closing the window while a cell is being edited sends nothing.
TEST_F(CellsFixture, PicturesOfAnOpenEditor)
{
    ASSERT_NE(edit(1, 5, "192.168.1.4"), nullptr);
    EXPECT_FALSE(GuiTest::grabToPng(&window, "device-table-editing").isEmpty());
    window.close();
    QApplication::processEvents();
    EXPECT_TRUE(tool.commands().isEmpty());
}
