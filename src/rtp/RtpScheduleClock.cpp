#include "RtpScheduleClock.h"

#include "RDThread.h"

#include <cmath>
#include <QDateTime>

RtpScheduleClock::Reading RtpScheduleClock::now() const
{
    return at(QDateTime::currentMSecsSinceEpoch());
}

qint64 RtpScheduleClock::monotonicMs() const
{
    return std::llround(RDThread::tickTime() * 1000);
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
