#pragma once

#include "ZAVezeDeviceSetDialog.h"
#include "ZAVezeSipInfo.h"

// Sets one SIP line (0 the first account, 1 the second) of devices, each with its own settings.
class ZAVezeDeviceSipSetDialog : public ZAVezeDeviceSetDialog
{
    Q_OBJECT
public:
    ZAVezeDeviceSipSetDialog(QWidget* parent, ZAVeze* tool, ZAVezeDeviceUpdateSink* table);
    ~ZAVezeDeviceSipSetDialog() override;

    // One entry per device; false, logged and nothing held when the counts differ.
    bool setDevices(const QVector<ZAVezeDevice>& devices, int line, const QVector<ZAVezeSipInfo>& sip);
    void setDevice(const ZAVezeDevice& device, int line, const ZAVezeSipInfo& sip);
    void run() override;

private:
    QVector<ZAVezeDevice> m_devices;
    QVector<ZAVezeSipInfo> m_sip;
    int m_line = 0;
};
