#pragma once

#include "ZAVezeDeviceSetDialog.h"

// Gives devices one list of RTP multicast destinations ("ip:port" each).
class ZAVezeDeviceRtpSetDialog : public ZAVezeDeviceSetDialog
{
    Q_OBJECT
public:
    ZAVezeDeviceRtpSetDialog(QWidget* parent, ZAVeze* tool, ZAVezeDeviceUpdateSink* table);
    ~ZAVezeDeviceRtpSetDialog() override;

    void setDevices(const QVector<ZAVezeDevice>& devices, const QVector<QString>& rtp);
    void setDevice(const ZAVezeDevice& device, const QVector<QString>& rtp);

    void run() override;

private:
    QVector<ZAVezeDevice> m_devices;
    QVector<QString> m_rtp;
};
