#include "ZAVezeDeviceRtpSetDialog.h"

#include "ZAVeze.h"

ZAVezeDeviceRtpSetDialog::ZAVezeDeviceRtpSetDialog(QWidget* parent, ZAVeze* tool, ZAVezeDeviceUpdateSink* table)
    : ZAVezeDeviceSetDialog(parent, tool, table)
{
}

ZAVezeDeviceRtpSetDialog::~ZAVezeDeviceRtpSetDialog()
{
    stopTask();
}

void ZAVezeDeviceRtpSetDialog::setDevices(const QVector<ZAVezeDevice>& devices, const QVector<QString>& rtp)
{
    m_devices = devices;
    m_rtp = rtp;
}

void ZAVezeDeviceRtpSetDialog::setDevice(const ZAVezeDevice& device, const QVector<QString>& rtp)
{
    setDevices({device}, rtp);
}

void ZAVezeDeviceRtpSetDialog::run()
{
    runEach(
        m_devices, "RTP job",
        [this](ZAVeze& tool, const ZAVezeDevice& device, int) { return tool.setRtpSettings(device, m_rtp); },
        [this](ZAVezeDevice& device, int) { device.setRtp(m_rtp); }, true);
}
