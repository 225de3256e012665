#pragma once

#include <QJsonObject>
#include <QMetaType>
#include <QString>

// A channel's SIP account.
class RtpSip
{
public:
    int status = 0;
    QString server;
    QString port;
    QString username;
    QString authId;
    QString password;
    QString displayName;
    QString expire;

    bool operator==(const RtpSip& other) const;
    bool operator!=(const RtpSip& other) const { return !(*this == other); }

    // "user@server:port", leaving out what is empty.
    QString addressText() const;

    QJsonObject toJson() const;
    static RtpSip fromJson(const QJsonObject& object);
};

Q_DECLARE_METATYPE(RtpSip)
