#pragma once

#include "RDThread.h"

#include <atomic>

class RtpInfoSession;
class RtpLayerSession;

// One run of a channel's send loop: the "RtpInfoSessionSend" thread together with what the loop
// sends with, fixed when it starts (the RTP session, null when none could be opened, and the
// payload type and clock rate). Whoever takes it off the session stops it, waits for it, and
// only then ends the RTP session, so nothing it uses goes away under it.
class RtpInfoSessionSendThread : public RDThread
{
public:
    // How the loop waits for the next packet's due time.
    enum Pacing
    {
        kPacingWait,        // waits for the due time on the monotonic clock, or a stop, whichever first
        kPacingNanosleep,   // sleeps until the due time, kSlice at most at once (for comparison runs)
        kPacingMillisecond  // sleeps 1 ms at a time and looks again (for comparison runs)
    };
    // The longest sleep of kPacingNanosleep, so that a stop is seen soon.
    static constexpr double kSlice = 0.002;
    // How far behind the first packet a channel's timetable starts (see RtpInfoSessionSchedule).
    static constexpr double kScheduleDelay = 0.003;
    // The send thread's timer slack: the least the kernel takes (0 would mean its default).
    static constexpr unsigned long kTimerSlackNs = 1;

    // Takes the RTP session over (it may be null).
    RtpInfoSessionSendThread(RtpInfoSession* session, RtpLayerSession* rtp, int payloadType, int clockRate);
    ~RtpInfoSessionSendThread() override;

    RtpLayerSession* rtp() const { return m_rtp; }
    // Hands the RTP session over to the caller; only once the thread has ended.
    RtpLayerSession* takeRtp();
    int payloadType() const { return m_payloadType; }
    int clockRate() const { return m_clockRate; }

    // Set (under the session lock) when the loop decided to end because no source was left.
    bool hasEnded() const { return m_ended.load(std::memory_order_acquire); }
    void setEnded() { m_ended.store(true, std::memory_order_release); }

    // Sleeps until the monotonic time due or a stop (see Pacing).
    void sleepUntil(double due);
    // Sleeps until due; false when stopped before.
    bool waitUntil(double due);
    // The pause of a pass that found no packet.
    void idle();

    // Process-wide tuning for comparison runs; channels use the defaults.
    static void setPacing(Pacing pacing);
    static Pacing pacing();
    static void setScheduleDelay(double seconds);
    static double scheduleDelay();

protected:
    void run() override;

private:
    RtpInfoSession* m_session;
    RtpLayerSession* m_rtp;
    int m_payloadType;
    int m_clockRate;
    std::atomic<bool> m_ended{false};

    static std::atomic<int> s_pacing;
    static std::atomic<double> s_scheduleDelay;
};
