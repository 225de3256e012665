#include "RtpScheduleState.h"

#include "RDLog.h"
#include "RtpInfo.h"
#include "RtpSchedule.h"
#include "RtpManagerControl.h"

#include <QStringList>

namespace {

// Flags for the numbers of a day list such as "1;3;5;": every piece that is a decimal number
// from first to last sets its flag; alias is set together with its twin.
QVector<int> dayFlags(const QString& value, int size, int alias, int twin)
{
    QVector<int> flags(size, 0);
    const QStringList pieces = value.split(QLatin1Char(';'), Qt::KeepEmptyParts);
    for (const QString& piece : pieces) {
        bool ok = false;
        const int day = piece.toInt(&ok, 10);
        if (!ok || day < 0 || day >= size)
            continue;
        if (day == alias || day == twin) {
            flags[alias] = 1;
            flags[twin] = 1;
        } else {
            flags[day] = 1;
        }
    }
    return flags;
}

} // namespace

RtpScheduleState::RtpScheduleState(int id, const RtpSchedule& schedule)
    : repeat(schedule.repeat), channelId(id)
{
    switch (repeat) {
    case RtpSchedule::RepeatOnce:
        date = QDate::fromString(schedule.value, QStringLiteral("yyyy-MM-dd"));
        break;
    case RtpSchedule::RepeatWeekly:
        weekDays = dayFlags(schedule.value, 8, 0, 7);
        break;
    case RtpSchedule::RepeatMonthly:
        monthDays = dayFlags(schedule.value, 32, 0, 31);
        break;
    default:
        break;
    }
    items.reserve(schedule.items.size());
    for (const RtpScheduleItem& item : schedule.items)
        items.append(RtpScheduleItemState(id, item));
}

bool RtpScheduleState::isDay(const QDate& day) const
{
    switch (repeat) {
    case RtpSchedule::RepeatOnce:
        return date.isValid() && day == date;
    case RtpSchedule::RepeatDaily:
        return true;
    case RtpSchedule::RepeatWeekly:
        return weekDays.value(day.dayOfWeek()) == 1;
    case RtpSchedule::RepeatMonthly:
        return monthDays.value(day.day()) == 1;
    default:
        return false;
    }
}

void RtpScheduleState::takeOver(const RtpScheduleState& previous)
{
    QVector<bool> taken(previous.items.size(), false);
    QVector<bool> matched(items.size(), false);
    // Unchanged items first, so that a changed length never claims the state of an unchanged twin.
    for (int pass = 0; pass < 2; ++pass) {
        for (int j = 0; j < items.size(); ++j) {
            if (matched[j])
                continue;
            RtpScheduleItemState& item = items[j];
            for (int i = 0; i < previous.items.size(); ++i) {
                const bool same = pass == 0 ? item.sameDefinition(previous.items[i])
                                            : item.sameRunningWindow(previous.items[i]);
                if (!taken[i] && same) {
                    item.takeOver(previous.items[i]);
                    taken[i] = true;
                    matched[j] = true;
                    break;
                }
            }
        }
    }
}

void RtpScheduleState::settle(const RtpScheduleClock::Reading& now)
{
    for (int i = 0; i < items.size(); ++i) {
        RtpScheduleItemState& item = items[i];
        if (item.inherited)
            continue;
        if (!item.start.isValid()) {
            RDLOG("channel %d: schedule item %d has no valid start time (HH:mm:ss) and never runs",
                  channelId, i + 1);
            continue;
        }
        if (item.isWindow() || now.timeMs - item.startMs() <= RtpScheduleItemState::kLateMs)
            continue;
        item.state = RtpScheduleItemState::kActed;
        item.actedDate = now.date;
    }
}

void RtpScheduleState::check(const RtpScheduleClock::Reading& now,
                             const RtpScheduleClock::Reading* previous, RtpManagerControl& target)
{
    // A new day makes the items pending again; a window still running keeps its stop to come.
    for (RtpScheduleItemState& item : items) {
        if (item.actedDate.isValid() && item.actedDate != now.date
            && !(item.state == RtpScheduleItemState::kActed && item.isWindow())) {
            item.state = RtpScheduleItemState::kPending;
            item.actedDate = QDate();
        }
    }

    const bool today = isDay(now.date);
    const QDate yesterday = now.date.addDays(-1);
    for (RtpScheduleItemState& item : items) {
        const bool first = !item.checked;
        item.checked = true;
        if (!item.start.isValid())
            continue;
        if (item.state == RtpScheduleItemState::kActed) {
            // A window's end is due whatever the day.
            if (item.isWindow() && now.utcMs > item.endUtcMs) {
                act(target, item, false, item.source);
                item.state = RtpScheduleItemState::kEnded;
            }
            continue;
        }
        if (item.state != RtpScheduleItemState::kPending)
            continue;

        if (item.isWindow()) {
            // Late inside the window still starts; a state built after midnight also catches
            // a window that began the day before.
            QDate day;
            qint64 end = -1;
            if (today) {
                end = item.windowEnd(now.date, now, previous);
                if (end >= now.utcMs)
                    day = now.date;
            }
            if (!day.isValid() && first && isDay(yesterday)) {
                end = item.windowEnd(yesterday, now, previous);
                if (end >= now.utcMs)
                    day = yesterday;
            }
            if (!day.isValid())
                continue;
            act(target, item, true, item.source);
            item.state = RtpScheduleItemState::kActed;
            item.actedDate = day;
            item.endUtcMs = end;
            continue;
        }

        if (!today || now.timeMs < item.startMs())
            continue;
        if (item.action == RtpScheduleItemState::kActionStart)
            act(target, item, true, item.source);
        else if (item.action == RtpScheduleItemState::kActionStop)
            act(target, item, false, RtpInfo::kSourceAll);
        else
            continue;
        item.state = RtpScheduleItemState::kActed;
        item.actedDate = now.date;
    }
}

void RtpScheduleState::act(RtpManagerControl& target, const RtpScheduleItemState& item, bool start,
                           int source)
{
    const QByteArray at = item.start.toString(QStringLiteral("HH:mm:ss")).toLatin1();
    RtpInfo info;
    target.getRtpInfo(channelId, info);
    if (info.id <= 0) {
        RDLOG("schedule of channel %d: the channel is not found; the %s at %s is skipped", channelId,
              start ? "start" : "stop", at.constData());
        return;
    }
    RDLOG("schedule of channel %d: %s source %d (item at %s)", channelId, start ? "start" : "stop",
          source, at.constData());
    if (start)
        target.startRtpInfo(info, source, RtpInfo::kTriggerSchedule);
    else
        target.stopRtpInfo(info, source, RtpInfo::kTriggerSchedule);
}
