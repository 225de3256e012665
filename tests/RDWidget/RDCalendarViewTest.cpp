#include "RDButton.h"
#include "RDCalendarItemView.h"
#include "RDCalendarView.h"
#include "RDLabel.h"

#include "GuiTest.h"

#include <QTest>

#include <gtest/gtest.h>

namespace {

struct MonthLayout
{
    int firstEnabled = -1;
    int enabledCount = 0;
    QDate cell0;
    QDate cell41;
};

MonthLayout readCells(const RDCalendarView& view)
{
    MonthLayout layout;
    for (int i = 0; i < RDCalendarView::kCells; ++i) {
        if (view.cells()[i]->isEnabled()) {
            if (layout.firstEnabled < 0)
                layout.firstEnabled = i;
            ++layout.enabledCount;
        }
    }
    layout.cell0 = view.cells()[0]->date;
    layout.cell41 = view.cells()[41]->date;
    return layout;
}

} // namespace

TEST(RDCalendarView, MonthTable)
{
    const struct {
        QDate month;
        const char* title;
        int firstEnabled;
        int enabledCount;
        QDate cell0;
        QDate cell41;
    } cases[] = {
        // February 2024 starts on a Thursday and has 29 days.
        {QDate(2024, 2, 10), "2024-02", 4, 29, QDate(2024, 1, 28), QDate(2024, 3, 9)},
        // April 2024 starts on a Monday: the previous month's last day under Sunday.
        {QDate(2024, 4, 1), "2024-04", 1, 30, QDate(2024, 3, 31), QDate(2024, 5, 11)},
        // September 2024 starts on a Sunday: a whole first row of August.
        {QDate(2024, 9, 30), "2024-09", 7, 30, QDate(2024, 8, 25), QDate(2024, 10, 5)},
        {QDate(2023, 2, 1), "2023-02", 3, 28, QDate(2023, 1, 29), QDate(2023, 3, 11)},
    };
    RDCalendarView view;
    for (const auto& c : cases) {
        view.setCurrentDate(c.month);
        const MonthLayout layout = readCells(view);
        EXPECT_EQ(view.titleLabel()->text(), c.title);
        EXPECT_EQ(layout.firstEnabled, c.firstEnabled) << c.title;
        EXPECT_EQ(layout.enabledCount, c.enabledCount) << c.title;
        EXPECT_EQ(layout.cell0, c.cell0) << c.title;
        EXPECT_EQ(layout.cell41, c.cell41) << c.title;
        EXPECT_EQ(view.cells()[c.firstEnabled]->date.day(), 1) << c.title;
    }
}

TEST(RDCalendarView, ArrowsWrapTheYear)
{
    RDCalendarView view;
    view.resize(300, 260);
    view.show();
    view.setCurrentDate(QDate(2023, 12, 31));
    QTest::mouseClick(view.nextButton(), Qt::LeftButton);
    ASSERT_TRUE(GuiTest::waitFor([&] { return view.currentDate() == QDate(2024, 1, 1); }));
    EXPECT_EQ(view.titleLabel()->text(), "2024-01");
    QTest::mouseClick(view.prevButton(), Qt::LeftButton);
    QTest::mouseClick(view.prevButton(), Qt::LeftButton);
    ASSERT_TRUE(GuiTest::waitFor([&] { return view.currentDate() == QDate(2023, 11, 1); }));
}

TEST(RDCalendarView, ClickSelectsAndTheSelectionSurvivesPaging)
{
    RDCalendarView view;
    view.resize(300, 260);
    view.show();
    view.setCurrentDate(QDate(2024, 2, 1));
    RDCalendarItemView* the29th = view.cells()[4 + 28];
    QTest::mouseClick(the29th, Qt::LeftButton);
    ASSERT_TRUE(GuiTest::waitFor([&] { return view.selectedDate() == QDate(2024, 2, 29); }));
    EXPECT_TRUE(the29th->selected);

    // A disabled cell of the next month gets no click.
    RDCalendarItemView* march1 = view.cells()[4 + 29];
    EXPECT_FALSE(march1->isEnabled());
    QTest::mouseClick(march1, Qt::LeftButton);
    QCoreApplication::processEvents();
    EXPECT_EQ(view.selectedDate(), QDate(2024, 2, 29));

    // March shows 29 February greyed in its first row, still selected.
    view.setCurrentDate(QDate(2024, 3, 1));
    EXPECT_EQ(view.selectedDate(), QDate(2024, 2, 29));
    RDCalendarItemView* shown = view.cells()[4];   // March 2024 starts on a Friday
    EXPECT_EQ(shown->date, QDate(2024, 2, 29));
    EXPECT_TRUE(shown->selected);
    EXPECT_FALSE(shown->isEnabled());
}

TEST(RDCalendarView, SetSelectedDateShowsItsMonth)
{
    RDCalendarView view;
    view.setSelectedDate(QDate(2026, 12, 24));
    EXPECT_EQ(view.selectedDate(), QDate(2026, 12, 24));
    EXPECT_EQ(view.titleLabel()->text(), "2026-12");
    // December 2026 starts on a Tuesday.
    RDCalendarItemView* cell = view.cells()[2 + 23];
    EXPECT_EQ(cell->date, QDate(2026, 12, 24));
    EXPECT_TRUE(cell->selected);
    int selected = 0;
    for (RDCalendarItemView* c : view.cells())
        selected += c->selected ? 1 : 0;
    EXPECT_EQ(selected, 1);

    view.setSelectedDate(QDate());
    EXPECT_EQ(view.selectedDate(), QDate(2026, 12, 24));
}

TEST(RDCalendarView, LayoutAndPicture)
{
    RDCalendarView view;
    view.resize(300, 260);
    view.setCurrentDate(QDate(2024, 2, 1));
    view.onClickItemView(view.cells()[4 + 13]);   // 14 February
    view.show();
    EXPECT_EQ(view.prevButton()->geometry(), QRect(15, 7, 9, 15));
    EXPECT_EQ(view.nextButton()->geometry(), QRect(276, 7, 9, 15));
    EXPECT_EQ(view.titleLabel()->geometry(), QRect(30, 5, 240, 20));
    EXPECT_EQ(view.weekdayLabels()[6]->geometry(), QRect(10 + 6 * 40, 30, 40, 20));
    EXPECT_EQ(view.cells()[41]->geometry(), QRect(10 + 6 * 40, 30 + 20 + 5 * 35, 40, 35));
    const QImage image = view.grab().toImage();
    EXPECT_EQ(image.pixelColor(150, 3), QColor(25, 164, 255));   // the band
    EXPECT_EQ(image.pixelColor(150, 255), QColor(Qt::white));    // the body
    EXPECT_FALSE(GuiTest::grabToPng(&view, "calendar_2024_02").isEmpty());
}
