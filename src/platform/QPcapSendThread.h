#pragma once

#include "RDThread.h"

class QPcap;

// Sends the queued frames of one open adapter; ends on the first send error.
class QPcapSendThread : public RDThread
{
public:
    explicit QPcapSendThread(QPcap* capture) : m_capture(capture) {}

    // Also wakes the thread from its wait for a frame.
    void stop() override;

protected:
    void run() override;

private:
    QPcap* m_capture;
};
