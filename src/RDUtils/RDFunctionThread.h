#pragma once

#include "RDThread.h"

#include <functional>

// A worker whose whole body is one function: readers, writers, accept and event loops. The body
// gets the thread, to poll isStop() and to pause with sleepUntilStop or sleepUntilDeadline.
// The owner's stop/wait/delete rule is RDThread's.
class RDFunctionThread : public RDThread
{
public:
    using Body = std::function<void(RDThread* thread)>;
    // onStop runs on the stopping thread right after the stop flag is raised, for bodies that
    // block elsewhere (a condition variable of their own, a socket) and must be woken.
    explicit RDFunctionThread(const char* name, Body body, std::function<void()> onStop = {});

    void stop() override;

protected:
    void run() override;

private:
    Body m_body;
    std::function<void()> m_onStop;
};
