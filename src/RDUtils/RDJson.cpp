#include "RDJson.h"

#include <QJsonArray>
#include <QJsonObject>

#include <cmath>

int RDJson::toInt(const QJsonValue& value, int defaultValue)
{
    if (!value.isDouble())
        return defaultValue;
    const double d = value.toDouble();
    if (!std::isfinite(d) || std::trunc(d) != d || d < -2147483648.0 || d > 2147483647.0)
        return defaultValue;
    return static_cast<int>(d);
}

qint64 RDJson::toInt64(const QJsonValue& value, qint64 defaultValue)
{
    if (!value.isDouble())
        return defaultValue;
    const double d = value.toDouble();
    // 2^63 itself is out of range; every double below it converts exactly.
    if (!std::isfinite(d) || std::trunc(d) != d || d < -9223372036854775808.0 ||
        d >= 9223372036854775808.0)
        return defaultValue;
    return static_cast<qint64>(d);
}

double RDJson::toDouble(const QJsonValue& value, double defaultValue)
{
    return value.isDouble() ? value.toDouble() : defaultValue;
}

QString RDJson::toString(const QJsonValue& value)
{
    return value.isString() ? value.toString() : QString();
}

QJsonValue RDJson::maskPasswords(const QJsonValue& value, const QString& mask)
{
    if (value.isArray()) {
        QJsonArray array;
        for (const QJsonValue& item : value.toArray())
            array.append(maskPasswords(item, mask));
        return array;
    }
    if (!value.isObject())
        return value;
    const QJsonObject object = value.toObject();
    QJsonObject result;
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        if (it.key() == QLatin1String("password") && !(it->isObject() || it->isArray()))
            result.insert(it.key(), mask);
        else
            result.insert(it.key(), maskPasswords(it.value(), mask));
    }
    return result;
}
