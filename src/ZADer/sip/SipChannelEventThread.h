#pragma once

#include "RDThread.h"
#include "SipChannelCommand.h"

#include <condition_variable>
#include <deque>
#include <mutex>

// Runs the call commands of all channels of one manager, one at a time, first in first out, so
// that a call is never torn down on its own media thread.
class SipChannelEventThread : public RDThread
{
public:
    SipChannelEventThread();
    ~SipChannelEventThread() override;

    void post(const SipChannelCommand& command);
    void stop() override;
    // Commands waiting to run.
    size_t pending();

protected:
    void run() override;

private:
    std::mutex m_mutex;
    std::condition_variable m_condition;
    std::deque<SipChannelCommand> m_queue;
};
