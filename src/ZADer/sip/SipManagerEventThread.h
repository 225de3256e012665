#pragma once

#include "RDThread.h"

class SipManager;
class SipStack;

// Reads the stack's events (waiting at most 100 ms for each) and hands them to the manager;
// runs the registration tick of every listed channel at the manager's keep-alive interval.
class SipManagerEventThread : public RDThread
{
public:
    static constexpr int kWaitMs = 100;

    SipManagerEventThread(SipManager* manager, SipStack* stack, double keepaliveInterval);

protected:
    void run() override;

private:
    SipManager* m_manager;
    SipStack* m_stack;
    double m_interval;
};
