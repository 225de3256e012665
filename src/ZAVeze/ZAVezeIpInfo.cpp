#include "ZAVezeIpInfo.h"

#include <cstdio>

namespace {

bool readDotted(const QString& text, quint32& value)
{
    int a = 0, b = 0, c = 0, d = 0;
    char extra = 0;
    const QByteArray bytes = text.trimmed().toLatin1();
    if (std::sscanf(bytes.constData(), "%d.%d.%d.%d%c", &a, &b, &c, &d, &extra) != 4)
        return false;
    for (int part : {a, b, c, d})
        if (part < 0 || part > 255)
            return false;
    value = (quint32(a) << 24) | (quint32(b) << 16) | (quint32(c) << 8) | quint32(d);
    return true;
}

QString dotted(quint32 value)
{
    return QStringLiteral("%1.%2.%3.%4").arg(value >> 24).arg((value >> 16) & 0xff).arg((value >> 8) & 0xff).arg(value & 0xff);
}

quint32 maskOf(const QString& netmask)
{
    quint32 mask = 0;
    return readDotted(netmask, mask) ? mask : 0xffffff00u;
}

} // namespace

ZAVezeIpInfo ZAVezeIpInfo::nextAddress(bool* ok) const
{
    if (ok)
        *ok = false;
    quint32 address = 0;
    if (!readDotted(ip, address))
        return *this;
    const quint32 mask = maskOf(netmask);
    const quint32 next = address + 1;
    // Counting on carries into the third number; the broadcast address and the next subnet
    // are never handed out.
    if (next == 0 || (next & mask) != (address & mask) || (next | mask) == 0xffffffffu)
        return *this;
    ZAVezeIpInfo result = *this;
    result.ip = dotted(next);
    if (ok)
        *ok = true;
    return result;
}

bool ZAVezeIpInfo::isHostAddress() const
{
    quint32 address = 0;
    if (!readDotted(ip, address))
        return false;
    const quint32 mask = maskOf(netmask);
    return (address & ~mask) != 0 && (address | mask) != 0xffffffffu;
}
