#include "ZAVezeDeviceMacSetDialog.h"

#include "ZAVeze.h"

ZAVezeDeviceMacSetDialog::ZAVezeDeviceMacSetDialog(QWidget* parent, ZAVeze* tool, ZAVezeDeviceUpdateSink* table)
    : ZAVezeDeviceSetDialog(parent, tool, table)
{
}

ZAVezeDeviceMacSetDialog::~ZAVezeDeviceMacSetDialog()
{
    stopTask();
}

void ZAVezeDeviceMacSetDialog::setDevice(const ZAVezeDevice& device, const QString& mac)
{
    setDevices({device}, {mac});
}

bool ZAVezeDeviceMacSetDialog::setDevices(const QVector<ZAVezeDevice>& devices, const QVector<QString>& macs)
{
    m_devices.clear();
    m_macs.clear();
    if (!sameCount("MAC job", devices.size(), macs.size()))
        return false;
    m_devices = devices;
    m_macs = macs;
    return true;
}

void ZAVezeDeviceMacSetDialog::run()
{
    runEach(
        m_devices, "MAC job",
        [this](ZAVeze& tool, const ZAVezeDevice& device, int i) { return tool.setMac(device, m_macs[i]); },
        [this](ZAVezeDevice& device, int i) { device.setMacAddress(m_macs[i]); }, true);
}
