#include "RDLabelButton.h"

#include <QPainter>

#include <algorithm>

namespace {

const QColor kDisabledText(102, 102, 102);
constexpr int kPixmapGap = 5;

} // namespace

RDLabelButton::RDLabelButton(QWidget* parent)
    : RDWidget(parent)
{
    setCursor(Qt::PointingHandCursor);
}

void RDLabelButton::setText(const QString& text)
{
    m_text = text;
    update();
}

void RDLabelButton::setTextColor(const QColor& color)
{
    m_textColor = color;
    update();
}

void RDLabelButton::setPixmap(const QPixmap& pixmap)
{
    m_pixmap = pixmap;
    update();
}

void RDLabelButton::setAlignment(int flags)
{
    m_alignment = flags;
    update();
}

QSize RDLabelButton::sizeHint() const
{
    const QSize t = fontMetrics().size(0, m_text);
    const QMargins m = contentsMargins();
    const int gap = m_pixmap.isNull() ? 0 : kPixmapGap;
    return QSize(m_pixmap.width() + t.width() + m.left() + m.right() + gap,
                 std::max(m_pixmap.height(), t.height()) + m.top() + m.bottom());
}

void RDLabelButton::paintEvent(QPaintEvent* event)
{
    RDWidget::paintEvent(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QMargins m = contentsMargins();
    const int h = height();
    int x = m.left();
    if (!m_pixmap.isNull()) {
        const QRect target(m.left(), m.top() + (h - m_pixmap.height() - m.bottom() - m.top()) / 2,
                           m_pixmap.width(), m_pixmap.height());
        painter.drawPixmap(target.topLeft(), m_pixmap);
        x = target.right() + kPixmapGap;
    }
    painter.setPen(isEnabled() ? m_textColor : kDisabledText);
    painter.drawText(QRect(x, m.top(), width() - m.right() - x, h - m.bottom() - m.top()), m_alignment, m_text);
}
