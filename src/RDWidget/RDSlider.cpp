#include "RDSlider.h"

#include "RDSliderThumb.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>

#include <algorithm>
#include <cstdlib>

namespace {

// round() of the placement formulas: the double plus 0.5, truncated toward zero.
int roundHalfUp(double x)
{
    return static_cast<int>(x + 0.5);
}

bool leftInvolved(const QMouseEvent* event)
{
    return event->button() == Qt::LeftButton || event->buttons() == Qt::LeftButton;
}

} // namespace

RDSlider::RDSlider(QWidget* parent)
    : RDWidget(parent)
    , m_track(new RDWidget(this))
    , m_thumb(new RDSliderThumb(this))
{
    m_track->setBackgroundColor(QColor(255, 255, 255, 255));
    m_track->setBorder(1, 0, m_track->background.borderColor);
    m_track->resize(width(), kTrackThickness);
    m_thumb->resize(12, 12);
    m_thumb->setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
}

int RDSlider::clamp(int value) const
{
    return std::max(m_minimum, std::min(m_maximum, value));
}

void RDSlider::setRange(int minimum, int maximum)
{
    m_minimum = minimum;
    m_maximum = std::max(minimum, maximum);
    // A tenth of a small range truncates to 0, which would leave keys and wheel dead.
    m_step = std::max(1, (m_maximum - m_minimum) / 10);
    m_previousValue = m_value;
    m_value = clamp(m_value);
    relayout();
}

void RDSlider::setValue(int value)
{
    m_previousValue = m_value;
    m_value = clamp(value);
    relayout();
}

void RDSlider::setValueNotify(int value, bool notify)
{
    const int clamped = clamp(value);
    if (notify && clamped == m_value)
        notify = false;
    m_previousValue = m_value;
    m_value = clamped;
    relayout();
    if (notify)
        emit valueChanged(m_value);
}

void RDSlider::setTrackColor(const QColor& color)
{
    m_track->setBackgroundColor(color);
}

void RDSlider::setOrientation(int orientation)
{
    m_orientation = orientation == kVertical ? kVertical : kHorizontal;
    if (m_orientation == kHorizontal)
        m_track->resize(width(), kTrackThickness);
    else
        m_track->resize(kTrackThickness, height());
    relayout();
    update();
}

void RDSlider::relayout()
{
    const int w = width();
    const int h = height();
    const int tw = m_thumb->width();
    const int th = m_thumb->height();
    const int range = m_maximum - m_minimum;
    const int v = clamp(m_value);
    // An empty range puts the thumb at the start.
    const double fraction = range > 0 ? static_cast<double>(v - m_minimum) / range : 0.0;
    if (m_orientation == kHorizontal) {
        m_thumb->move(roundHalfUp(fraction * (w - tw)), (h - th) / 2);
        m_track->setGeometry(tw / 2, (h - kTrackThickness) / 2, w - tw, kTrackThickness);
    } else {
        m_thumb->move((w - tw) / 2, h - roundHalfUp(fraction * (h - th)) - th);
        m_track->setGeometry((w - kTrackThickness) / 2, th / 2, kTrackThickness, h - th);
    }
}

int RDSlider::valueAt(const QPoint& pos) const
{
    const int range = m_maximum - m_minimum;
    if (m_orientation == kHorizontal) {
        const int tw = m_thumb->width();
        const int span = width() - tw;
        // No room to slide: every point stands for the minimum.
        if (span <= 0)
            return m_minimum;
        const int x = std::min(pos.x(), width() - tw / 2);
        return static_cast<int>(m_minimum + static_cast<double>(range) * (x - tw / 2) / span + 0.5);
    }
    const int th = m_thumb->height();
    const int span = height() - th;
    if (span <= 0)
        return m_minimum;
    const int y = std::max(pos.y(), th / 2);
    return static_cast<int>(m_minimum + static_cast<double>(range) * (height() - th / 2 - y) / span + 0.5);
}

void RDSlider::setFromPointer(const QPoint& pos)
{
    setValue(valueAt(pos));
    emit valueChanged(m_value);
}

void RDSlider::mousePressEvent(QMouseEvent* event)
{
    RDWidget::mousePressEvent(event);
    m_pressed = true;
}

void RDSlider::mouseMoveEvent(QMouseEvent* event)
{
    RDWidget::mouseMoveEvent(event);
    if (leftInvolved(event))
        setFromPointer(event->pos());
}

void RDSlider::mouseReleaseEvent(QMouseEvent* event)
{
    RDWidget::mouseReleaseEvent(event);
    m_pressed = false;
    if (leftInvolved(event))
        setFromPointer(event->pos());
}

void RDSlider::keyPressEvent(QKeyEvent* event)
{
    QWidget::keyPressEvent(event);
    if (event->key() == Qt::Key_Up)
        setValueNotify(m_value + m_step, true);
    else if (event->key() == Qt::Key_Down)
        setValueNotify(m_value - m_step, true);
}

void RDSlider::wheelEvent(QWheelEvent* event)
{
    QWidget::wheelEvent(event);
    const QPoint angle = event->angleDelta();
    const int delta = std::abs(angle.y()) >= std::abs(angle.x()) ? angle.y() : angle.x();
    // A pure pixel scroll carries no angle: nothing to step by.
    if (delta == 0)
        return;
    // One step per notch of the vertical wheel; a sideways turn moves nothing.
    const int d = angle.y() / delta * m_step;
    setValueNotify(delta > 0 ? m_value + d : m_value - d, true);
}

void RDSlider::resizeEvent(QResizeEvent* event)
{
    RDWidget::resizeEvent(event);
    relayout();
}
