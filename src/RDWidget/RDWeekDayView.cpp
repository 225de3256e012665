#include "RDWeekDayView.h"

#include "RDDayCellPainter.h"

#include <QMouseEvent>

namespace {

constexpr int kTextPixelSize = 9;

} // namespace

RDWeekDayView::RDWeekDayView(QWidget* parent)
    : QWidget(parent)
{
    setCursor(Qt::PointingHandCursor);
}

void RDWeekDayView::mousePressEvent(QMouseEvent* event)
{
    QWidget::mousePressEvent(event);
    if (RDDayCellPainter::isClick(this, event))
        emit click(this);
}

void RDWeekDayView::paintEvent(QPaintEvent*)
{
    RDDayCellPainter::paint(this, selected, text, RDDayCellPainter::kArc, kTextPixelSize);
}
