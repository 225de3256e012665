#pragma once

#include "RDThread.h"

class QPcap;

// Runs the capture loop of one open adapter until it is broken or fails.
class QPcapRecvThread : public RDThread
{
public:
    explicit QPcapRecvThread(QPcap* capture) : m_capture(capture) {}

    // Also breaks the capture loop, so that the thread ends without waiting for a frame.
    void stop() override;

protected:
    void run() override;

private:
    QPcap* m_capture;
};
