#include "RtpSip.h"

#include "RDJson.h"

bool RtpSip::operator==(const RtpSip& other) const
{
    return status == other.status && server == other.server && port == other.port &&
           username == other.username && authId == other.authId && password == other.password &&
           displayName == other.displayName && expire == other.expire;
}

QString RtpSip::addressText() const
{
    QString text = username;
    if (!username.isEmpty() && !server.isEmpty())
        text += QLatin1Char('@');
    text += server;
    if (!server.isEmpty() && !port.isEmpty())
        text += QLatin1Char(':') + port;
    return text;
}

QJsonObject RtpSip::toJson() const
{
    QJsonObject object;
    object.insert(QStringLiteral("status"), status);
    object.insert(QStringLiteral("server"), server);
    object.insert(QStringLiteral("port"), port);
    object.insert(QStringLiteral("username"), username);
    object.insert(QStringLiteral("authId"), authId);
    object.insert(QStringLiteral("password"), password);
    object.insert(QStringLiteral("displayName"), displayName);
    object.insert(QStringLiteral("expire"), expire);
    return object;
}

RtpSip RtpSip::fromJson(const QJsonObject& object)
{
    RtpSip sip;
    sip.status = RDJson::toInt(object.value(QStringLiteral("status")));
    sip.server = RDJson::toString(object.value(QStringLiteral("server")));
    sip.port = RDJson::toString(object.value(QStringLiteral("port")));
    sip.username = RDJson::toString(object.value(QStringLiteral("username")));
    sip.authId = RDJson::toString(object.value(QStringLiteral("authId")));
    sip.password = RDJson::toString(object.value(QStringLiteral("password")));
    sip.displayName = RDJson::toString(object.value(QStringLiteral("displayName")));
    sip.expire = RDJson::toString(object.value(QStringLiteral("expire")));
    return sip;
}
