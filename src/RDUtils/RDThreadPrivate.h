#pragma once

#include <QString>

#include <atomic>
#include <mutex>
#include <thread>

class RDThread;

// The operating-system thread behind an RDThread. It is a plain joined pthread rather than a
// QThread so that start, end and join are visible to ThreadSanitizer; Qt adopts it on demand.
class RDThreadPrivate
{
public:
    explicit RDThreadPrivate(RDThread* owner);
    ~RDThreadPrivate();

    void setName(const QString& name) { m_name = name; }
    const QString& name() const { return m_name; }

    bool start();
    bool isRunning() const { return m_running.load(std::memory_order_acquire); }
    bool wait();

private:
    void body();

    RDThread* m_owner;
    QString m_name;
    std::mutex m_joinMutex;
    std::thread m_thread;
    std::atomic<bool> m_running{false};
};
