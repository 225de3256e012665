#pragma once

#include "RDThread.h"

class RtpManager;

// The channel manager's event thread: works the manager's event queue in arrival order, and is
// the one thread that calls the manager's observers.
class RtpManagerEventThread : public RDThread
{
public:
    explicit RtpManagerEventThread(RtpManager* manager);

    // Also wakes the thread if it waits for an event.
    void stop() override;

protected:
    void run() override;

private:
    RtpManager* m_manager;
};
