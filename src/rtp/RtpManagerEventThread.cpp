#include "RtpManagerEventThread.h"

#include "RtpManager.h"
#include "RtpManagerEvent.h"

RtpManagerEventThread::RtpManagerEventThread(RtpManager* manager) : m_manager(manager)
{
    setName("RtpManagerEvent");
}

void RtpManagerEventThread::stop()
{
    RDThread::stop();
    m_manager->wakeEventThread();
}

void RtpManagerEventThread::run()
{
    RtpManagerEvent event;
    while (!isStop()) {
        if (m_manager->waitEvent(this, event))
            m_manager->processEvent(event);
    }
}
