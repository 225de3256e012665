#include "RDDialog.h"
#include "RDLabel.h"
#include "RDToast.h"
#include "RDToastPopup.h"

#include "GuiTest.h"

#include <QElapsedTimer>
#include <QTest>

#include <gtest/gtest.h>

#include <thread>

namespace {

int labelChildren(QWidget* host)
{
    int count = 0;
    for (RDLabel* label : host->findChildren<RDLabel*>(QString(), Qt::FindDirectChildrenOnly))
        count += label->objectName() == "toast" ? 1 : 0;
    return count;
}

} // namespace

TEST(RDToast, Placement)
{
    const QSize host(400, 300);
    const QSize label(80, 36);
    const struct {
        int alignment;
        QPoint expected;
    } cases[] = {
        {RDToastPopup::kDefaultAlignment, QPoint(160, 259)},
        {0, QPoint(5, 5)},
        {Qt::AlignLeft | Qt::AlignHCenter | Qt::AlignBottom, QPoint(5, 259)},
        {Qt::AlignRight | Qt::AlignTop | Qt::AlignVCenter, QPoint(315, 5)},
        {Qt::AlignCenter, QPoint(160, 132)},
        {Qt::AlignRight | Qt::AlignBottom, QPoint(315, 259)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RDToastPopup::position(host, label, c.alignment, 5, 5), c.expected) << c.alignment;
}

TEST(RDToast, LabelLooksAndSitsAsAsked)
{
    RDToast host;
    host.resize(400, 300);
    host.show();
    host.showToast("Save Success");
    RDLabel* toast = host.currentToast();
    ASSERT_NE(toast, nullptr);
    EXPECT_EQ(toast->text(), "Save Success");
    EXPECT_EQ(toast->background.fillColor, QColor(0, 0, 0, 160));
    EXPECT_EQ(toast->background.radius, 3);
    EXPECT_EQ(toast->textColor(), QColor(255, 255, 255));
    EXPECT_EQ(toast->size(), toast->sizeHint());
    EXPECT_EQ(toast->pos(), QPoint((400 - toast->width()) / 2, 300 - 5 - toast->height()));
    EXPECT_TRUE(toast->isVisible());
}

TEST(RDToast, ReplaceClickAndHide)
{
    RDToast host;
    host.resize(400, 300);
    host.show();
    host.hideToast();   // none shown: nothing happens
    host.showToast("first");
    host.showToast("second", Qt::AlignLeft | Qt::AlignTop, 7, 9);
    EXPECT_EQ(labelChildren(&host), 1);
    ASSERT_NE(host.currentToast(), nullptr);
    EXPECT_EQ(host.currentToast()->text(), "second");
    EXPECT_EQ(host.currentToast()->pos(), QPoint(7, 9));

    QTest::mouseClick(host.currentToast(), Qt::LeftButton);
    EXPECT_NE(host.currentToast(), nullptr);   // goes after 10 ms
    EXPECT_TRUE(GuiTest::waitFor([&] { return host.currentToast() == nullptr; }, 1000));
    EXPECT_EQ(labelChildren(&host), 0);

    RDDialog dialog;
    dialog.resize(400, 300);
    dialog.show();
    dialog.showToast("dialog toast");
    ASSERT_NE(dialog.currentToast(), nullptr);
    QTest::mouseClick(dialog.currentToast(), Qt::LeftButton);
    EXPECT_EQ(dialog.currentToast(), nullptr);   // at once on a dialog
}

TEST(RDToast, ShowAndHideFromAWorkerThread)
{
    RDToast widget;
    widget.resize(300, 200);
    RDDialog dialog;
    dialog.resize(300, 200);
    std::thread([&] {
        widget.showToast("from worker", Qt::AlignCenter);
        dialog.showToast("from worker", Qt::AlignTop | Qt::AlignRight, 8, 8);
    }).join();
    EXPECT_EQ(widget.currentToast(), nullptr);
    ASSERT_TRUE(GuiTest::waitFor([&] { return widget.currentToast() && dialog.currentToast(); }));
    EXPECT_EQ(dialog.currentToast()->pos(), QPoint(300 - 8 - dialog.currentToast()->width(), 8));
    std::thread([&] {
        widget.hideToast();
        dialog.hideToast();
    }).join();
    EXPECT_TRUE(GuiTest::waitFor([&] { return !widget.currentToast() && !dialog.currentToast(); }));
}

// A timer hides only its own toast: a toast shown 1500 ms after another still gets its two
// seconds.
TEST(RDToast, FadesOnItsOwnTimer)
{
    RDDialog dialog;
    dialog.resize(300, 200);
    dialog.show();
    QElapsedTimer clock;
    clock.start();
    dialog.showToast("A");
    ASSERT_TRUE(GuiTest::waitFor([&] { return clock.elapsed() >= 1500; }, 3000));
    dialog.showToast("B");
    RDLabel* second = dialog.currentToast();
    ASSERT_TRUE(GuiTest::waitFor([&] { return clock.elapsed() >= 2100; }, 3000));
    EXPECT_EQ(dialog.currentToast(), second);
    EXPECT_TRUE(GuiTest::waitFor([&] { return dialog.currentToast() == nullptr; }, 5000));
    // Two seconds after B, give or take a loaded machine.
    EXPECT_GE(clock.elapsed(), 3400);
}

TEST(RDToast, SampleDialogPicture)
{
    RDDialog dialog;
    dialog.fillColor = QColor(245, 245, 245);
    dialog.borderWidth = 1;
    dialog.borderColor = QColor(200, 200, 200);
    dialog.resize(400, 300);
    RDLabel* title = new RDLabel(&dialog);
    title->setText("Options");
    title->setGeometry(0, 10, 400, 30);
    dialog.show();
    dialog.showToast("Save Success");
    EXPECT_FALSE(GuiTest::grabToPng(&dialog, "dialog_with_toast").isEmpty());
}
