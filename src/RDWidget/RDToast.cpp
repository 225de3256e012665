#include "RDToast.h"

#include "RDLabel.h"
#include "RDLog.h"
#include "RDToastPopup.h"

#include <QThread>
#include <QTimer>

namespace {

// The label's own click handler must not delete it from inside its signal.
constexpr int kClickHideMs = 10;

} // namespace

RDToast::RDToast(QWidget* parent)
    : RDWidget(parent)
{
}

void RDToast::showToast(const QString& message, int alignment, int marginX, int marginY)
{
    if (thread() != QThread::currentThread()) {
        if (!QMetaObject::invokeMethod(this, "showToast", Qt::QueuedConnection, Q_ARG(QString, message),
                                       Q_ARG(int, alignment), Q_ARG(int, marginX), Q_ARG(int, marginY)))
            RDLOG("cannot post showToast");
        return;
    }
    hideToast();
    RDLabel* label = RDToastPopup::create(this, message, alignment, marginX, marginY);
    toast = label;
    connect(label, &RDWidget::clicked, this, [this, label] {
        QTimer::singleShot(kClickHideMs, label, [this, label] {
            if (toast == label)
                hideToast();
        });
    });
    RDToastPopup::armHideTimer(label, &toast, [this] { hideToast(); });
}

void RDToast::hideToast()
{
    if (thread() != QThread::currentThread()) {
        if (!QMetaObject::invokeMethod(this, "hideToast", Qt::QueuedConnection))
            RDLOG("cannot post hideToast");
        return;
    }
    delete RDToastPopup::detach(toast);
}
