#pragma once

#include <cstdint>

// The send loop's timetable, on the monotonic clock: every packet is due when the durations of
// the packets before it have passed since the start. The first packet with a duration fixes the
// start a little ahead of the moment it was read (delay), so that sources which deliver just in
// time are ahead of the timetable rather than on its edge. A packet read more than kMaxLateness
// after its due time starts the timetable anew from then, instead of a burst that catches up.
// RTP timestamps advance by the rounded running sum of the durations, so they never drift.
class RtpInfoSessionSchedule
{
public:
    static constexpr double kMaxLateness = 0.2;

    RtpInfoSessionSchedule(int clockRate, double delay) : m_clockRate(clockRate), m_delay(delay) {}

    bool hasStarted() const { return m_start > 0; }
    // When the next packet is due; only once started.
    double nextDue() const { return m_start + m_sent; }
    double sentDuration() const { return m_sent; }

    // Takes a packet of duration seconds read at now: its due time, and the timestamp increment
    // it carries. A packet without a duration is due at once and moves nothing.
    double place(double now, double duration, uint32_t* increment);

private:
    int m_clockRate;
    double m_delay;
    double m_start = 0;
    double m_sent = 0;
};
