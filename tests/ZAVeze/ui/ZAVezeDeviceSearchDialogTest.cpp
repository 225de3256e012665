#include "ZAVezeDeviceSearchDialog.h"

#include "DeviceFixtures.h"
#include "GuiTest.h"
#include "ScriptedTool.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QThread>

#include <gtest/gtest.h>

namespace {

QStringList addresses(const QVector<ZAVezeDevice>& devices)
{
    QStringList list;
    for (const ZAVezeDevice& d : devices)
        list << d.ipAddress();
    return list;
}

} // namespace

TEST(ZAVezeDeviceSearchDialog, SortsByTheAddressBytesAndKeepsDuplicates)
{
    struct Case
    {
        QStringList found;
        QStringList sorted;
    };
    const Case cases[] = {
        {{"192.168.1.10", "192.168.1.2", "10.1.1.1"}, {"10.1.1.1", "192.168.1.2", "192.168.1.10"}},
        {{"192.168.1.9", "10.0.0.2", "192.168.1.10"}, {"10.0.0.2", "192.168.1.9", "192.168.1.10"}},
        // Bytes above 127 compare as unsigned.
        {{"200.1.1.1", "100.1.1.1", "1.1.1.255", "1.1.1.1"}, {"1.1.1.1", "1.1.1.255", "100.1.1.1", "200.1.1.1"}},
        {{"10.0.0.5", "10.0.0.5", "10.0.0.1"}, {"10.0.0.1", "10.0.0.5", "10.0.0.5"}},
    };
    for (const Case& c : cases) {
        ScriptedTool tool;
        QVector<ZAVezeDevice> found;
        for (int i = 0; i < c.found.size(); ++i)
            found << DeviceFixtures::device(i + 1, c.found[i]);
        tool.setSearchResult(found);
        ZAVezeDeviceSearchDialog dialog;
        ASSERT_TRUE(dialog.startSearch(&tool, 0.05));
        EXPECT_EQ(dialog.exec(), QDialog::Accepted);
        EXPECT_EQ(addresses(dialog.devices()), c.sorted);
    }
}

TEST(ZAVezeDeviceSearchDialog, NoDeviceClosesAcceptedAfterTheSearchTime)
{
    ScriptedTool tool;
    ZAVezeDeviceSearchDialog dialog;
    EXPECT_EQ(dialog.size(), QSize(300, 80));
    QElapsedTimer timer;
    timer.start();
    ASSERT_TRUE(dialog.startSearch(&tool, 0.5));
    GuiTest::onModal([](QWidget* modal) { GuiTest::grabToPng(modal, "search-dialog"); });
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_GE(timer.elapsed(), 450);
    EXPECT_TRUE(dialog.devices().isEmpty());
    EXPECT_EQ(dialog.message(), "Searching devices");
}

TEST(ZAVezeDeviceSearchDialog, ASearchDoneBeforeExecStillAccepts)
{
    ScriptedTool tool;
    tool.setSearchResult({DeviceFixtures::device(1)});
    ZAVezeDeviceSearchDialog dialog;
    ASSERT_TRUE(dialog.startSearch(&tool, 0));
    // The worker has finished and posted its dismissal before the modal loop runs.
    QThread::msleep(100);
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_LT(timer.elapsed(), 2000);
    EXPECT_EQ(dialog.devices().size(), 1);
}

TEST(ZAVezeDeviceSearchDialog, ClosingCancelsTheSearchAndRejects)
{
    ScriptedTool tool;
    tool.setSearchResult({DeviceFixtures::device(1)});
    ZAVezeDeviceSearchDialog dialog;
    ASSERT_TRUE(dialog.startSearch(&tool, 30));
    QElapsedTimer timer;
    GuiTest::onModal([&](QWidget* modal) {
        timer.start();
        modal->close();
    });
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
    EXPECT_LT(timer.elapsed(), 2000);
    EXPECT_TRUE(tool.isCancelled());
    EXPECT_TRUE(dialog.devices().isEmpty());
}

TEST(ZAVezeDeviceSearchDialog, WithoutAToolItFindsNothingAndClosingIsSafe)
{
    ZAVezeDeviceSearchDialog unstarted;
    unstarted.close();   // stop before any search: no tool to cancel
    ZAVezeDeviceSearchDialog dialog;
    ASSERT_TRUE(dialog.startSearch(nullptr, 3.0));
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_TRUE(dialog.devices().isEmpty());
}
