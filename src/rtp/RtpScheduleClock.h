#pragma once

#include <QDate>
#include <QtGlobal>

// Where the scheduler reads the time. Waits between passes follow the monotonic clock; what is
// due follows the local wall clock. Tests derive from it to drive both.
class RtpScheduleClock
{
public:
    // One look at the wall clock: the instant and what the local wall clock shows at it.
    struct Reading
    {
        qint64 utcMs = 0; // milliseconds since the Unix epoch
        QDate date;       // local date
        int timeMs = 0;   // local time of day, milliseconds since midnight

        bool isValid() const { return date.isValid(); }
    };

    virtual ~RtpScheduleClock() = default;

    virtual Reading now() const;
    // Milliseconds on a clock that never goes back.
    virtual qint64 monotonicMs() const;

    // What the local wall clock (the process's time zone) shows at the instant utcMs.
    static Reading at(qint64 utcMs);

    // The process's system clock.
    static RtpScheduleClock* system();
};
