#include "RDBackground.h"

#include <QPainter>

#include <algorithm>

void RDBackground::draw(QPainter* painter, const QRect& rect)
{
    if (radius != 0 && (rect.width() <= 0 || rect.height() <= 0))
        return;
    if (fillColor.alpha() != 0) {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(Qt::NoPen);
        painter->setBrush(QBrush(fillColor));
        drawShape(painter, rect);
        painter->restore();
    }
    if (borderWidth != 0 && borderColor.alpha() != 0) {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(QPen(borderColor, borderWidth));
        painter->setBrush(Qt::NoBrush);
        drawShape(painter, rect);
        painter->restore();
    }
}

void RDBackground::drawShape(QPainter* painter, const QRect& rect) const
{
    if (radius == 0) {
        painter->drawRect(rect);
        return;
    }
    // Relative roundness in percent of half the side, as the old QPainter::drawRoundRect took it.
    const int xRound = std::min(100, radius * 200 / rect.width());
    const int yRound = std::min(100, radius * 200 / rect.height());
    painter->drawRoundedRect(QRectF(rect), xRound, yRound, Qt::RelativeSize);
}
