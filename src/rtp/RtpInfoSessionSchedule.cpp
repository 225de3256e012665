#include "RtpInfoSessionSchedule.h"

#include <cmath>

double RtpInfoSessionSchedule::place(double now, double duration, uint32_t* increment)
{
    *increment = 0;
    if (!(duration > 0))
        return now;
    if (m_start <= 0)
        m_start = now + m_delay;
    else if (now - nextDue() > kMaxLateness)
        m_start = now - m_sent + m_delay; // after an outage, go on from now
    const double due = nextDue();
    const double rate = m_clockRate;
    *increment = uint32_t(std::llround((m_sent + duration) * rate) - std::llround(m_sent * rate));
    m_sent += duration;
    return due;
}
