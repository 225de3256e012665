#include "ZAVezeRtpAddressValidator.h"

#include "RDDecimal.h"

const char* const ZAVezeRtpAddressValidator::kExpression =
    "\\b(?:(?:25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)\\.){3}(?:25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?):[0-9]{1,5}\\b";

ZAVezeRtpAddressValidator::ZAVezeRtpAddressValidator(QObject* parent)
    : QRegExpValidator(QRegExp(QString::fromLatin1(kExpression)), parent)
{
}

QValidator::State ZAVezeRtpAddressValidator::validate(QString& text, int& pos) const
{
    const State state = QRegExpValidator::validate(text, pos);
    if (state != Acceptable)
        return state;
    // The expression takes any five digits; more digits never make a port valid again.
    const QString port = text.mid(text.lastIndexOf(QLatin1Char(':')) + 1);
    return parsePort(port.toStdString()) > 0 ? Acceptable : Invalid;
}
