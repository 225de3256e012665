#pragma once

#include "RtpPortManager.h"

// The process-wide local port allocator, for the channel sessions of one test.
class RtpPortManagerScope
{
public:
    RtpPortManagerScope() { RtpPortManager::createInstance(); }
    ~RtpPortManagerScope() { RtpPortManager::destroyInstance(); }
    RtpPortManagerScope(const RtpPortManagerScope&) = delete;
    RtpPortManagerScope& operator=(const RtpPortManagerScope&) = delete;
};
