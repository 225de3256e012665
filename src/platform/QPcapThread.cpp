#include "QPcapThread.h"

#include "QPcap.h"

void QPcapThread::run()
{
    m_capture->superviseLoop(this);
}
