#pragma once

#include "RDWidget.h"

// A text label with margins and its own colour. The text is painted as plain text (device
// names come from the network), unelided.
class RDLabel : public RDWidget
{
    Q_OBJECT
public:
    explicit RDLabel(QWidget* parent = nullptr);

    void setText(const QString& text);   // repaints
    QString text() const { return m_text; }
    void setTextColor(const QColor& color);   // repaints
    QColor textColor() const { return m_textColor; }
    // Qt alignment flags (129 = left, vertically centred), used at the next paint; no repaint.
    void setAlignment(int flags) { m_alignment = flags; }
    int alignment() const { return m_alignment; }
    // No repaint.
    void setMargins(int left, int top, int right, int bottom);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QColor m_textColor;   // unset paints opaque black
    int m_alignment = Qt::AlignCenter;
    QString m_text;
    int m_left = 0;
    int m_top = 0;
    int m_right = 0;
    int m_bottom = 0;
};
