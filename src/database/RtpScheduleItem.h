#pragma once

#include <QJsonObject>
#include <QMetaType>
#include <QString>

// One timed action of a channel's day: start the channel with a source, or stop it.
class RtpScheduleItem
{
public:
    enum Type { TypeStart = 1, TypeStop = 2 };
    enum DurationUnit { UnitNone = 0, UnitHours = 1, UnitMinutes = 2, UnitSeconds = 3 };

    int type = 0;
    int argument = 0;
    int source = 0;
    QString startTime; // "HH:mm:ss"
    int duration = 0;
    int durationUnit = 0;

    bool operator==(const RtpScheduleItem& other) const;
    bool operator!=(const RtpScheduleItem& other) const { return !(*this == other); }

    // Earlier start time first, then smaller type. Items whose time does not parse come before
    // all others, so the order stays a strict weak order.
    static bool lessThan(const RtpScheduleItem& a, const RtpScheduleItem& b);

    // One storage line: "type;argument;source;startTime;duration;durationUnit".
    QString toString() const;
    // A line of fewer than six fields gives a default item; non-numbers read as 0.
    static RtpScheduleItem fromString(const QString& line);

    QJsonObject toJson() const;
    static RtpScheduleItem fromJson(const QJsonObject& object);
};

Q_DECLARE_METATYPE(RtpScheduleItem)
