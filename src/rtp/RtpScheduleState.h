#pragma once

#include "RtpScheduleClock.h"
#include "RtpScheduleItemState.h"

#include <QDate>
#include <QVector>

class RtpSchedule;
class RtpManagerControl;

// The working form of one channel's enabled schedule on the scheduler thread: on which days it
// applies and how far each item has got.
class RtpScheduleState
{
public:
    RtpScheduleState(int channelId, const RtpSchedule& schedule);

    int repeat = 0;
    QDate date;             // once: the day; invalid for the other kinds
    QVector<int> weekDays;  // weekly: 8 flags by QDate::dayOfWeek, Sunday also at 0
    QVector<int> monthDays; // monthly: 32 flags by day of the month, the 31st also at 0
    QVector<RtpScheduleItemState> items;
    int channelId = 0;

    // Whether the schedule applies on day.
    bool isDay(const QDate& day) const;

    // The state this one replaces after an edit of the channel: every item whose definition did
    // not change goes on from where it stood, so an edit does not make it act again; a running
    // window whose length alone changed keeps running to its new end.
    void takeOver(const RtpScheduleState& previous);
    // Readies the items that took nothing over at now: an item whose start time does not parse
    // is logged (it never acts); a start item without a limit, or a stop item, whose time lies
    // more than a minute in the past counts as done for today. Starting the application or
    // editing a schedule in the afternoon thus does not ring the morning's bell; a window item
    // still starts late inside its window.
    void settle(const RtpScheduleClock::Reading& now);

    // One pass at now (previous: the reading of the pass before, or null): starts and stops
    // what is due through target, item by item in list order.
    void check(const RtpScheduleClock::Reading& now, const RtpScheduleClock::Reading* previous,
               RtpManagerControl& target);

private:
    void act(RtpManagerControl& target, const RtpScheduleItemState& item, bool start, int source);
};
