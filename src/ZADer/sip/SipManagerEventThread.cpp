#include "SipManagerEventThread.h"

#include "SipManager.h"
#include "SipStack.h"

SipManagerEventThread::SipManagerEventThread(SipManager* manager, SipStack* stack, double keepaliveInterval)
    : m_manager(manager), m_stack(stack), m_interval(keepaliveInterval)
{
    setName("SipManagerEventThread");
}

void SipManagerEventThread::run()
{
    double t0 = tickTime();
    while (!isStop()) {
        const double t = tickTime();
        if (t > t0 + m_interval || t < t0) {
            m_manager->keepaliveAll();
            t0 = t;
        }
        SipStackEvent* event = m_stack->eventWait(0, kWaitMs);
        if (!event)
            continue;
        m_manager->readEvent(event);
        SipStack::eventFree(event);
    }
}
