#pragma once

#include "RDThread.h"

#include <functional>

// Polls a condition every 5 ms until it holds or the time is up.
class SipTestWait
{
public:
    static bool until(const std::function<bool()>& done, int timeoutMs)
    {
        const double deadline = RDThread::tickTime() + timeoutMs / 1000.0;
        while (!done()) {
            if (RDThread::tickTime() > deadline)
                return false;
            RDThread::msleep(5);
        }
        return true;
    }
};
