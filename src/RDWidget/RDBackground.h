#pragma once

#include <QColor>
#include <QMargins>
#include <QRect>

class QPainter;

// A filled, optionally bordered, optionally rounded background. Fresh, both colours are
// transparent white, so it paints nothing.
class RDBackground
{
public:
    virtual ~RDBackground() = default;

    // Paints fill and border into rect (the border is not inset). A rectangle without area and a
    // non-zero radius paints nothing: its roundness is not defined.
    virtual void draw(QPainter* painter, const QRect& rect);

    // No repaint: the owner repaints.
    void setBackgroundColor(const QColor& color) { fillColor = color; }
    QMargins borderMargins() const { return QMargins(borderWidth, borderWidth, borderWidth, borderWidth); }

    int radius = 0;
    int borderWidth = 0;
    QColor borderColor = QColor(255, 255, 255, 0);
    QColor fillColor = QColor(255, 255, 255, 0);

private:
    void drawShape(QPainter* painter, const QRect& rect) const;
};
