#pragma once

#include "RtpPortManager.h"

#include <unistd.h>

// The process-wide local port allocator, for the channel sessions of one test.
class RtpPortManagerScope
{
public:
    RtpPortManagerScope()
    {
        RtpPortManager::createInstance();
        spread();
    }
    ~RtpPortManagerScope() { RtpPortManager::destroyInstance(); }
    RtpPortManagerScope(const RtpPortManagerScope&) = delete;
    RtpPortManagerScope& operator=(const RtpPortManagerScope&) = delete;

    // Test programs run side by side, and each allocator starts at the first port of the range:
    // a port one program probed free can be bound by another before a channel session binds it.
    // Each program moves on to a stretch of its own.
    static void spread()
    {
        RtpPortManager* ports = RtpPortManager::instance();
        if (!ports)
            return;
        const int skip = int(getpid() % 50) * 16;
        for (int i = 0; i < skip; ++i)
            ports->getFreePort();
    }
};
