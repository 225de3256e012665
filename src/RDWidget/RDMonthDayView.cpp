#include "RDMonthDayView.h"

#include "RDDayCellPainter.h"

#include <QMouseEvent>

RDMonthDayView::RDMonthDayView(QWidget* parent)
    : QWidget(parent)
{
    setCursor(Qt::PointingHandCursor);
}

void RDMonthDayView::mousePressEvent(QMouseEvent* event)
{
    QWidget::mousePressEvent(event);
    if (RDDayCellPainter::isClick(this, event))
        emit click(this);
}

void RDMonthDayView::paintEvent(QPaintEvent*)
{
    RDDayCellPainter::paint(this, selected, text, RDDayCellPainter::kRoundedRect, 0);
}
