#include "RtpInfoScheduleDialog.h"

#include "GuiTest.h"
#include "GuiTestHook.h"
#include "RDButton.h"
#include "RDCalendarView.h"
#include "RDLabel.h"
#include "RDLabelButton.h"
#include "RDMonthlyView.h"
#include "RDPixmapCache.h"
#include "RDWeeklyView.h"
#include "RtpInfo.h"
#include "RtpScheduleItemWidget.h"
#include "RtpScheduleItemsView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimeEdit>

#include <gtest/gtest.h>

namespace {

RtpScheduleItem item(int type, const char* time, int source, int duration, int unit, int argument = 0)
{
    RtpScheduleItem it;
    it.type = type;
    it.startTime = QString::fromLatin1(time);
    it.source = source;
    it.duration = duration;
    it.durationUnit = unit;
    it.argument = argument;
    return it;
}

RtpSchedule schedule(int status, int repeat, const char* value, const QVector<RtpScheduleItem>& items)
{
    RtpSchedule s;
    s.status = status;
    s.repeat = repeat;
    s.value = QString::fromLatin1(value);
    s.items = items;
    return s;
}

QString today()
{
    return QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
}

// Adds a row through the creation bar.
void create(RtpInfoScheduleDialog& dialog, const QTime& time, int actionIndex, int sourceIndex)
{
    dialog.timeEdit()->setTime(time);
    dialog.actionList()->setCurrentIndex(actionIndex);
    dialog.sourceList()->setCurrentIndex(sourceIndex);
    QTest::mouseClick(dialog.createButton(), Qt::LeftButton);
}

bool showsPixmap(const RDButton* button, const char* path)
{
    return button->currentPixmap().cacheKey() == cachedPixmap(QString::fromLatin1(path), 19).cacheKey();
}

class RtpInfoScheduleDialogTest : public ::testing::Test
{
protected:
    void SetUp() override { GuiTest::hook().reset(); }
    void TearDown() override { GuiTest::hook().reset(); }
};

} // namespace

TEST_F(RtpInfoScheduleDialogTest, RoundTripTable)
{
    const QVector<RtpScheduleItem> items = {
        item(RtpScheduleItem::TypeStart, "07:30:00", 16, 30, RtpScheduleItem::UnitMinutes, 5),
        item(RtpScheduleItem::TypeStop, "08:00:00", 1, 2, RtpScheduleItem::UnitSeconds),
        item(RtpScheduleItem::TypeStart, "12:00:00", 32, 0, RtpScheduleItem::UnitNone),
        item(RtpScheduleItem::TypeStart, "23:59:59", 6, 86400, RtpScheduleItem::UnitHours),
    };
    const struct
    {
        const char* name;
        RtpSchedule stored;
        RtpSchedule saved;
    } cases[] = {
        {"once", schedule(1, RtpSchedule::RepeatOnce, "2026-12-24", items),
         schedule(1, RtpSchedule::RepeatOnce, "2026-12-24", items)},
        {"daily", schedule(1, RtpSchedule::RepeatDaily, "", items), schedule(1, RtpSchedule::RepeatDaily, "", items)},
        {"weekly", schedule(1, RtpSchedule::RepeatWeekly, "0;3;", items),
         schedule(1, RtpSchedule::RepeatWeekly, "0;3;", items)},
        {"monthly", schedule(1, RtpSchedule::RepeatMonthly, "1;15;31;", items),
         schedule(1, RtpSchedule::RepeatMonthly, "1;15;31;", items)},
        {"off", schedule(0, RtpSchedule::RepeatWeekly, "1;2;3;4;5;", items),
         schedule(0, RtpSchedule::RepeatWeekly, "1;2;3;4;5;", items)},
        {"no items", schedule(1, RtpSchedule::RepeatDaily, "", {}), schedule(1, RtpSchedule::RepeatDaily, "", {})},
        // Sunday stored as 7 and the last day stored as 0, as the scheduler also reads them.
        {"weekly sunday 7", schedule(1, RtpSchedule::RepeatWeekly, "1;7;", items),
         schedule(1, RtpSchedule::RepeatWeekly, "0;1;", items)},
        {"monthly day 0", schedule(1, RtpSchedule::RepeatMonthly, "0;10;", items),
         schedule(1, RtpSchedule::RepeatMonthly, "10;31;", items)},
    };
    for (const auto& c : cases) {
        RtpInfoScheduleDialog dialog;
        dialog.setSchedule(1, c.stored);
        RtpSchedule out;
        dialog.schedule(out);
        EXPECT_EQ(out.status, c.saved.status) << c.name;
        EXPECT_EQ(out.repeat, c.saved.repeat) << c.name;
        EXPECT_EQ(out.value, c.saved.value) << c.name;
        EXPECT_EQ(out.items, c.saved.items) << c.name;
        EXPECT_EQ(dialog.itemsView()->rowCount(), c.saved.items.size()) << c.name;
        EXPECT_EQ(dialog.calendarView()->isVisibleTo(&dialog), c.stored.repeat == RtpSchedule::RepeatOnce) << c.name;
        EXPECT_EQ(dialog.weeklyView()->isVisibleTo(&dialog), c.stored.repeat == RtpSchedule::RepeatWeekly) << c.name;
        EXPECT_EQ(dialog.monthlyView()->isVisibleTo(&dialog), c.stored.repeat == RtpSchedule::RepeatMonthly)
            << c.name;
        if (c.stored.repeat == RtpSchedule::RepeatOnce) {
            EXPECT_EQ(dialog.calendarView()->currentDate().toString("yyyy-MM"), "2026-12");
        }
        dialog.show();
        GuiTest::grabToPng(&dialog, QStringLiteral("schedule_dialog_%1").arg(QString::fromLatin1(c.name).replace(' ', '_')));
    }
}

