#include "ZAVezeDeviceLineEdit.h"

#include <QKeyEvent>
#include <QSignalBlocker>

ZAVezeDeviceLineEdit::ZAVezeDeviceLineEdit(QWidget* parent)
    : QLineEdit(parent)
{
}

void ZAVezeDeviceLineEdit::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
        event->accept();
        emit editingInterrupt();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        event->accept();
        emit editingFinished();
        return;
    default:
        QLineEdit::keyPressEvent(event);
    }
}

void ZAVezeDeviceLineEdit::focusOutEvent(QFocusEvent* event)
{
    {
        // QLineEdit finishes on its own here too; one signal per focus loss is enough.
        const QSignalBlocker blocker(this);
        QLineEdit::focusOutEvent(event);
    }
    // The window losing its activation (another program, or the window closing or going away)
    // is not the operator leaving the field: that would send a half-typed value.
    if (event->reason() == Qt::ActiveWindowFocusReason || event->reason() == Qt::PopupFocusReason)
        return;
    emit editingFinished();
}
