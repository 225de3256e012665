#include "CoreDeviceCaptureThread.h"

#include "CoreDeviceCapture.h"

CoreDeviceCaptureThread::CoreDeviceCaptureThread(CoreDeviceCapture* capture) : m_capture(capture)
{
    setName("CoreDeviceCapture");
}

void CoreDeviceCaptureThread::run()
{
    m_capture->_capture(this);
}
