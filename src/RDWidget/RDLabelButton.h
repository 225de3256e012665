#pragma once

#include "RDWidget.h"

#include <QPixmap>

// A pixmap followed by a text, with a hand cursor.
class RDLabelButton : public RDWidget
{
    Q_OBJECT
public:
    explicit RDLabelButton(QWidget* parent = nullptr);

    // Each repaints.
    void setText(const QString& text);
    void setTextColor(const QColor& color);
    void setPixmap(const QPixmap& pixmap);
    void setAlignment(int flags);
    QString text() const { return m_text; }
    QPixmap pixmap() const { return m_pixmap; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap m_pixmap;
    QColor m_textColor = QColor(255, 255, 255, 255);
    int m_alignment = Qt::AlignCenter;
    QString m_text;
};
