#include "ZAVezeDeviceAuthSetDialog.h"

#include "ZAVeze.h"

ZAVezeDeviceAuthSetDialog::ZAVezeDeviceAuthSetDialog(QWidget* parent, ZAVeze* tool, ZAVezeDeviceUpdateSink* table)
    : ZAVezeDeviceSetDialog(parent, tool, table)
{
}

ZAVezeDeviceAuthSetDialog::~ZAVezeDeviceAuthSetDialog()
{
    stopTask();
}

void ZAVezeDeviceAuthSetDialog::setDevices(const QVector<ZAVezeDevice>& devices, const QString& account,
                                           const QString& password)
{
    m_devices = devices;
    m_account = account;
    m_password = password;
}

void ZAVezeDeviceAuthSetDialog::setDevice(const ZAVezeDevice& device, const QString& account, const QString& password)
{
    setDevices({device}, account, password);
}

void ZAVezeDeviceAuthSetDialog::run()
{
    runEach(
        m_devices, "account job",
        [this](ZAVeze& tool, const ZAVezeDevice& device, int) {
            return tool.setAccountPassword(device, m_account, m_password);
        },
        [this](ZAVezeDevice& device, int) {
            device.setAccount(m_account);
            device.setPassword(m_password);
        },
        true);
}
