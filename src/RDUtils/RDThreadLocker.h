#pragma once

#include <mutex>

// A heap-held, non-recursive mutex with explicit lock and unlock (a pthread mutex, so that
// ThreadSanitizer sees it). Guard gives the scoped form,
// which is what new code should use: it cannot miss an unlock on an early return.
class RDThreadLocker
{
public:
    RDThreadLocker();
    virtual ~RDThreadLocker();

    RDThreadLocker(const RDThreadLocker&) = delete;
    RDThreadLocker& operator=(const RDThreadLocker&) = delete;

    int lock();
    int unlock();

    class Guard
    {
    public:
        explicit Guard(RDThreadLocker& locker) : m_locker(locker) { m_locker.lock(); }
        ~Guard() { m_locker.unlock(); }
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;

    private:
        RDThreadLocker& m_locker;
    };

private:
    std::mutex* m_mutex;
};
