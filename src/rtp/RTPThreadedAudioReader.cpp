#include "RTPThreadedAudioReader.h"

#include "RDThread.h"

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

bool RTPThreadedAudioReader::startThread(RDThread* thread, const char* name)
{
    m_thread = thread;
    m_thread->setName(name);
    m_running = true;
    if (m_thread->start())
        return true;
    delete m_thread;
    m_thread = nullptr;
    m_running = false;
    m_finished = true;
    return false;
}
