#pragma once

#include "RtpEngineHost.h"

// An application object for engine tests: it answers with what the test set and registers
// itself as the host for its lifetime.
class RtpEngineHostDouble : public RtpEngineHost
{
public:
    RtpEngineHostDouble() { setInstance(this); }
    ~RtpEngineHostDouble() override
    {
        if (instance() == this)
            setInstance(nullptr);
    }

    RDSystemNetwork networkValue;
    int sipPortValue = kDefaultSipPort;

    RDSystemNetwork network() override { return networkValue; }
    int sipPort() override { return sipPortValue; }
};
