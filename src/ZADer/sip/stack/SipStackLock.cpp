#include "SipStackLock.h"

#include "SipStack.h"

SipStackLock::SipStackLock(SipStack* stack) : m_stack(stack)
{
    if (m_stack)
        m_stack->lock();
}

SipStackLock::~SipStackLock()
{
    if (m_stack)
        m_stack->unlock();
}
