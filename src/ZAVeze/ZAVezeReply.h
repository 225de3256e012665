#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

// One accepted reply frame: the four ARP addresses, the JSON object and the whole frame.
struct ZAVezeReply
{
    QByteArray senderMac; // ARP sender hardware address, 6 bytes
    QByteArray targetMac; // ARP target hardware address, 6 bytes
    QByteArray senderIp;  // ARP sender protocol address, 4 bytes
    QByteArray targetIp;  // ARP target protocol address, 4 bytes
    QJsonObject json;
    QByteArray frame;

    // "id": absent gives 0 (ok false); a string gives its base-10 value (0 and ok false when it
    // is not one); any other value its integer value (0 for non-numbers), ok true.
    int id(bool* ok = nullptr) const;
    // "method": absent gives "" (ok false); a number gives its decimal text; a string itself;
    // anything else "".
    QString method(bool* ok = nullptr) const;
    // "result", read as "method" is, equals "success" in any case.
    bool isSuccess() const;
    // The reply to request id with this method (method case ignored).
    bool matches(int requestId, const QString& requestMethod) const;

    // A member read as "method" is.
    static QString textMember(const QJsonObject& json, const QString& key, bool* ok = nullptr);
};
