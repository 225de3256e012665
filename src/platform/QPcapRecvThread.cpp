#include "QPcapRecvThread.h"

#include "QPcap.h"

void QPcapRecvThread::stop()
{
    RDThread::stop();
    m_capture->breakLoop();
}

void QPcapRecvThread::run()
{
    m_capture->recvLoop(this);
}
