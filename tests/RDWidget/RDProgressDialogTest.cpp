#include "RDProgressDialog.h"

#include "GuiTest.h"

#include <QLabel>
#include <QProgressBar>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

// A task that loops until stopped, or, with finishAfter set, reports and dismisses.
class LoopDialog : public RDProgressDialog
{
public:
    explicit LoopDialog(int finishAfterSteps = -1)
        : m_finishAfter(finishAfterSteps)
    {
    }
    ~LoopDialog() override { stopTask(); }

    void stop() override { stopHookCalled = true; }
    void run() override
    {
        for (int step = 0; !isStop(); ++step) {
            if (step == m_finishAfter) {
                setMessage(QStringLiteral("Step %1 done").arg(step));
                dismiss();
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        runReturned = true;
    }
    QProgressBar* bar() const { return progressBar; }
    QLabel* label() const { return messageLabel; }

    std::atomic<bool> stopHookCalled{false};
    std::atomic<bool> runReturned{false};

private:
    const int m_finishAfter;
};

} // namespace

TEST(RDProgressDialog, LayoutAndBusyBar)
{
    LoopDialog dialog;
    dialog.show();
    EXPECT_EQ(dialog.size(), QSize(300, 80));
    EXPECT_EQ(dialog.label()->geometry(), QRect(10, 10, 280, 30));
    EXPECT_EQ(dialog.bar()->geometry(), QRect(10, 49, 280, 10));
    EXPECT_EQ(dialog.bar()->minimum(), 0);
    EXPECT_EQ(dialog.bar()->maximum(), 0);
    EXPECT_TRUE(dialog.isStop());   // no task yet
}

TEST(RDProgressDialog, TaskSetsMessageAndDismisses)
{
    LoopDialog dialog(3);
    dialog.setMessage("Searching");
    EXPECT_EQ(dialog.message(), "Searching");
    ASSERT_TRUE(dialog.start());
    EXPECT_FALSE(dialog.start());   // one task per dialog
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_TRUE(GuiTest::waitFor([&] { return dialog.message() == "Step 3 done"; }));
    EXPECT_TRUE(dialog.runReturned);
    EXPECT_FALSE(dialog.stopHookCalled);
}

TEST(RDProgressDialog, TaskDoneBeforeExecStillEndsIt)
{
    LoopDialog dialog(0);
    ASSERT_TRUE(dialog.start());
    while (!dialog.runReturned)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // The queued accept arrives inside exec.
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
}

TEST(RDProgressDialog, CloseStopsAndWaitsForTheTask)
{
    LoopDialog dialog;
    ASSERT_TRUE(dialog.start());
    GuiTest::onModal([&](QWidget* modal) { modal->close(); });
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
    // closeEvent returned only after run() had.
    EXPECT_TRUE(dialog.runReturned);
    EXPECT_TRUE(dialog.stopHookCalled);
    EXPECT_TRUE(dialog.isStop());
}

TEST(RDProgressDialog, CloseAfterTheTaskFinishedDoesNotHang)
{
    LoopDialog dialog(1);
    ASSERT_TRUE(dialog.start());
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    dialog.close();
    EXPECT_TRUE(dialog.isStop());
}

TEST(RDProgressDialog, DestroyedWithAFinishedTaskReleasesIt)
{
    auto dialog = std::make_unique<LoopDialog>(1);
    ASSERT_TRUE(dialog->start());
    EXPECT_EQ(dialog->exec(), QDialog::Accepted);
    dialog.reset();   // no close: the destructor waits and releases the worker (ASan/LSan)
}

TEST(RDProgressDialog, SetMessageFromAWorkerIsQueued)
{
    LoopDialog dialog;
    std::thread worker([&] { dialog.setMessage("from worker"); });
    worker.join();
    EXPECT_NE(dialog.message(), "from worker");   // not before the GUI thread runs the call
    EXPECT_TRUE(GuiTest::waitFor([&] { return dialog.message() == "from worker"; }));
}
