#pragma once

#include <QIntValidator>

// An integer validator whose bounds are hard: a text outside them is Invalid at once, so the
// keystroke that would make it is refused; an empty text is Intermediate.
class RDVolumeValidator : public QIntValidator
{
    Q_OBJECT
public:
    explicit RDVolumeValidator(QObject* parent = nullptr);

    State validate(QString& text, int& pos) const override;
    void fixup(QString& text) const override;
};
