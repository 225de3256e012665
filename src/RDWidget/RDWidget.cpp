#include "RDWidget.h"

#include <QMouseEvent>
#include <QPainter>

RDWidget::RDWidget(QWidget* parent)
    : QWidget(parent)
{
}

void RDWidget::setBackgroundColor(const QColor& color)
{
    background.setBackgroundColor(color);
    update();
}

void RDWidget::setBorder(int radius, int width, const QColor& color)
{
    background.radius = radius;
    background.borderWidth = width;
    background.borderColor = color;
    update();
}

bool RDWidget::event(QEvent* event)
{
    if (event->type() == QEvent::MouseButtonDblClick && !doubleClickEnabled)
        return false;
    return QWidget::event(event);
}

void RDWidget::mousePressEvent(QMouseEvent* event)
{
    QWidget::mousePressEvent(event);
    if (event->button() == Qt::LeftButton)
        emit clicked();
}

void RDWidget::mouseReleaseEvent(QMouseEvent* event)
{
    QWidget::mouseReleaseEvent(event);
}

void RDWidget::mouseDoubleClickEvent(QMouseEvent* event)
{
    QWidget::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton)
        emit doubleClicked();
}

void RDWidget::mouseMoveEvent(QMouseEvent* event)
{
    QWidget::mouseMoveEvent(event);
}

void RDWidget::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    QPainter painter(this);
    background.draw(&painter, QRect(0, 0, width(), height()));
}

void RDWidget::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
}

void RDWidget::setVisible(bool visible)
{
    QWidget::setVisible(visible);
}
