#pragma once

#include "ZAVezeDeviceSetDialog.h"

// Restarts devices; their answers are not looked at.
class ZAVezeDeviceRebootDialog : public ZAVezeDeviceSetDialog
{
    Q_OBJECT
public:
    ZAVezeDeviceRebootDialog(QWidget* parent, ZAVeze* tool, ZAVezeDeviceUpdateSink* table);
    ~ZAVezeDeviceRebootDialog() override;

    void setDevices(const QVector<ZAVezeDevice>& devices) { m_devices = devices; }
    void setDevice(const ZAVezeDevice& device) { m_devices = {device}; }

    void run() override;

private:
    QVector<ZAVezeDevice> m_devices;
};
