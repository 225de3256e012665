#pragma once

#include "RtpScheduleClock.h"

#include <QDate>
#include <QTime>
#include <QtGlobal>

class RtpScheduleItem;

// The working state of one schedule item on the scheduler thread: what it has done on which day.
class RtpScheduleItemState
{
public:
    enum State
    {
        kPending = 0, // nothing done for the day
        kActed = 1,   // a start item started its source, or a stop item stopped the channel
        kEnded = 2    // a start item's window is over and its source was stopped
    };
    enum Action
    {
        kActionStart = 1,
        kActionStop = 2
    };

    static constexpr qint64 kDayMs = 24 * 3600 * 1000LL;
    // How long ago an item's time may lie, when its state is first built, for it still to act.
    static constexpr qint64 kLateMs = 60 * 1000;

    RtpScheduleItemState() = default;
    RtpScheduleItemState(int channelId, const RtpScheduleItem& item);

    int state = kPending;
    // The day whose occurrence the item acted for; invalid while pending. For a window that began
    // before midnight it is the day the window began.
    QDate actedDate;
    // "HH:mm:ss"; invalid when the text does not parse, and then the item never acts.
    QTime start;
    // A start item's limit in milliseconds of real time; 0 when it has none (it is then never
    // stopped by the schedule).
    qint64 durationMs = 0;
    // While a window item is acted: the instant its window ends.
    qint64 endUtcMs = 0;
    int action = 0;
    int channelId = 0;
    int source = 0;
    // The stored limit, as the editor wrote it.
    int duration = 0;
    int durationUnit = 0;
    // Took its progress over from the state this one replaced (an edit that left it as it was).
    bool inherited = false;
    // Has been through a pass.
    bool checked = false;

    bool isWindow() const { return action == kActionStart && durationMs > 0; }
    int startMs() const { return start.msecsSinceStartOfDay(); }

    // Whether the item is the same timed action as other (its state aside).
    bool sameDefinition(const RtpScheduleItemState& other) const;
    // Whether other is a running window of this window item with another length: the edit
    // moves its end instead of starting it again.
    bool sameRunningWindow(const RtpScheduleItemState& other) const;
    // Continues where other (an item matched by one of the two tests above, in the state this
    // one replaces) stands.
    void takeOver(const RtpScheduleItemState& other);

    // A window item's window on day: the instant it ends, as judged at now; -1 when the wall clock
    // has not reached its start on that day. previous is the reading of the pass before (or
    // null).
    qint64 windowEnd(const QDate& day, const RtpScheduleClock::Reading& now,
                     const RtpScheduleClock::Reading* previous) const;
};
