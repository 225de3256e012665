#pragma once

#include "RDThread.h"

class SipStack;

// "SipStackThread": reads the socket, runs the transaction state machines and the stack's timers.
// It never calls application code; it only queues events.
class SipStackThread : public RDThread
{
public:
    explicit SipStackThread(SipStack* stack);
    void stop() override;

protected:
    void run() override;

private:
    SipStack* m_stack;
};
