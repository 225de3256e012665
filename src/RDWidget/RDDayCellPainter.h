#pragma once

#include <QString>

class QMouseEvent;
class QWidget;

// What the day cells of the two pickers share: a blue disc under a selected day, its text, and a
// left press on an enabled cell as its click.
class RDDayCellPainter
{
public:
    enum DiscShape
    {
        kArc,
        kRoundedRect
    };

    static void paint(QWidget* cell, bool selected, const QString& text, DiscShape shape, int pixelSize);
    static bool isClick(const QWidget* cell, const QMouseEvent* event);
};
