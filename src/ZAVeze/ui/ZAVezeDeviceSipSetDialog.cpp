#include "ZAVezeDeviceSipSetDialog.h"

#include "ZAVeze.h"

ZAVezeDeviceSipSetDialog::ZAVezeDeviceSipSetDialog(QWidget* parent, ZAVeze* tool, ZAVezeDeviceUpdateSink* table)
    : ZAVezeDeviceSetDialog(parent, tool, table)
{
}

ZAVezeDeviceSipSetDialog::~ZAVezeDeviceSipSetDialog()
{
    stopTask();
}

bool ZAVezeDeviceSipSetDialog::setDevices(const QVector<ZAVezeDevice>& devices, int line,
                                          const QVector<ZAVezeSipInfo>& sip)
{
    m_line = line;
    m_devices.clear();
    m_sip.clear();
    if (!sameCount("SIP job", devices.size(), sip.size()))
        return false;
    m_devices = devices;
    m_sip = sip;
    return true;
}

void ZAVezeDeviceSipSetDialog::setDevice(const ZAVezeDevice& device, int line, const ZAVezeSipInfo& sip)
{
    setDevices({device}, line, {sip});
}

void ZAVezeDeviceSipSetDialog::run()
{
    runEach(
        m_devices, "SIP job",
        [this](ZAVeze& tool, const ZAVezeDevice& device, int i) {
            return tool.setSipSettings(device, m_line, m_sip[i]);
        },
        [this](ZAVezeDevice& device, int i) { device.setSip(m_line, m_sip[i]); }, true);
}
