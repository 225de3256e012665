#include "RDDayCellPainter.h"

#include "RDQtUtils.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWidget>

#include <algorithm>

void RDDayCellPainter::paint(QWidget* cell, bool selected, const QString& text, DiscShape shape, int pixelSize)
{
    QPainter painter(cell);
    painter.setRenderHint(QPainter::Antialiasing);
    const int w = cell->width();
    const int h = cell->height();
    if (selected) {
        const int a = std::min(w, h) - 6;
        const QRect square((w - a) / 2, (h - a) / 2, a, a);
        QPainterPath disc;
        if (shape == kRoundedRect) {
            roundedRectPath(disc, square, a / 2);
        } else {
            disc.arcMoveTo(square, 0);
            disc.arcTo(square, 0, 360);
        }
        painter.fillPath(disc, QColor(25, 164, 255));
    }
    if (cell->isEnabled())
        painter.setPen(selected ? QColor(Qt::white) : QColor(Qt::black));
    else
        painter.setPen(QColor(96, 96, 96));
    if (pixelSize > 0) {
        QFont font = cell->font();
        font.setPixelSize(pixelSize);
        painter.setFont(font);
    }
    painter.drawText(QRect(0, 0, w, h), Qt::AlignCenter, text);
}

bool RDDayCellPainter::isClick(const QWidget* cell, const QMouseEvent* event)
{
    return cell->isEnabled() && event->button() == Qt::LeftButton;
}
