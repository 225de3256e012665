#include "RDCalendarItemView.h"

#include <QPainter>

#include <algorithm>

RDCalendarItemView::RDCalendarItemView(QWidget* parent)
    : QWidget(parent)
{
    setCursor(Qt::PointingHandCursor);
}

void RDCalendarItemView::mousePressEvent(QMouseEvent* event)
{
    QWidget::mousePressEvent(event);
    emit clickView(this);
}

void RDCalendarItemView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int w = width();
    const int h = height();
    if (selected) {
        const int d = (std::min(w, h) / 2) * 2;
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(25, 164, 255));
        painter.drawEllipse((w - d) / 2, (h - d) / 2, d, d);
    }
    if (!isEnabled())
        painter.setPen(QColor(102, 102, 102));
    else
        painter.setPen(selected ? QColor(Qt::white) : QColor(Qt::black));
    painter.drawText(QRect(0, 0, w, h), Qt::AlignCenter, QString::number(date.day()));
}
