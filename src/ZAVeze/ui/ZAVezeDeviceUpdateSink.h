#pragma once

#include "ZAVezeDevice.h"

// Where the device operation jobs report a device that accepted a change. The device table
// implements it; the dialogs know only this, so the table can build the dialogs from its cells
// without the dialogs depending on the table.
class ZAVezeDeviceUpdateSink
{
public:
    virtual ~ZAVezeDeviceUpdateSink() = default;

    // Any thread: the sink takes the record over to its own thread before it touches a window.
    virtual void updateDevice(ZAVezeDevice device) = 0;
};
