#pragma once

#include "ZAVezeDeviceSetDialog.h"

// Gives each device its own name.
class ZAVezeDeviceNameSetDialog : public ZAVezeDeviceSetDialog
{
    Q_OBJECT
public:
    ZAVezeDeviceNameSetDialog(QWidget* parent, ZAVeze* tool, ZAVezeDeviceUpdateSink* table);
    ~ZAVezeDeviceNameSetDialog() override;

    void setDevice(const ZAVezeDevice& device, const QString& name);
    // One name per device; false, logged and nothing held when the counts differ.
    bool setDevices(const QVector<ZAVezeDevice>& devices, const QVector<QString>& names);
    void run() override;

private:
    QVector<ZAVezeDevice> m_devices;
    QVector<QString> m_names;
};