// A once schedule without a readable date opens on today and saves today.
TEST_F(RtpInfoScheduleDialogTest, OnceWithoutADateIsToday)
{
    for (const char* value : {"", "2026-13-40", "24.12.2026", "garbage"}) {
        RtpInfoScheduleDialog dialog;
        dialog.setSchedule(1, schedule(1, RtpSchedule::RepeatOnce, value, {}));
        EXPECT_EQ(dialog.calendarView()->selectedDate(), QDate::currentDate()) << value;
        RtpSchedule out;
        dialog.schedule(out);
        EXPECT_EQ(out.value, today()) << value;
        EXPECT_EQ(out.repeat, RtpSchedule::RepeatOnce);
    }
}

TEST_F(RtpInfoScheduleDialogTest, RowsAreSortedStartFirstAndOtherTypesDropped)
{
    RtpInfoScheduleDialog dialog;
    dialog.setSchedule(1, schedule(1, RtpSchedule::RepeatDaily, "",
                                   {item(0, "06:00:00", 1, 1, 1), item(RtpScheduleItem::TypeStart, "09:00:00", 1, 1, 1),
                                    item(3, "07:00:00", 1, 1, 1)}));
    EXPECT_EQ(dialog.itemsView()->rowCount(), 1);

    // Stop then start at the same time: the start comes first, in the rows and when saved.
    create(dialog, QTime(8, 0, 0), 1, 0);
    create(dialog, QTime(8, 0, 0), 0, 2);
    create(dialog, QTime(10, 0, 0), 0, 3);
    create(dialog, QTime(7, 59, 59), 1, 0);
    ASSERT_EQ(dialog.itemsView()->rowCount(), 5);
    const char* const times[] = {"07:59:59", "08:00:00", "08:00:00", "09:00:00", "10:00:00"};
    const int types[] = {2, 1, 2, 1, 1};
    for (int row = 0; row < 5; ++row) {
        const RtpScheduleItem shown = dialog.itemsView()->rowWidget(row)->value();
        EXPECT_EQ(shown.startTime, times[row]) << row;
        EXPECT_EQ(shown.type, types[row]) << row;
    }
    // A new row starts with one hour and the bar's source.
    const RtpScheduleItem made = dialog.itemsView()->rowWidget(1)->value();
    EXPECT_EQ(made.source, 16);
    EXPECT_EQ(made.duration, 1);
    EXPECT_EQ(made.durationUnit, RtpScheduleItem::UnitHours);

    RtpSchedule out;
    dialog.schedule(out);
    ASSERT_EQ(out.items.size(), 5);
    EXPECT_EQ(out.items[1].type, RtpScheduleItem::TypeStart);
    EXPECT_EQ(out.items[2].type, RtpScheduleItem::TypeStop);
    for (int i = 1; i < out.items.size(); ++i)
        EXPECT_FALSE(RtpScheduleItem::lessThan(out.items[i], out.items[i - 1]));

    // A row's own time edit may put it out of order: saving sorts.
    dialog.itemsView()->rowWidget(0)->startTimeEdit()->setTime(QTime(23, 0, 0));
    dialog.schedule(out);
    EXPECT_EQ(out.items.last().startTime, "23:00:00");

    // The trash button removes its row.
    dialog.show();
    QTest::mouseClick(dialog.itemsView()->rowWidget(2)->deleteButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.itemsView()->rowCount(), 4);
    dialog.schedule(out);
    EXPECT_EQ(out.items.size(), 4);
    GuiTest::grabToPng(&dialog, QStringLiteral("schedule_dialog_rows"));
}

