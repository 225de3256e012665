#include "ZAVezeFrame.h"

#include "RDJson.h"
#include "RDJsonParser.h"
#include "ZAVezeReply.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QStringList>

namespace {

const QString kMaskedPassword = QStringLiteral("******");

void appendBig16(QByteArray& out, quint32 value)
{
    out.append(char((value >> 8) & 0xff));
    out.append(char(value & 0xff));
}

void appendBig32(QByteArray& out, quint32 value)
{
    appendBig16(out, value >> 16);
    appendBig16(out, value);
}

} // namespace

const char* ZAVezeFrame::checkName(Check check)
{
    switch (check) {
    case Check::Accepted: return "accepted";
    case Check::TooShort: return "too short";
    case Check::BadMagic: return "bad magic";
    case Check::BadFlag: return "bad flag";
    case Check::BadLength: return "bad length";
    case Check::NotForUs: return "not for this adapter";
    case Check::NotAnObject: return "not a JSON object";
    }
    return "?";
}

QByteArray ZAVezeFrame::build(const QByteArray& destMac, const QByteArray& destIp, const QByteArray& sourceMac,
                              const QByteArray& sourceIp, const QByteArray& json)
{
    const quint32 length = quint32(json.size()) + kHeaderBytes;
    QByteArray frame;
    frame.reserve(kJsonOffset + json.size());
    frame.append(destMac);
    frame.append(sourceMac);
    appendBig16(frame, kEtherTypeArp);
    appendBig16(frame, 1);      // ARP hardware type Ethernet
    appendBig16(frame, 0x0800); // ARP protocol type IPv4
    frame.append(char(6));
    frame.append(char(4));
    appendBig16(frame, 1); // ARP request
    frame.append(sourceMac);
    frame.append(sourceIp);
    frame.append(destMac);
    frame.append(destIp);
    appendBig16(frame, kMagic);
    frame.append(char(1)); // kind
    appendBig16(frame, length & 0xffff);
    appendBig32(frame, 0);
    appendBig32(frame, length);
    frame.append(char(0)); // flag
    appendBig16(frame, 0);
    appendBig16(frame, length & 0xffff);
    frame.append(json);
    return frame;
}

ZAVezeFrame::Check ZAVezeFrame::checkHeader(const QByteArray& frame)
{
    if (frame.size() < kJsonOffset)
        return Check::TooShort;
    const auto* bytes = reinterpret_cast<const uchar*>(frame.constData());
    if (bytes[42] != 0x88 || bytes[43] != 0x88)
        return Check::BadMagic;
    if (bytes[55] != 0)
        return Check::BadFlag;
    if (int(bytes[45]) * 256 + int(bytes[46]) + kHeaderOffset != frame.size())
        return Check::BadLength;
    return Check::Accepted;
}

ZAVezeFrame::Check ZAVezeFrame::parseReply(const QByteArray& frame, const QByteArray& adapterMac,
                                           const QByteArray& adapterIp, ZAVezeReply& out)
{
    const Check header = checkHeader(frame);
    if (header != Check::Accepted)
        return header;
    if (frame.mid(32, 6) != adapterMac || frame.mid(38, 4) != adapterIp)
        return Check::NotForUs;
    QByteArray text = frame.mid(kJsonOffset);
    const int zero = text.indexOf('\0');
    if (zero >= 0)
        text.truncate(zero);
    QJsonObject json;
    if (RDJsonParser::parseObject(text, &json) != RDJsonParser::Status::Ok || json.isEmpty())
        return Check::NotAnObject;
    out.senderMac = frame.mid(22, 6);
    out.senderIp = frame.mid(28, 4);
    out.targetMac = frame.mid(32, 6);
    out.targetIp = frame.mid(38, 4);
    out.json = json;
    out.frame = frame;
    return Check::Accepted;
}

QByteArray ZAVezeFrame::jsonText(const QJsonObject& json)
{
    return QJsonDocument(json).toJson(QJsonDocument::Compact);
}

QByteArray ZAVezeFrame::logText(const QJsonObject& json)
{
    return jsonText(RDJson::maskPasswords(json, kMaskedPassword).toObject());
}

const char* ZAVezeFrame::captureFilter()
{
    return "len >= 60 and len <= 1514 and ether[42:2] = 0x8888 and ether[55] = 0 and ether[45:2] + 42 = len";
}

QString ZAVezeFrame::macText(const QByteArray& mac)
{
    QStringList parts;
    for (char byte : mac)
        parts << QStringLiteral("%1").arg(uint(uchar(byte)), 2, 16, QLatin1Char('0'));
    return parts.join(QLatin1Char(':'));
}
