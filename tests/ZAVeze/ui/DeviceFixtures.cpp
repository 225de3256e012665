#include "DeviceFixtures.h"

#include "TestSupport.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
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

ZAVezeDevice fromJson(const QJsonObject& object)
{
    ZAVezeDevice d;
    d.mac = QByteArray::fromHex(object.value("mac").toString().remove(':').toLatin1());
    d.ip = QByteArray(4, 0);
    const QStringList parts = object.value("ip").toString().split('.');
    for (int i = 0; i < 4 && i < parts.size(); ++i)
        d.ip[i] = char(parts[i].toInt());
    d.info = object.value("info").toObject();
    // Read as a device's "GetSipSettings" reply is, then cut to the lines the fixture has.
    const QJsonArray lines = object.value("sip").toArray();
    ZAVezeReply reply;
    for (int i = 0; i < lines.size(); ++i)
        reply.json.insert(QStringLiteral("sip%1").arg(i), lines[i]);
    d.parseSipSettings(reply);
    d.sip.resize(qMin(lines.size(), ZAVezeDevice::kSipLines));
    for (const QJsonValue& value : object.value("rtp").toArray())
        d.rtp.append(value.toString());
    return d;
}

QJsonObject panelFixture(const QString& name)
{
    QFile file(TestSupport::sourceDir() + QStringLiteral("/tests/ZAVeze/ui/fixtures/panel-devices.json"));
    if (!file.open(QIODevice::ReadOnly)) {
        ADD_FAILURE() << "cannot read " << file.fileName().toStdString();
        return QJsonObject();
    }
    const QJsonObject all = QJsonDocument::fromJson(file.readAll()).object();
    if (!all.contains(name))
        ADD_FAILURE() << "no fixture " << name.toStdString();
    return all.value(name).toObject();
}

} // namespace DeviceFixtures
