#include "SipStackThread.h"

#include "SipStack.h"

SipStackThread::SipStackThread(SipStack* stack) : m_stack(stack)
{
    setName("SipStackThread");
}

void SipStackThread::stop()
{
    RDThread::stop();
    m_stack->wake();
}

void SipStackThread::run()
{
    while (!isStop())
        m_stack->runOnce(this);
}
