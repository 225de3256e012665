#include "RDThread.h"

#include "RDLog.h"
#include "RDThreadPrivate.h"

#include <QDateTime>
#include <QThread>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <climits>
#include <cmath>
#include <ctime>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

static_assert(sizeof(std::atomic<int>) == sizeof(int), "the stop flag is waited on as a plain int");

RDThread::RDThread() : m_private(new RDThreadPrivate(this)) {}

RDThread::~RDThread()
{
    if (m_private->isRunning()) {
        // Qt aborts when a running QThread is destroyed; the owner broke the stop/wait/delete rule.
        RDLOG("thread %s deleted while running", m_private->name().toUtf8().constData());
        assert(!"RDThread deleted while running");
    }
    delete m_private;
}

void RDThread::setName(const char* name)
{
    m_private->setName(name ? QString::fromUtf8(name) : QString());
}

bool RDThread::start()
{
    m_stop.store(0, std::memory_order_relaxed);
    if (m_private->isRunning())
        return true;
    const QByteArray name = m_private->name().toUtf8();
    if (name.size() > 15)
        RDLOG("thread %s starts (its kernel name is shortened)", name.constData());
    if (!m_private->start()) {
        RDLOG("thread %s could not be started", name.constData());
        return false;
    }
    return true;
}

void RDThread::stop()
{
    // Raised before the wake, so a sleeper either sees it or is woken by the call.
    m_stop.store(1, std::memory_order_release);
    syscall(SYS_futex, reinterpret_cast<int*>(&m_stop), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
}

bool RDThread::isRunning() const
{
    return m_private->isRunning();
}

bool RDThread::wait()
{
    return m_private->wait();
}

void RDThread::sleepUntilStop(int ms)
{
    if (ms <= 0 || isStop())
        return;
    waitForStop(monotonicTime() + ms / 1000.0);
}

bool RDThread::sleepUntilDeadline(double due)
{
    return waitForStop(due);
}

bool RDThread::waitForStop(double due)
{
    // A deadline that is no number or not above 0 has passed; one beyond any uptime is never.
    if (!(due > 0.0))
        return !isStop();
    const timespec deadline = toTimespec(std::min(due, 1e12));
    // FUTEX_WAIT_BITSET takes an absolute time on CLOCK_MONOTONIC, the clock of monotonicTime();
    // it returns at once when the flag is no longer 0.
    while (!isStop()) {
        if (syscall(SYS_futex, reinterpret_cast<int*>(&m_stop), FUTEX_WAIT_BITSET_PRIVATE, 0, &deadline, nullptr,
                    FUTEX_BITSET_MATCH_ANY) != 0 &&
            errno != EINTR && errno != EAGAIN)
            return !isStop(); // the deadline passed
    }
    return false;
}

void RDThread::msleep(unsigned long ms)
{
    QThread::msleep(ms);
}

double RDThread::currentTime()
{
    return QDateTime::currentMSecsSinceEpoch() / 1000.0;
}

double RDThread::monotonicTime()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

timespec RDThread::toTimespec(double seconds)
{
    timespec ts;
    ts.tv_sec = time_t(std::floor(seconds));
    ts.tv_nsec = long((seconds - double(ts.tv_sec)) * 1e9);
    if (ts.tv_nsec >= 1000000000L) {
        ts.tv_sec += 1;
        ts.tv_nsec -= 1000000000L;
    }
    return ts;
}

double RDThread::tickTime()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const long long ms = static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
    return ms / 1000.0;
}
