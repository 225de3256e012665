#pragma once

class SipStack;

// The one guard of the SIP stack lock: held for its scope. A null stack takes nothing, so a
// caller that found no stack needs no second path.
class SipStackLock
{
public:
    explicit SipStackLock(SipStack* stack);
    ~SipStackLock();
    SipStackLock(const SipStackLock&) = delete;
    SipStackLock& operator=(const SipStackLock&) = delete;

private:
    SipStack* const m_stack;
};
