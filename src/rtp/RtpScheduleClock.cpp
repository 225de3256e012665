#include "RtpScheduleClock.h"

#include <QDateTime>

#include <chrono>

RtpScheduleClock::Reading RtpScheduleClock::now() const
{
    return at(QDateTime::currentMSecsSinceEpoch());
}

qint64 RtpScheduleClock::monotonicMs() const
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

RtpScheduleClock::Reading RtpScheduleClock::at(qint64 utcMs)
{
    // One conversion, so the instant and the local date and time belong together.
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(utcMs, Qt::LocalTime);
    Reading reading;
    reading.utcMs = utcMs;
    reading.date = local.date();
    reading.timeMs = local.time().msecsSinceStartOfDay();
    return reading;
}

RtpScheduleClock* RtpScheduleClock::system()
{
    static RtpScheduleClock clock;
    return &clock;
}
