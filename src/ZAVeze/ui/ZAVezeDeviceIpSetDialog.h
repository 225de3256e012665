#pragma once

#include "ZAVezeDeviceSetDialog.h"
#include "ZAVezeIpInfo.h"

// Switches devices to DHCP, or gives each device its own static address settings.
class ZAVezeDeviceIpSetDialog : public ZAVezeDeviceSetDialog
{
    Q_OBJECT
public:
    ZAVezeDeviceIpSetDialog(QWidget* parent, ZAVeze* tool, ZAVezeDeviceUpdateSink* table);
    ~ZAVezeDeviceIpSetDialog() override;

    void setDevicesDhcp(const QVector<ZAVezeDevice>& devices);
    void setDeviceDhcp(const ZAVezeDevice& device);
    // One entry per device, in the same order; false, logged and nothing held when the counts
    // differ.
    bool setDevicesStatic(const QVector<ZAVezeDevice>& devices, const QVector<ZAVezeIpInfo>& addresses);
    void setDeviceStatic(const ZAVezeDevice& device, const QString& ip, const QString& netmask, const QString& gateway,
                         const QString& dns1, const QString& dns2);
    void run() override;

private:
    bool m_dhcp = false;
    QVector<ZAVezeDevice> m_devices;
    QVector<ZAVezeIpInfo> m_addresses;
};
