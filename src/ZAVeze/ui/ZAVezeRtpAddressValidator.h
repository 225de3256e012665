#pragma once

#include <QRegExpValidator>

// The validator of an RTP destination field: a dotted IPv4 address, ':' and a port. The port
// must be 1 to 65535, as in every port field: a text whose port is 0 or above 65535 is Invalid,
// so the keystroke that would make it is refused.
class ZAVezeRtpAddressValidator : public QRegExpValidator
{
    Q_OBJECT
public:
    static const char* const kExpression;

    explicit ZAVezeRtpAddressValidator(QObject* parent = nullptr);

    State validate(QString& text, int& pos) const override;
};
