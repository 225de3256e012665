#include "RDVolumeValidator.h"

RDVolumeValidator::RDVolumeValidator(QObject* parent)
    : QIntValidator(parent)
{
}

QValidator::State RDVolumeValidator::validate(QString& text, int& pos) const
{
    if (text.isEmpty())
        return Intermediate;
    const int value = text.toInt();   // 0 when not a number
    if (value < bottom() || value > top())
        return Invalid;
    return QIntValidator::validate(text, pos);
}

void RDVolumeValidator::fixup(QString& text) const
{
    const int value = text.toInt();
    if (value < bottom())
        text = QString::number(bottom());
    else if (value > top())
        text = QString::number(top());
}
