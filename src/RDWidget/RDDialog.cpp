#include "RDDialog.h"

#include "RDLabel.h"
#include "RDLog.h"
#include "RDToastPopup.h"

#include <QKeyEvent>
#include <QPainter>
#include <QThread>

RDDialog::RDDialog(QWidget* parent)
    : QDialog(parent, Qt::WindowFlags())
{
    // Without the registration a queued showToast from a worker is refused and never runs.
    static const int alignmentType = qRegisterMetaType<Qt::Alignment>("Qt::Alignment");
    Q_UNUSED(alignmentType);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
}

void RDDialog::moveToCenter(QWidget* target)
{
    if (!target)
        return;
    const QRect g = target->geometry();
    move((g.width() - width()) / 2 + g.left(), (g.height() - height()) / 2 + g.top());
}

void RDDialog::showToast(const QString& message, Qt::Alignment alignment, int marginX, int marginY)
{
    if (thread() != QThread::currentThread()) {
        if (!QMetaObject::invokeMethod(this, "showToast", Qt::QueuedConnection, Q_ARG(QString, message),
                                       Q_ARG(Qt::Alignment, alignment), Q_ARG(int, marginX),
                                       Q_ARG(int, marginY)))
            RDLOG("cannot post showToast");
        return;
    }
    hideToast();
    RDLabel* label = RDToastPopup::create(this, message, static_cast<int>(alignment), marginX, marginY);
    toast = label;
    connect(label, &RDWidget::clicked, this, &RDDialog::hideToast);
    RDToastPopup::armHideTimer(label, &toast, [this] { hideToast(); });
}

void RDDialog::hideToast()
{
    if (thread() != QThread::currentThread()) {
        if (!QMetaObject::invokeMethod(this, "hideToast", Qt::QueuedConnection))
            RDLOG("cannot post hideToast");
        return;
    }
    // Released later: a click on the label hides it from inside the label's own signal.
    if (RDLabel* label = RDToastPopup::detach(toast))
        label->deleteLater();
}

void RDDialog::dismiss()
{
    if (thread() != QThread::currentThread()) {
        if (!QMetaObject::invokeMethod(this, "dismiss", Qt::QueuedConnection))
            RDLOG("cannot post dismiss");
        return;
    }
    accept();
}

void RDDialog::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        event->ignore();
        return;
    }
    QDialog::keyPressEvent(event);
}

void RDDialog::paintEvent(QPaintEvent* event)
{
    QDialog::paintEvent(event);
    QPainter painter(this);
    draw(&painter, QRect(0, 0, width(), height()));
}
