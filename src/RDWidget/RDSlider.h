#pragma once

#include "RDWidget.h"

class RDSliderThumb;

// A thin-track slider with a round thumb, driven by the mouse, the wheel and the Up/Down keys.
// Only the operator's changes emit valueChanged; setValue and setRange are silent.
class RDSlider : public RDWidget
{
    Q_OBJECT
public:
    enum Orientation
    {
        kHorizontal = 0,
        kVertical = 1
    };

    explicit RDSlider(QWidget* parent = nullptr);

    // The step of keys and wheel becomes a tenth of the range, at least 1.
    void setRange(int minimum, int maximum);
    void setValue(int value);
    // Emits valueChanged when notify is set and the clamped value differs from the current one.
    void setValueNotify(int value, bool notify);
    int value() const { return m_value; }
    int previousValue() const { return m_previousValue; }
    int minimum() const { return m_minimum; }
    int maximum() const { return m_maximum; }
    int step() const { return m_step; }
    // Between a mouse press and its release.
    bool isPressed() const { return m_pressed; }
    RDWidget* track() const { return m_track; }
    RDSliderThumb* thumb() const { return m_thumb; }
    void setTrackColor(const QColor& color);
    void setOrientation(int orientation);
    int orientation() const { return m_orientation; }

    // The value that the pointer at pos stands for (before clamping).
    int valueAt(const QPoint& pos) const;

signals:
    void valueChanged(int value);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    static constexpr int kTrackThickness = 3;

    int clamp(int value) const;
    void relayout();
    void setFromPointer(const QPoint& pos);

    RDWidget* m_track;
    RDSliderThumb* m_thumb;
    int m_minimum = 0;
    int m_maximum = 100;
    int m_value = 100;
    int m_previousValue = 100;
    int m_step = 1;
    int m_orientation = kHorizontal;
    bool m_pressed = false;
};
