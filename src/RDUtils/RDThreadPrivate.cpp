#include "RDThreadPrivate.h"

#include "CrashWriter.h"
#include "RDThread.h"

#include <pthread.h>
#include <system_error>

RDThreadPrivate::RDThreadPrivate(RDThread* owner) : m_owner(owner) {}

RDThreadPrivate::~RDThreadPrivate()
{
    // A thread that ran and ended is joined here; a running one is the owner's error and was
    // reported by ~RDThread.
    if (!isRunning())
        wait();
    else if (m_thread.joinable())
        m_thread.detach();
}

bool RDThreadPrivate::start()
{
    std::lock_guard<std::mutex> lock(m_joinMutex);
    if (m_running.load(std::memory_order_acquire))
        return true;
    if (m_thread.joinable())
        m_thread.join(); // the previous run has ended
    m_running.store(true, std::memory_order_release);
    try {
        m_thread = std::thread(&RDThreadPrivate::body, this);
    } catch (const std::system_error&) {
        m_running.store(false, std::memory_order_release);
        return false;
    }
    return true;
}

bool RDThreadPrivate::wait()
{
    std::lock_guard<std::mutex> lock(m_joinMutex);
    if (m_thread.joinable()) {
        if (m_thread.get_id() == std::this_thread::get_id())
            return false; // a thread cannot wait for itself
        m_thread.join();
    }
    return true;
}

void RDThreadPrivate::body()
{
    if (!m_name.isEmpty()) {
        // Linux keeps 15 bytes of a thread name; cut on a character boundary.
        QByteArray utf8 = m_name.toUtf8();
        int n = qMin(utf8.size(), 15);
        while (n > 0 && n < utf8.size() && (static_cast<unsigned char>(utf8[n]) & 0xC0) == 0x80)
            --n;
        pthread_setname_np(pthread_self(), utf8.left(n).constData());
    }
    // A stack for the crash handler: a worker that overflows its own stack still gets a report.
    CrashWriter::prepareThread();
    m_owner->run();
    CrashWriter::releaseThread();
    m_running.store(false, std::memory_order_release);
}
