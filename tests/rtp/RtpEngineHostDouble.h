#pragma once

#include "FakeEngineHost.h"

// The application object for engine tests, with the adapter and the SIP port the test sets
// beside the stream server; registered for its lifetime.
class RtpEngineHostDouble : public FakeEngineHost
{
public:
    RDSystemNetwork networkValue;
    int sipPortValue = kDefaultSipPort;

    RDSystemNetwork network() override { return networkValue; }
    int sipPort() override { return sipPortValue; }
};
