#pragma once

#include "RDBackground.h"

#include <QWidget>

// The base widget: paints its background and turns left-button presses and double-clicks into
// clicked() and doubleClicked(). Children are placed by hand in resizeEvent.
class RDWidget : public QWidget
{
    Q_OBJECT
public:
    explicit RDWidget(QWidget* parent = nullptr);

    // Each repaints.
    void setBackgroundColor(const QColor& color);
    void setBorder(int radius, int width, const QColor& color);
    QMargins borderMargins() const { return background.borderMargins(); }

    RDBackground background;
    // While false, double-clicks are swallowed before any handling.
    bool doubleClickEnabled = true;

signals:
    // On the press of the left button, not on its release.
    void clicked();
    void doubleClicked();

protected:
    bool event(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

public:
    void setVisible(bool visible) override;
};
