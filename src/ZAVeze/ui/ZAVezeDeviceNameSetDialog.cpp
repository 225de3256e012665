#include "ZAVezeDeviceNameSetDialog.h"

#include "ZAVeze.h"

ZAVezeDeviceNameSetDialog::ZAVezeDeviceNameSetDialog(QWidget* parent, ZAVeze* tool, ZAVezeDeviceUpdateSink* table)
    : ZAVezeDeviceSetDialog(parent, tool, table)
{
}

ZAVezeDeviceNameSetDialog::~ZAVezeDeviceNameSetDialog()
{
    stopTask();
}

void ZAVezeDeviceNameSetDialog::setDevice(const ZAVezeDevice& device, const QString& name)
{
    setDevices({device}, {name});
}

bool ZAVezeDeviceNameSetDialog::setDevices(const QVector<ZAVezeDevice>& devices, const QVector<QString>& names)
{
    m_devices.clear();
    m_names.clear();
    if (!sameCount("name job", devices.size(), names.size()))
        return false;
    m_devices = devices;
    m_names = names;
    return true;
}

void ZAVezeDeviceNameSetDialog::run()
{
    runEach(
        m_devices, "name job",
        [this](ZAVeze& tool, const ZAVezeDevice& device, int i) { return tool.setName(device, m_names[i]); },
        [this](ZAVezeDevice& device, int i) { device.setName(m_names[i]); }, true);
}
