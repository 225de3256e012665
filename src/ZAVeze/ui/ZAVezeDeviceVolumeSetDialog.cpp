#include "ZAVezeDeviceVolumeSetDialog.h"

#include "ZAVeze.h"

ZAVezeDeviceVolumeSetDialog::ZAVezeDeviceVolumeSetDialog(QWidget* parent, ZAVeze* tool, ZAVezeDeviceUpdateSink* table)
    : ZAVezeDeviceSetDialog(parent, tool, table)
{
}

ZAVezeDeviceVolumeSetDialog::~ZAVezeDeviceVolumeSetDialog()
{
    stopTask();
}

void ZAVezeDeviceVolumeSetDialog::setDevices(const QVector<ZAVezeDevice>& devices, int micVolume, int outVolume,
                                             int autoMute)
{
    m_devices = devices;
    m_micVolume = micVolume;
    m_outVolume = outVolume;
    m_autoMute = autoMute;
}

void ZAVezeDeviceVolumeSetDialog::setDevice(const ZAVezeDevice& device, int micVolume, int outVolume, int autoMute)
{
    setDevices({device}, micVolume, outVolume, autoMute);
}

void ZAVezeDeviceVolumeSetDialog::run()
{
    runEach(
        m_devices, "volume job",
        [this](ZAVeze& tool, const ZAVezeDevice& device, int) {
            return tool.setDeviceVolume(device, m_micVolume, m_outVolume, m_autoMute);
        },
        [this](ZAVezeDevice& device, int) {
            device.setMicVolume(m_micVolume);
            device.setOutVolume(m_outVolume);
            device.setAutoMute(m_autoMute);
        },
        true);
}
