#include "RTPThreadedAudioReader.h"

#include "RDFunctionThread.h"
#include "RTPAudioPacket.h"

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
    m_thread = new RDFunctionThread(name, std::move(body));
    m_running = true;
    if (m_thread->start())
        return true;
    delete m_thread;
    m_thread = nullptr;
    m_running = false;
    m_finished = true;
    return false;
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
