#pragma once

#include <QJsonValue>
#include <QString>

// Checked readers for JSON values received from peers: a value of the wrong type, or a number
// that is not a whole number within the target range, reads as the default.
class RDJson
{
public:
    static int toInt(const QJsonValue& value, int defaultValue = 0);
    static qint64 toInt64(const QJsonValue& value, qint64 defaultValue = 0);
    static double toDouble(const QJsonValue& value, double defaultValue = 0.0);
    static QString toString(const QJsonValue& value);

    // A copy of the value for a log: the value of every "password" key, at any depth, that is
    // not itself an object or array is replaced by mask.
    static QJsonValue maskPasswords(const QJsonValue& value, const QString& mask);
};
