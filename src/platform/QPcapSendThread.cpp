#include "QPcapSendThread.h"

#include "QPcap.h"

void QPcapSendThread::stop()
{
    RDThread::stop();
    m_capture->wakeSender();
}

void QPcapSendThread::run()
{
    m_capture->sendLoop(this);
}
