#include "RDThread.h"

#include "RDLog.h"
#include "RDThreadPrivate.h"

#include <QDateTime>
#include <QThread>

#include <cassert>
#include <chrono>
#include <ctime>

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
    m_stop.store(false, std::memory_order_relaxed);
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
    m_stop.store(true, std::memory_order_relaxed);
    std::lock_guard<std::mutex> lock(m_sleepMutex);
    m_sleepCondition.notify_all();
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
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    std::unique_lock<std::mutex> lock(m_sleepMutex);
    m_sleepCondition.wait_until(lock, deadline, [this] { return isStop(); });
}

bool RDThread::sleepUntilDeadline(double due)
{
    // steady_clock is CLOCK_MONOTONIC, the clock of monotonicTime().
    const auto deadline = std::chrono::steady_clock::time_point(
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(due)));
    std::unique_lock<std::mutex> lock(m_sleepMutex);
    while (!isStop()) {
        if (m_sleepCondition.wait_until(lock, deadline) == std::cv_status::timeout)
            return !isStop();
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

double RDThread::tickTime()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const long long ms = static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
    return ms / 1000.0;
}
