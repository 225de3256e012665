#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

// Ends the process when a test that may deadlock has not disarmed it in time: a hang would
// otherwise only end at CTest's time-out, without saying where. Threads stuck in a deadlock
// cannot be joined, so there is no way back but abort (which leaves a core and, under a
// sanitizer, every thread's stack).
class TestWatchdog
{
public:
    TestWatchdog(const char* what, int seconds)
        : m_thread([this, what, seconds] {
            std::unique_lock<std::mutex> lock(m_mutex);
            if (!m_disarmed.wait_for(lock, std::chrono::seconds(seconds), [this] { return m_done; })) {
                std::fprintf(stderr, "watchdog: %s did not end within %d s: deadlock\n", what, seconds);
                std::fflush(stderr);
                std::abort();
            }
        })
    {
    }
    ~TestWatchdog() { disarm(); }
    TestWatchdog(const TestWatchdog&) = delete;
    TestWatchdog& operator=(const TestWatchdog&) = delete;

    void disarm()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_done = true;
        }
        m_disarmed.notify_all();
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_disarmed;
    bool m_done = false;
    std::thread m_thread;
};
