#include "RtpInfoSessionSendThread.h"

#include "RtpInfoSession.h"
#include "RtpLayerSession.h"
#include "RDThread.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <sys/prctl.h>

std::atomic<int> RtpInfoSessionSendThread::s_pacing{kPacingWait};
std::atomic<double> RtpInfoSessionSendThread::s_scheduleDelay{kScheduleDelay};

namespace {

void sleepFor(double seconds)
{
    timespec ts = RDThread::toTimespec(seconds);
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

} // namespace

RtpInfoSessionSendThread::RtpInfoSessionSendThread(RtpInfoSession* session, RtpLayerSession* rtp, int payloadType,
                                                   int clockRate)
    : m_session(session), m_rtp(rtp), m_payloadType(payloadType), m_clockRate(clockRate)
{
    setName("RtpInfoSessionSend");
}

RtpInfoSessionSendThread::~RtpInfoSessionSendThread()
{
    delete m_rtp;
}

RtpLayerSession* RtpInfoSessionSendThread::takeRtp()
{
    RtpLayerSession* rtp = m_rtp;
    m_rtp = nullptr;
    return rtp;
}

void RtpInfoSessionSendThread::run()
{
    // The kernel may let a timed wait run this much past its deadline so as to batch wake-ups;
    // its default of 50 us shows in every packet's lateness, so the send loop asks for none.
    prctl(PR_SET_TIMERSLACK, kTimerSlackNs, 0, 0, 0);
    m_session->doSend(this);
}

void RtpInfoSessionSendThread::sleepUntil(double due)
{
    const Pacing mode = pacing();
    if (mode == kPacingMillisecond) {
        sleepFor(0.001);
        return;
    }
    if (mode == kPacingWait) {
        sleepUntilDeadline(due);
        return;
    }
    const double now = RDThread::monotonicTime();
    const timespec deadline = RDThread::toTimespec(std::min(due, now + kSlice));
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

bool RtpInfoSessionSendThread::waitUntil(double due)
{
    while (!isStop()) {
        if (RDThread::monotonicTime() >= due)
            return true;
        sleepUntil(due);
    }
    return false;
}

void RtpInfoSessionSendThread::idle()
{
    sleepFor(0.001);
}

void RtpInfoSessionSendThread::setPacing(Pacing pacing)
{
    s_pacing.store(pacing, std::memory_order_relaxed);
}

RtpInfoSessionSendThread::Pacing RtpInfoSessionSendThread::pacing()
{
    return Pacing(s_pacing.load(std::memory_order_relaxed));
}

void RtpInfoSessionSendThread::setScheduleDelay(double seconds)
{
    s_scheduleDelay.store(seconds > 0 ? seconds : 0, std::memory_order_relaxed);
}

double RtpInfoSessionSendThread::scheduleDelay()
{
    return s_scheduleDelay.load(std::memory_order_relaxed);
}
