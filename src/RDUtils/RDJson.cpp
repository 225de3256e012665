#include "RDJson.h"

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
