#pragma once

#include "RtpScheduleItem.h"

#include <QJsonObject>
#include <QMetaType>
#include <QString>
#include <QVector>

// A channel's schedule: the days it applies to and the timed actions of such a day.
class RtpSchedule
{
public:
    enum Repeat { RepeatOnce = 0, RepeatDaily = 1, RepeatWeekly = 2, RepeatMonthly = 3 };

    int status = 0;
    int repeat = 0;
    // By repeat: "yyyy-MM-dd" (once), empty (daily), weekday numbers "1;3;5;" with 0 or 7
    // Sunday (weekly), days of the month "1;15;31;" with 0 read as 31 (monthly).
    QString value;
    QVector<RtpScheduleItem> items;

    bool operator==(const RtpSchedule& other) const;
    bool operator!=(const RtpSchedule& other) const { return !(*this == other); }

    // The start times of the first five items, each followed by ";".
    QString startTimesText() const;

    QJsonObject toJson() const;
    static RtpSchedule fromJson(const QJsonObject& object);
};

Q_DECLARE_METATYPE(RtpSchedule)
