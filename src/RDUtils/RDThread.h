#pragma once

#include <atomic>
#include <ctime>

class RDThreadPrivate;

// Base of every worker thread. The owner stops a worker with stop(), then wait(), then delete.
// The body polls isStop() and returns when it is raised; sleepUntilStop() wakes at once on stop.
class RDThread
{
public:
    RDThread();
    virtual ~RDThread();

    RDThread(const RDThread&) = delete;
    RDThread& operator=(const RDThread&) = delete;

    // Kernel thread names hold 15 bytes; longer names are shortened there and kept whole in the log.
    void setName(const char* name);
    // Clears the stop flag and starts the thread; false when the thread could not be created.
    // A thread that is still running is left untouched (and true is returned).
    bool start();
    // Raises the stop flag and returns at once. Overrides that must release a blocking call call
    // this first.
    virtual void stop();
    bool isStop() const { return m_stop.load(std::memory_order_relaxed) != 0; }
    bool isRunning() const;
    bool wait();

    // Sleeps up to ms milliseconds on the monotonic clock, returning as soon as stop() is called.
    void sleepUntilStop(int ms);
    // Sleeps until the monotonic time due (seconds, the clock of monotonicTime()), returning at
    // once when stop() is called. True when due was reached, false when stopped first.
    bool sleepUntilDeadline(double due);

    static void msleep(unsigned long ms);
    // Wall-clock seconds since the Unix epoch, millisecond resolution.
    static double currentTime();
    // Monotonic seconds, truncated to whole milliseconds.
    static double tickTime();
    // Monotonic seconds to the nanosecond, for pacing and RTP timing.
    static double monotonicTime();
    // Seconds (not negative) as a timespec, for the clock calls that take one.
    static timespec toTimespec(double seconds);

protected:
    virtual void run() = 0;

private:
    friend class RDThreadPrivate;

    // Waits on the stop flag until the monotonic deadline (seconds); true when it passed
    // without a stop.
    bool waitForStop(double due);

    RDThreadPrivate* m_private;
    // The stop flag, 1 once raised; the sleeps wait on it directly (a futex), so a wake-up costs
    // a single system call and no lock.
    std::atomic<int> m_stop{0};
};
