#include "RtpScheduleItemState.h"

#include "RtpScheduleItem.h"

namespace {

qint64 unitMs(int unit)
{
    switch (unit) {
    case RtpScheduleItem::UnitHours:
        return 3600 * 1000LL;
    case RtpScheduleItem::UnitMinutes:
        return 60 * 1000LL;
    case RtpScheduleItem::UnitSeconds:
        return 1000;
    default:
        return 0;
    }
}

} // namespace

RtpScheduleItemState::RtpScheduleItemState(int id, const RtpScheduleItem& item)
    : start(QTime::fromString(item.startTime, QStringLiteral("HH:mm:ss"))),
      action(item.type),
      channelId(id),
      source(item.source),
      duration(item.duration),
      durationUnit(item.durationUnit)
{
    if (action == kActionStart && start.isValid()) {
        // 64-bit, so that no stored duration overflows into a negative or short window.
        const qint64 ms = qint64(item.duration) * unitMs(item.durationUnit);
        durationMs = ms > 0 ? ms : 0;
    }
}

bool RtpScheduleItemState::sameDefinition(const RtpScheduleItemState& other) const
{
    return action == other.action && source == other.source && start == other.start
           && duration == other.duration && durationUnit == other.durationUnit;
}

bool RtpScheduleItemState::sameRunningWindow(const RtpScheduleItemState& other) const
{
    return isWindow() && other.isWindow() && other.state == kActed && action == other.action
           && source == other.source && start == other.start;
}

void RtpScheduleItemState::takeOver(const RtpScheduleItemState& other)
{
    state = other.state;
    actedDate = other.actedDate;
    endUtcMs = other.endUtcMs;
    if (state == kActed && isWindow())
        endUtcMs = other.endUtcMs - other.durationMs + durationMs;
    checked = other.checked;
    inherited = true;
}

qint64 RtpScheduleItemState::windowEnd(const QDate& day, const RtpScheduleClock::Reading& now,
                                       const RtpScheduleClock::Reading* previous) const
{
    // Wall time since the start on that day: the window is measured from there in real time,
    // so a window keeps its length when the wall clock is put back or forward inside it.
    const qint64 sinceStart = day.daysTo(now.date) * kDayMs + now.timeMs - startMs();
    if (sinceStart < 0)
        return -1;
    qint64 startUtc = now.utcMs - sinceStart;
    // The wall clock jumped over the start since the pass before (the hour that summer time
    // skips): the window begins now instead of being lost in the gap.
    if (previous && previous->date == day && previous->timeMs < startMs()
        && sinceStart > now.utcMs - previous->utcMs)
        startUtc = now.utcMs;
    return startUtc + durationMs;
}
