#pragma once

#include "ZAVezeDeviceSetDialog.h"

// Gives each device its own MAC address (text). The record keeps its raw MAC bytes, so the
// table still finds the row.
class ZAVezeDeviceMacSetDialog : public ZAVezeDeviceSetDialog
{
    Q_OBJECT
public:
    ZAVezeDeviceMacSetDialog(QWidget* parent, ZAVeze* tool, ZAVezeDeviceUpdateSink* table);
    ~ZAVezeDeviceMacSetDialog() override;

    void setDevice(const ZAVezeDevice& device, const QString& mac);
    // One MAC text per device; false, logged and nothing held when the counts differ.
    bool setDevices(const QVector<ZAVezeDevice>& devices, const QVector<QString>& macs);
    void run() override;

private:
    QVector<ZAVezeDevice> m_devices;
    QVector<QString> m_macs;
};
