#include "RDToastPopup.h"

#include "RDLabel.h"

#include <QTimer>

RDLabel* RDToastPopup::create(QWidget* host, const QString& message, int alignment, int marginX, int marginY)
{
    RDLabel* label = new RDLabel(host);
    label->setObjectName(QStringLiteral("toast"));
    label->setText(message);
    // Dark enough for the white text to read over a light window (a quarter-opaque black left it
    // at about 2:1 contrast).
    label->setBackgroundColor(QColor(0, 0, 0, 160));
    label->setBorder(3, 0, label->background.borderColor);
    label->setMargins(10, 10, 10, 10);
    label->setTextColor(QColor(255, 255, 255, 255));
    label->adjustSize();
    label->move(position(host->size(), label->size(), alignment, marginX, marginY));
    label->show();
    label->raise();
    return label;
}

QPoint RDToastPopup::position(const QSize& host, const QSize& label, int alignment, int marginX, int marginY)
{
    int x = marginX;
    if (alignment & Qt::AlignLeft)
        x = marginX;
    else if (alignment & Qt::AlignHCenter)
        x = (host.width() - label.width()) / 2;
    else if (alignment & Qt::AlignRight)
        x = host.width() - marginX - label.width();

    int y = marginY;
    if (alignment & Qt::AlignTop)
        y = marginY;
    else if (alignment & Qt::AlignVCenter)
        y = (host.height() - label.height()) / 2;
    else if (alignment & Qt::AlignBottom)
        y = host.height() - marginY - label.height();
    return QPoint(x, y);
}

void RDToastPopup::armHideTimer(RDLabel* label, RDLabel* const* current, const std::function<void()>& hide)
{
    // The label is the timer's context: a released label takes its timer with it.
    QTimer::singleShot(kShowMs, label, [label, current, hide] {
        if (*current == label)
            hide();
    });
}

RDLabel* RDToastPopup::detach(RDLabel*& slot)
{
    RDLabel* label = slot;
    if (!label)
        return nullptr;
    slot = nullptr;
    label->hide();
    label->setParent(nullptr);
    return label;
}
