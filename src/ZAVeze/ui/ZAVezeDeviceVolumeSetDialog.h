#pragma once

#include "ZAVezeDeviceSetDialog.h"

// Sets the microphone and speaker volumes and the auto mute of devices.
class ZAVezeDeviceVolumeSetDialog : public ZAVezeDeviceSetDialog
{
    Q_OBJECT
public:
    ZAVezeDeviceVolumeSetDialog(QWidget* parent, ZAVeze* tool, ZAVezeDeviceUpdateSink* table);
    ~ZAVezeDeviceVolumeSetDialog() override;

    void setDevices(const QVector<ZAVezeDevice>& devices, int micVolume, int outVolume, int autoMute);
    void setDevice(const ZAVezeDevice& device, int micVolume, int outVolume, int autoMute);

    void run() override;

private:
    QVector<ZAVezeDevice> m_devices;
    int m_micVolume = 0;
    int m_outVolume = 0;
    int m_autoMute = 0;
};
