#include "RDVolumeLineEdit.h"

#include <QKeyEvent>
#include <QValidator>

RDVolumeLineEdit::RDVolumeLineEdit(QWidget* parent)
    : QLineEdit(parent)
{
}

bool RDVolumeLineEdit::stepBy(int delta)
{
    bool ok = false;
    const int value = text().toInt(&ok);
    if (!ok)
        return false;
    QString next = QString::number(static_cast<long long>(value) + delta);
    int pos = next.size();
    if (validator() && validator()->validate(next, pos) == QValidator::Invalid)
        return false;
    setText(next);
    return true;
}

void RDVolumeLineEdit::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
        emit editingInterrupt();
        event->accept();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        emit editingFinished();
        event->accept();
        return;
    case Qt::Key_Up:
    case Qt::Key_Down:
        if (stepBy(event->key() == Qt::Key_Up ? 1 : -1)) {
            event->accept();
            return;
        }
        break;
    default:
        break;
    }
    QLineEdit::keyPressEvent(event);
}
