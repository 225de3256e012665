#include "ZAVezeReply.h"

#include <QJsonValue>

QString ZAVezeReply::textMember(const QJsonObject& json, const QString& key, bool* ok)
{
    const auto it = json.constFind(key);
    if (ok)
        *ok = it != json.constEnd();
    if (it == json.constEnd())
        return QString();
    if (it->isDouble())
        return QString::number(it->toInt());
    return it->toString();
}

int ZAVezeReply::id(bool* ok) const
{
    const auto it = json.constFind(QStringLiteral("id"));
    if (it == json.constEnd()) {
        if (ok)
            *ok = false;
        return 0;
    }
    if (it->isString())
        return it->toString().toInt(ok, 10);
    if (ok)
        *ok = true;
    return it->toInt();
}

QString ZAVezeReply::method(bool* ok) const
{
    return textMember(json, QStringLiteral("method"), ok);
}

bool ZAVezeReply::isSuccess() const
{
    return textMember(json, QStringLiteral("result")).compare(QLatin1String("success"), Qt::CaseInsensitive) == 0;
}

bool ZAVezeReply::matches(int requestId, const QString& requestMethod) const
{
    bool ok = false;
    const int replyId = id(&ok);
    return ok && replyId == requestId && method().compare(requestMethod, Qt::CaseInsensitive) == 0;
}
