#pragma once

#include "RDWidget.h"

#include <QPixmap>

// One pixmap, centred.
class RDPixmapWidget : public RDWidget
{
    Q_OBJECT
public:
    explicit RDPixmapWidget(QWidget* parent = nullptr);

    void setPixmap(const QPixmap& pixmap);   // repaints
    QPixmap pixmap() const { return m_pixmap; }
    QSize sizeHint() const override { return m_pixmap.size(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap m_pixmap;
};
