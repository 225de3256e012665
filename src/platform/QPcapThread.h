#pragma once

#include "RDThread.h"

class QPcap;

// Opens the adapter, keeps it open and reopens it after an error.
class QPcapThread : public RDThread
{
public:
    explicit QPcapThread(QPcap* capture) : m_capture(capture) {}

protected:
    void run() override;

private:
    QPcap* m_capture;
};
