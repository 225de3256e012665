#include "RDMonthDayView.h"
#include "RDMonthlyView.h"
#include "RDWeekDayView.h"
#include "RDWeeklyView.h"

#include "GuiTest.h"

#include <QTest>

#include <gtest/gtest.h>

TEST(RDWeeklyView, ValueRoundTrip)
{
    RDWeeklyView weekly;
    EXPECT_EQ(weekly.value(), "0;1;2;3;4;5;6;");
    const struct {
        const char* in;
        const char* out;
    } cases[] = {{"0;6;", "0;6;"}, {"", ""}, {"7;-1;x;3", "3;"}, {"6;0;", "0;6;"}, {"2;2;", "2;"}};
    for (const auto& c : cases) {
        weekly.setValue(c.in);
        EXPECT_EQ(weekly.value(), c.out) << c.in;
    }
}

TEST(RDMonthlyView, ValueRoundTrip)
{
    RDMonthlyView monthly;
    QString all;
    for (int day = 1; day <= 31; ++day)
        all += QStringLiteral("%1;").arg(day);
    EXPECT_EQ(monthly.value(), all);
    const struct {
        const char* in;
        const char* out;
    } cases[] = {{"1;15;31;", "1;15;31;"}, {"0;32;x;15", "15;"}, {"", ""}};
    for (const auto& c : cases) {
        monthly.setValue(c.in);
        EXPECT_EQ(monthly.value(), c.out) << c.in;
    }
}

TEST(RDDayPickers, ClicksToggleAndDisabledPickersIgnoreThem)
{
    RDWeeklyView weekly;
    weekly.resize(240, 34);
    weekly.show();
    QTest::mouseClick(weekly.days()[3], Qt::LeftButton);
    EXPECT_EQ(weekly.value(), "0;1;2;4;5;6;");
    QTest::mouseClick(weekly.days()[3], Qt::RightButton);
    EXPECT_EQ(weekly.value(), "0;1;2;4;5;6;");
    QTest::mouseClick(weekly.days()[3], Qt::LeftButton);
    EXPECT_EQ(weekly.value(), "0;1;2;3;4;5;6;");
    EXPECT_EQ(weekly.background.borderColor, QColor(53, 141, 0));

    weekly.setEnabled(false);
    QTest::mouseClick(weekly.days()[1], Qt::LeftButton);
    EXPECT_EQ(weekly.value(), "0;1;2;3;4;5;6;");
    EXPECT_EQ(weekly.background.borderColor, QColor(160, 160, 160));

    RDMonthlyView monthly;
    monthly.resize(284, 154);
    monthly.show();
    // Day 29 opens the fifth row.
    EXPECT_EQ(monthly.days()[28]->geometry(), QRect(2, 2 + 4 * 30, 40, 30));
    QTest::mouseClick(monthly.days()[28], Qt::LeftButton);
    EXPECT_FALSE(monthly.value().contains("29;"));
}

TEST(RDDayPickers, Pictures)
{
    QWidget page;
    page.setAutoFillBackground(true);
    page.resize(300, 260);
    RDWeeklyView* weekly = new RDWeeklyView(&page);
    weekly->setGeometry(10, 10, 280, 34);
    weekly->setValue("1;3;5;");
    RDWeeklyView* disabled = new RDWeeklyView(&page);
    disabled->setGeometry(10, 50, 280, 34);
    disabled->setValue("0;6;");
    disabled->setEnabled(false);
    RDMonthlyView* monthly = new RDMonthlyView(&page);
    monthly->setGeometry(10, 94, 280, 154);
    monthly->setValue("1;15;29;31;");
    page.show();
    EXPECT_FALSE(GuiTest::grabToPng(&page, "day_pickers").isEmpty());
}