// Off greys every control but the switch, keeps what they hold, and saves status 0.
TEST_F(RtpInfoScheduleDialogTest, DisabledStateKeepsTheValues)
{
    RtpInfoScheduleDialog dialog;
    const RtpSchedule stored = schedule(1, RtpSchedule::RepeatMonthly, "2;4;",
                                        {item(RtpScheduleItem::TypeStart, "05:00:00", 6, 3, 3)});
    dialog.setSchedule(6, stored);
    QWidget* const controls[] = {dialog.statusLabel(), dialog.repeatLabel(), dialog.repeatList(),
                                 dialog.calendarView(), dialog.monthlyView(), dialog.weeklyView(),
                                 dialog.timeEdit(), dialog.actionLabel(), dialog.actionList(),
                                 dialog.sourceLabel(), dialog.sourceList(), dialog.createButton(),
                                 dialog.itemsView()};
    for (QWidget* w : controls)
        EXPECT_TRUE(w->isEnabled());
    QTest::mouseClick(dialog.statusCheckBox(), Qt::LeftButton);
    EXPECT_FALSE(dialog.statusCheckBox()->isChecked());
    EXPECT_TRUE(dialog.statusCheckBox()->isEnabled());
    for (QWidget* w : controls)
        EXPECT_FALSE(w->isEnabled()) << w->metaObject()->className();
    EXPECT_TRUE(dialog.saveButton()->isEnabled());
    EXPECT_TRUE(dialog.cancelButton()->isEnabled());

    RtpSchedule out;
    dialog.schedule(out);
    EXPECT_EQ(out.status, 0);
    EXPECT_EQ(out.repeat, stored.repeat);
    EXPECT_EQ(out.value, stored.value);
    EXPECT_EQ(out.items, stored.items);
    dialog.show();
    GuiTest::grabToPng(&dialog, QStringLiteral("schedule_dialog_disabled"));

    // A fresh dialog starts off.
    RtpInfoScheduleDialog fresh;
    EXPECT_FALSE(fresh.statusCheckBox()->isChecked());
    EXPECT_FALSE(fresh.repeatList()->isEnabled());
}

TEST_F(RtpInfoScheduleDialogTest, RowControlsFollowActionAndUnit)
{
    RtpScheduleItemWidget row;
    row.setValue(item(RtpScheduleItem::TypeStop, "10:00:00", 16, 45, RtpScheduleItem::UnitMinutes));
    EXPECT_FALSE(row.durationLabel()->isEnabled());
    EXPECT_FALSE(row.durationEdit()->isEnabled());
    EXPECT_FALSE(row.unitList()->isEnabled());
    EXPECT_FALSE(row.sourceButton()->isEnabled());
    EXPECT_FALSE(row.sourceList()->isEnabled());
    EXPECT_TRUE(showsPixmap(row.actionButton(), ":/pause_style.png"));
    EXPECT_TRUE(showsPixmap(row.sourceButton(), ":/stream_gray.png"));
    // A stop row still writes what it holds.
    RtpScheduleItem out = row.value();
    EXPECT_EQ(out.duration, 45);
    EXPECT_EQ(out.durationUnit, RtpScheduleItem::UnitMinutes);
    EXPECT_EQ(out.source, 16);

    row.onClickActionIconButton();
    EXPECT_EQ(row.action(), RtpScheduleItem::TypeStart);
    EXPECT_EQ(row.actionList()->currentIndex(), 0);
    EXPECT_TRUE(showsPixmap(row.actionButton(), ":/play_style.png"));
    EXPECT_TRUE(row.durationEdit()->isEnabled());
    EXPECT_TRUE(row.unitList()->isEnabled());
    EXPECT_TRUE(row.sourceList()->isEnabled());

    // "No Limit" switches the duration off; any other unit on.
    row.unitList()->setCurrentIndex(3);
    EXPECT_FALSE(row.durationEdit()->isEnabled());
    EXPECT_EQ(row.value().durationUnit, RtpScheduleItem::UnitNone);
    row.unitList()->setCurrentIndex(0);
    EXPECT_TRUE(row.durationEdit()->isEnabled());
    EXPECT_EQ(row.value().durationUnit, RtpScheduleItem::UnitHours);

    // The action list drives the same switch.
    row.actionList()->setCurrentIndex(1);
    EXPECT_EQ(row.action(), RtpScheduleItem::TypeStop);
    EXPECT_FALSE(row.durationEdit()->isEnabled());
    row.actionList()->setCurrentIndex(0);

    // The duration takes 0-86400 only; an empty text reads as 0.
    QLineEdit* duration = row.durationEdit();
    const struct
    {
        const char* typed;
        const char* shown;
        int value;
    } typing[] = {{"86400", "86400", 86400}, {"86401", "8640", 8640}, {"0", "0", 0},
                  {"-3", "3", 3},           {"12x", "12", 12},       {"", "", 0}};
    for (const auto& t : typing) {
        duration->clear();
        QTest::keyClicks(duration, QString::fromLatin1(t.typed));
        EXPECT_EQ(duration->text(), t.shown) << t.typed;
        EXPECT_EQ(row.value().duration, t.value) << t.typed;
    }

    // The source button steps through the four kinds; any other kind reads as the first.
    const struct
    {
        int source;
        const char* pixmap;
    } steps[] = {{32, ":/alarm_gray.png"}, {1, ":/media_gray.png"}, {6, ":/microphone_gray.png"},
                 {16, ":/stream_gray.png"}, {32, ":/alarm_gray.png"}};
    for (const auto& step : steps) {
        row.onClickSourceIconButton();
        EXPECT_EQ(row.source(), step.source);
        EXPECT_TRUE(showsPixmap(row.sourceButton(), step.pixmap)) << step.source;
        EXPECT_EQ(row.sourceList()->currentData().toInt(), step.source);
    }
    row.setSource(64);
    EXPECT_EQ(row.source(), 1);
    row.sourceList()->setCurrentIndex(2);
    EXPECT_EQ(row.source(), 16);
    EXPECT_TRUE(showsPixmap(row.sourceButton(), ":/stream_gray.png"));
}

