#include "DeviceFixtures.h"

#include <QJsonObject>

namespace DeviceFixtures {

ZAVezeDevice device(int index, const QString& ip)
{
    ZAVezeDevice d;
    d.mac = QByteArray::fromHex("020000000000");
    d.mac[5] = char(index);
    const QString address = ip.isEmpty() ? QStringLiteral("192.168.1.%1").arg(10 + index) : ip;
    d.ip = QByteArray(4, 0);
    const QStringList parts = address.split('.');
    for (int i = 0; i < 4 && i < parts.size(); ++i)
        d.ip[i] = char(parts[i].toInt());
    d.info = QJsonObject{
        {"name", QStringLiteral("Speaker %1").arg(index)},
        {"mac", QStringLiteral("02:00:00:00:00:%1").arg(index, 2, 16, QLatin1Char('0')).toUpper()},
        {"ip", address},
        {"netmask", "255.255.255.0"},
        {"gateway", "192.168.1.1"},
        {"dns1", "192.168.1.1"},
        {"dns2", "8.8.8.8"},
        {"IpMode", "DHCP"},
        {"sipInfo", QStringLiteral("10%1@192.168.1.2:5060").arg(index)},
        {"rtpInfo", "239.255.0.1:8000"},
        {"appVersion", "V1.4.2"},
        {"micVolume", 5},
        {"outVolume", 7},
        {"autoMute", 0},
        {"account", "admin"},
        {"password", "admin"},
    };
    ZAVezeSipInfo line;
    line.account = QStringLiteral("10%1").arg(index);
    d.sip = {line, ZAVezeSipInfo()};
    d.rtp = {QStringLiteral("239.255.0.1:8000")};
    return d;
}

QVector<ZAVezeDevice> devices(int count)
{
    QVector<ZAVezeDevice> list;
    for (int i = 1; i <= count; ++i)
        list.append(device(i));
    return list;
}

} // namespace DeviceFixtures
