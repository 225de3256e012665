#pragma once

#include "RDThread.h"

class CoreDeviceCapture;

// The capture thread of a sound-card source: records the endpoint until it is stopped or the
// endpoint goes away.
class CoreDeviceCaptureThread : public RDThread
{
public:
    explicit CoreDeviceCaptureThread(CoreDeviceCapture* capture);

protected:
    void run() override;

private:
    CoreDeviceCapture* m_capture;
};