TEST_F(RtpInfoScheduleDialogTest, BarFollowsSourceAndRepeat)
{
    RtpInfoScheduleDialog dialog;
    const struct
    {
        int sourceType;
        int index;
    } sources[] = {{1, 0}, {6, 1}, {16, 2}, {32, 3}, {64, 0}, {0, 0}};
    for (const auto& s : sources) {
        dialog.setSchedule(s.sourceType, schedule(1, RtpSchedule::RepeatDaily, "", {}));
        EXPECT_EQ(dialog.sourceList()->currentIndex(), s.index) << s.sourceType;
    }
    const QStringList repeats = {"Once Only", "Daily", "Weekly", "Monthly"};
    for (int i = 0; i < repeats.size(); ++i) {
        EXPECT_EQ(dialog.repeatList()->itemText(i), repeats[i]);
        EXPECT_EQ(dialog.repeatList()->itemData(i).toInt(), i);
        dialog.repeatList()->setCurrentIndex(i);
        EXPECT_EQ(dialog.calendarView()->isVisibleTo(&dialog), i == 0);
        EXPECT_EQ(dialog.weeklyView()->isVisibleTo(&dialog), i == 2);
        EXPECT_EQ(dialog.monthlyView()->isVisibleTo(&dialog), i == 3);
    }
    EXPECT_EQ(dialog.createButton()->text(), "Create New Action");

    // A stop needs no source: the bar hides its source choice, and the button moves up to the list.
    dialog.show();
    dialog.actionList()->setCurrentIndex(1);
    EXPECT_FALSE(dialog.sourceList()->isVisible());
    EXPECT_EQ(dialog.createButton()->geometry().left(), dialog.actionList()->geometry().right() + 1 + 5);
    GuiTest::grabToPng(&dialog, QStringLiteral("schedule_dialog_stop_bar"));
    dialog.actionList()->setCurrentIndex(0);
    EXPECT_TRUE(dialog.sourceList()->isVisible());
    EXPECT_EQ(dialog.createButton()->geometry().left(), dialog.sourceList()->geometry().right() + 1 + 5);
}

