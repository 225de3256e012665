#include "RDPixmapWidget.h"

#include <QPainter>

RDPixmapWidget::RDPixmapWidget(QWidget* parent)
    : RDWidget(parent)
{
}

void RDPixmapWidget::setPixmap(const QPixmap& pixmap)
{
    m_pixmap = pixmap;
    update();
}

void RDPixmapWidget::paintEvent(QPaintEvent* event)
{
    RDWidget::paintEvent(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.drawPixmap((width() - m_pixmap.width()) / 2, (height() - m_pixmap.height()) / 2, m_pixmap);
}
