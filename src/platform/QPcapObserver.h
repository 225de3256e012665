#pragma once

#include <QByteArray>

class QPcap;

// Receives every captured frame of at most QPcap::kMaxFrameBytes bytes. Called on the capture
// thread: an implementation hands the work on to its own thread and returns quickly.
class QPcapObserver
{
public:
    virtual ~QPcapObserver() = default;
    virtual void onPacket(QPcap* capture, const QByteArray& frame)
    {
        (void)capture;
        (void)frame;
    }
};