TEST_F(RtpInfoScheduleDialogTest, SizeAndLayout)
{
    RtpInfoScheduleDialog dialog;
    // 950 x 600 scaled by the screen's dpi (the test program runs with 96-dpi fonts), wider only
    // when the fonts need it to show the creation bar and a whole row.
    const double scale = QGuiApplication::primaryScreen()->logicalDotsPerInch() / 96.0;
    EXPECT_EQ(scale, 1.0);
    EXPECT_EQ(dialog.size(), QSize(std::max(950, dialog.minimumWidth()), 600));
    EXPECT_EQ(dialog.sizeHint(), QSize(950, 0));

    dialog.setSchedule(1, schedule(1, RtpSchedule::RepeatOnce, "2026-12-24",
                                   {item(RtpScheduleItem::TypeStart, "08:00:00", 1, 1, 1)}));
    dialog.show();
    const int w = dialog.width();
    const int h = dialog.height();
    EXPECT_EQ(dialog.statusCheckBox()->geometry(), QRect(14, 10, 25, 25));
    EXPECT_EQ(dialog.statusLabel()->geometry().left(), 40);
    EXPECT_EQ(dialog.calendarView()->geometry(), QRect(10, 40, 240, 240));
    const int g = std::max(dialog.repeatList()->geometry().right() + 1, 260);
    EXPECT_EQ(dialog.timeEdit()->geometry().left(), g + 10);
    const QRect rows = dialog.itemsView()->geometry();
    EXPECT_EQ(rows.left(), g + 10);
    EXPECT_EQ(rows.top(), 45);
    EXPECT_EQ(rows.right() + 1, w - 10);
    EXPECT_EQ(rows.bottom() + 1, h - 60);
    // The bar fits in the right part.
    EXPECT_LE(dialog.createButton()->geometry().right(), rows.right());
    EXPECT_EQ(dialog.saveButton()->geometry().top(), h - 50);
    EXPECT_EQ(dialog.cancelButton()->geometry().top(), h - 50);

    // Every control of a row fits the row, also in the narrowest dialog, with a scroll bar.
    for (int i = 0; i < 20; ++i)
        create(dialog, QTime(i, 0, 0), 0, 0);
    dialog.resize(dialog.minimumWidth(), 600);
    GuiTest::grabToPng(&dialog, QStringLiteral("schedule_dialog_narrowest"));
    RtpScheduleItemWidget* row = dialog.itemsView()->rowWidget(0);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->height(), 40);
    EXPECT_LE(row->sourceList()->geometry().right(), row->width());
    EXPECT_EQ(row->deleteButton()->geometry(), QRect(5, 10, 20, 20));
    EXPECT_LE(dialog.createButton()->geometry().right(), dialog.itemsView()->geometry().right());
}

TEST_F(RtpInfoScheduleDialogTest, EditRecordSavesOrLeavesTheRecord)
{
    RtpInfo record;
    record.id = 2;
    record.source = 32;
    record.schedule = schedule(0, RtpSchedule::RepeatDaily, "", {});

    GuiTest::onModal([](QWidget* modal) {
        auto* dialog = qobject_cast<RtpInfoScheduleDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->parentWidget(), nullptr);
        EXPECT_EQ(dialog->sourceList()->currentData().toInt(), 32);
        QTest::mouseClick(dialog->statusCheckBox(), Qt::LeftButton);
        dialog->repeatList()->setCurrentIndex(2);
        create(*dialog, QTime(6, 30, 0), 0, 3);
        QTest::mouseClick(dialog->saveButton(), Qt::LeftButton);
    });
    EXPECT_TRUE(RtpInfoScheduleDialog::editRecord(record));
    EXPECT_EQ(record.schedule.status, 1);
    EXPECT_EQ(record.schedule.repeat, RtpSchedule::RepeatWeekly);
    EXPECT_EQ(record.schedule.value, "0;1;2;3;4;5;6;");
    ASSERT_EQ(record.schedule.items.size(), 1);
    EXPECT_EQ(record.schedule.items[0], item(RtpScheduleItem::TypeStart, "06:30:00", 32, 1, RtpScheduleItem::UnitHours));

    const RtpInfo before = record;
    GuiTest::onModal([](QWidget* modal) {
        auto* dialog = static_cast<RtpInfoScheduleDialog*>(modal);
        create(*dialog, QTime(7, 0, 0), 1, 0);
        QTest::mouseClick(dialog->cancelButton(), Qt::LeftButton);
    });
    EXPECT_FALSE(RtpInfoScheduleDialog::editRecord(record));
    EXPECT_EQ(record, before);
    // Escape does not close it (the dialog base ignores it); the window's close does, unsaved.
    GuiTest::onModal([](QWidget* modal) {
        QTest::keyClick(modal, Qt::Key_Escape);
        EXPECT_TRUE(modal->isVisible());
        modal->close();
    });
    EXPECT_FALSE(RtpInfoScheduleDialog::editRecord(record));
    EXPECT_EQ(record, before);

    record.startedSource = 1;
    const RtpInfo running = record;
    EXPECT_FALSE(RtpInfoScheduleDialog::editRecord(record));
    EXPECT_EQ(record, running);
    EXPECT_EQ(GuiTest::hook().boxTexts(), QStringList{"Please stop rtp"});
}
