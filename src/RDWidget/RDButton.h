#pragma once

#include "RDWidget.h"

#include <QPixmap>

// A flat button of up to four pixmaps (checked or not, mouse over or not) and two texts.
class RDButton : public RDWidget
{
    Q_OBJECT
public:
    explicit RDButton(QWidget* parent = nullptr);

    // The same pixmap with and without the mouse over, unchecked; repaints.
    void setPixmap(const QPixmap& pixmap);
    void setPixmaps(const QPixmap& normal, const QPixmap& hover);
    // Unchecked and checked pixmaps, each for both hover states; no repaint.
    void setCheckedPixmaps(const QPixmap& unchecked, const QPixmap& checked);
    // The unchecked backgrounds; shown from the next enter, leave or setChecked.
    void setBackgroundColors(const QColor& normal, const QColor& hover);
    void setCheckedBackgroundColors(const QColor& normal, const QColor& hover);
    void setChecked(bool checked);
    bool isChecked() const { return m_checked; }
    bool isHovered() const { return m_hovered; }
    // The same text in both states.
    void setText(const QString& text);
    void setCheckedText(const QString& text);
    QString text() const { return m_text; }
    void setAlignment(int flags);
    void setSpacing(int spacing);

    // The pixmap the current state shows.
    QPixmap currentPixmap() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    QColor currentBackground() const;

    QPixmap m_pixmap;
    QPixmap m_hoverPixmap;
    QPixmap m_checkedPixmap;
    QPixmap m_checkedHoverPixmap;
    QColor m_backgroundColor = QColor(0, 0, 0, 0);
    QColor m_hoverBackgroundColor = QColor(0, 0, 0, 0);
    QColor m_checkedBackgroundColor = QColor(0, 0, 0, 0);
    QColor m_checkedHoverBackgroundColor = QColor(0, 0, 0, 0);
    bool m_checked = false;
    bool m_hovered = false;
    QString m_text;
    QString m_checkedText;
    int m_alignment = Qt::AlignCenter;
    int m_spacing = 5;
};
