#include "RDSliderThumb.h"

#include <QPainter>

RDSliderThumb::RDSliderThumb(QWidget* parent)
    : QWidget(parent)
{
}

void RDSliderThumb::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(color);
    painter.setBrush(color);
    painter.drawEllipse(QRectF(0.5, 0.5, width() - 1, height() - 1));
}
