#include "ZAVezeDeviceIpSetDialog.h"

#include "ZAVeze.h"

ZAVezeDeviceIpSetDialog::ZAVezeDeviceIpSetDialog(QWidget* parent, ZAVeze* tool, ZAVezeDeviceUpdateSink* table)
    : ZAVezeDeviceSetDialog(parent, tool, table)
{
}

ZAVezeDeviceIpSetDialog::~ZAVezeDeviceIpSetDialog()
{
    stopTask();
}

void ZAVezeDeviceIpSetDialog::setDevicesDhcp(const QVector<ZAVezeDevice>& devices)
{
    m_dhcp = true;
    m_devices = devices;
    m_addresses.clear();
}

void ZAVezeDeviceIpSetDialog::setDeviceDhcp(const ZAVezeDevice& device)
{
    setDevicesDhcp({device});
}

bool ZAVezeDeviceIpSetDialog::setDevicesStatic(const QVector<ZAVezeDevice>& devices,
                                               const QVector<ZAVezeIpInfo>& addresses)
{
    m_dhcp = false;
    m_devices.clear();
    m_addresses.clear();
    if (!sameCount("static address job", devices.size(), addresses.size()))
        return false;
    m_devices = devices;
    m_addresses = addresses;
    return true;
}

void ZAVezeDeviceIpSetDialog::setDeviceStatic(const ZAVezeDevice& device, const QString& ip, const QString& netmask,
                                              const QString& gateway, const QString& dns1, const QString& dns2)
{
    ZAVezeIpInfo address;
    address.mode = QStringLiteral("static");
    address.ip = ip;
    address.netmask = netmask;
    address.gateway = gateway;
    address.dns1 = dns1;
    address.dns2 = dns2;
    setDevicesStatic({device}, {address});
}

void ZAVezeDeviceIpSetDialog::run()
{
    if (m_dhcp) {
        runEach(
            m_devices, "DHCP job", [](ZAVeze& tool, const ZAVezeDevice& device, int) { return tool.setIpDhcp(device); },
            [](ZAVezeDevice& device, int) { device.setIpMode(QStringLiteral("DHCP")); }, true);
        return;
    }
    runEach(
        m_devices, "static address job",
        [this](ZAVeze& tool, const ZAVezeDevice& device, int i) {
            const ZAVezeIpInfo& a = m_addresses[i];
            return tool.setIpStatic(device, a.ip, a.netmask, a.gateway, a.dns1, a.dns2);
        },
        [this](ZAVezeDevice& device, int i) {
            const ZAVezeIpInfo& a = m_addresses[i];
            device.setIpMode(QStringLiteral("Static"));
            device.setIpAddress(a.ip);
            device.setNetmask(a.netmask);
            device.setGateway(a.gateway);
            device.setDns1(a.dns1);
            device.setDns2(a.dns2);
        },
        true);
}
