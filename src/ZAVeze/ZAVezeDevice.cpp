#include "ZAVezeDevice.h"

#include <QStringList>

namespace {

const int kRegistered = qRegisterMetaType<ZAVezeDevice>("ZAVezeDevice");

// A port given as a JSON number or as decimal text; 0 when it is neither or out of range.
int portOf(const QJsonValue& value)
{
    int port = 0;
    if (value.isDouble())
        port = value.toInt();
    else if (value.isString()) {
        bool ok = false;
        port = value.toString().trimmed().toInt(&ok, 10);
        if (!ok)
            port = 0;
    }
    return port >= 1 && port <= 65535 ? port : 0;
}

} // namespace

ZAVezeDevice ZAVezeDevice::fromReply(const ZAVezeReply& reply)
{
    (void)kRegistered;
    ZAVezeDevice device;
    device.mac = reply.senderMac;
    device.ip = reply.senderIp;
    device.info = reply.json;
    return device;
}

QString ZAVezeDevice::value(const QString& key, bool* ok) const
{
    return ZAVezeReply::textMember(info, key, ok);
}

int ZAVezeDevice::number(const char* key) const
{
    const QJsonValue v = info.value(QLatin1String(key));
    if (v.isString())
        return v.toString().toInt(nullptr, 10);
    return v.toInt();
}

QString ZAVezeDevice::volume() const
{
    return QStringLiteral("%1,%2").arg(micVolume()).arg(outVolume());
}

void ZAVezeDevice::setVolume(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 2)
        return;
    setMicVolume(parts[0].toInt(nullptr, 10));
    setOutVolume(parts[1].toInt(nullptr, 10));
}

void ZAVezeDevice::setRtp(const QVector<QString>& list)
{
    rtp = list;
    for (const QString& entry : list) {
        if (!entry.isEmpty()) {
            setRtpInfo(entry);
            break;
        }
    }
}

void ZAVezeDevice::setSip(int line, const ZAVezeSipInfo& sipLine)
{
    if (line < 0 || line >= sip.size())
        return;
    sip[line] = sipLine;
    if (line == 0)
        setSipInfo(sipLine.summary());
}

void ZAVezeDevice::parseRtpSettings(const ZAVezeReply& reply)
{
    rtp.clear();
    for (int i = 0; i < kMaxRtp; ++i) {
        const QJsonObject entry = reply.json.value(QStringLiteral("rtp%1").arg(i)).toObject();
        const QString address = entry.value(QLatin1String("address")).toString();
        if (!address.isEmpty()) {
            rtp.append(address);
            continue;
        }
        QString host = entry.value(QLatin1String("rtpIP")).toString();
        if (host.isEmpty())
            host = entry.value(QLatin1String("rtpIp")).toString();
        // Devices write the port as a number, the set request as text: both are read.
        const int port = portOf(entry.value(QLatin1String("rtpPort")));
        if (!host.isEmpty() && port > 0)
            rtp.append(QStringLiteral("%1:%2").arg(host).arg(port));
    }
}

void ZAVezeDevice::parseSipSettings(const ZAVezeReply& reply)
{
    sip.clear();
    for (int i = 0; i < kSipLines; ++i) {
        const QJsonObject entry = reply.json.value(QStringLiteral("sip%1").arg(i)).toObject();
        auto text = [&](const char* key) { return entry.value(QLatin1String(key)).toString(); };
        ZAVezeSipInfo line;
        line.serverHost = text("serverHost");
        line.serverPort = text("serverPort");
        line.protocol = text("protocol");
        line.displayName = text("displayName");
        line.account = text("account");
        line.authName = text("authName");
        line.password = text("password");
        line.proxyStatus = text("proxyStatus");
        line.proxyHost = text("proxyHost");
        line.proxyPort = text("proxyPort");
        const QJsonValue expires = entry.value(QLatin1String("expires"));
        line.expires = expires.isString() ? expires.toString() : QString::number(expires.toInt());
        sip.append(line);
    }
}

int ZAVezeDevice::compare(const ZAVezeDevice& other) const
{
    return mac.compare(other.mac);
}
