#include "RTPThreadedAudioReader.h"

#include "RDFunctionThread.h"
#include "RTPAudioPacket.h"

#include <chrono>

RTPThreadedAudioReader::~RTPThreadedAudioReader()
{
    stop();
}

void RTPThreadedAudioReader::stop()
{
    if (m_thread) {
        m_thread->stop();
        m_thread->wait();
        delete m_thread;
        m_thread = nullptr;
    }
    m_running = false;
    m_queue.clear();
}

void RTPThreadedAudioReader::prepareStart()
{
    stop();
    m_finished = false;
}

bool RTPThreadedAudioReader::startThread(const char* name, std::function<void(RDThread*)> body)
{
    {
        std::lock_guard<std::mutex> lock(m_napMutex);
        m_woken = false;
    }
    m_thread = new RDFunctionThread(name, std::move(body), [this] { wake(); });
    m_running = true;
    if (m_thread->start())
        return true;
    delete m_thread;
    m_thread = nullptr;
    m_running = false;
    m_finished = true;
    return false;
}

void RTPThreadedAudioReader::nap(RDThread* thread, double seconds)
{
    std::unique_lock<std::mutex> lock(m_napMutex);
    if (seconds > 0.0 && !m_woken && !thread->isStop())
        m_napCondition.wait_for(lock, std::chrono::duration<double>(seconds),
                                [this, thread] { return m_woken || thread->isStop(); });
    m_woken = false;
}

void RTPThreadedAudioReader::wake()
{
    std::lock_guard<std::mutex> lock(m_napMutex);
    m_woken = true;
    m_napCondition.notify_all();
}

void RTPThreadedAudioReader::resetPacing()
{
    m_firstRead = -1.0;
    m_handedOut = 0.0;
}

RTPAudioPacket* RTPThreadedAudioReader::pacedPop()
{
    const double now = RDThread::tickTime();
    const double first = m_firstRead.load();
    const double handedOut = m_handedOut.load();
    if (first >= 0.0 && handedOut > now - first)
        return nullptr;
    RTPAudioPacket* packet = m_queue.pop();
    if (!packet)
        return nullptr;
    // The clock starts with the first packet. A source that fell far behind it (a slow open, a
    // reopen, a stalled network) goes on from now rather than handing out the gap at once.
    if (first < 0.0 || now - first - handedOut > kMaxLag)
        m_firstRead = now - handedOut;
    m_handedOut = handedOut + packet->duration;
    return packet;
}
