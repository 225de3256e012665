#include "RDSwitch.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

RDSwitch::RDSwitch(QWidget* parent)
    : RDWidget(parent)
{
    m_timer.setInterval(kStepMs);
    connect(&m_timer, &QTimer::timeout, this, &RDSwitch::onTimeout);
    setCursor(Qt::PointingHandCursor);
}

void RDSwitch::restartAnimation()
{
    m_timer.stop();
    m_progress = 0;
    m_timer.start();
}

void RDSwitch::setChecked(bool checked)
{
    if (checked == m_checked)
        return;
    m_timer.stop();
    m_progress = 0;
    m_checked = checked;
    m_timer.start();
    update();
}

void RDSwitch::onTimeout()
{
    m_progress += kStepPercent;
    update();
    if (m_progress >= 100)
        m_timer.stop();
}

void RDSwitch::mousePressEvent(QMouseEvent* event)
{
    RDWidget::mousePressEvent(event);
    if (event->button() != Qt::LeftButton || m_timer.isActive())
        return;
    restartAnimation();
    m_checked = !m_checked;
    update();
    emit checkedChanged(m_checked);
}

void RDSwitch::paintEvent(QPaintEvent* event)
{
    RDWidget::paintEvent(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int w = width();
    const int h = height();
    const int r = h / 2;
    const int d = 2 * r - 2 * knobMargin;
    const int travel = w - 2 * r;

    QPainterPath pill;
    pill.setFillRule(Qt::WindingFill);
    pill.moveTo(r, 0);
    pill.arcTo(0, 0, 2 * r, 2 * r, 90, 180);
    pill.lineTo(w - r, h);
    pill.arcTo(w - 2 * r, 0, 2 * r, 2 * r, 270, 180);
    pill.lineTo(r, 0);
    painter.fillPath(pill, m_checked ? onColor : offColor);

    const int x = m_checked ? travel * m_progress / 100 + knobMargin
                            : (100 - m_progress) * travel / 100 + knobMargin;
    QPainterPath knob;
    knob.arcMoveTo(x, knobMargin, d, d, 0);
    knob.arcTo(x, knobMargin, d, d, 0, 360);
    painter.fillPath(knob, knobColor);
}
