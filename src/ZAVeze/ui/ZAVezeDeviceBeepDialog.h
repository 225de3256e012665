#pragma once

#include "ZAVezeDeviceSetDialog.h"

// Plays the test tone on one device; its answer is not looked at.
class ZAVezeDeviceBeepDialog : public ZAVezeDeviceSetDialog
{
    Q_OBJECT
public:
    ZAVezeDeviceBeepDialog(QWidget* parent, ZAVeze* tool, ZAVezeDeviceUpdateSink* table);
    ~ZAVezeDeviceBeepDialog() override;

    void setDevice(const ZAVezeDevice& device) { m_device = device; }

    void run() override;

private:
    ZAVezeDevice m_device;
};
