#pragma once

#include "ZAVezeDeviceSetDialog.h"

// Resets devices to their factory settings; their answers are not looked at.
class ZAVezeDeviceRestoreDialog : public ZAVezeDeviceSetDialog
{
    Q_OBJECT
public:
    ZAVezeDeviceRestoreDialog(QWidget* parent, ZAVeze* tool, ZAVezeDeviceUpdateSink* table);
    ~ZAVezeDeviceRestoreDialog() override;

    void setDevices(const QVector<ZAVezeDevice>& devices) { m_devices = devices; }
    void setDevice(const ZAVezeDevice& device) { m_devices = {device}; }

    void run() override;

private:
    QVector<ZAVezeDevice> m_devices;
};
