#include "RDPagingItemView.h"

#include <QPainter>

#include <algorithm>

namespace {

constexpr int kMinimumSide = 30;

} // namespace

RDPagingItemView::RDPagingItemView(QWidget* parent)
    : RDWidget(parent)
{
    setCursor(Qt::PointingHandCursor);
    setSelected(false);
}

void RDPagingItemView::setSelected(bool selected)
{
    m_selected = selected;
    if (selected) {
        setBorder(0, 1, QColor(53, 141, 0, 255));
        setBackgroundColor(QColor(53, 141, 0, 255));
    } else {
        setBorder(0, 1, QColor(Qt::black));
        setBackgroundColor(QColor(Qt::white));
    }
}

void RDPagingItemView::setText(const QString& text)
{
    m_text = text;
    update();
}

QSize RDPagingItemView::sizeHint() const
{
    const QSize t = fontMetrics().size(Qt::AlignCenter, m_text);
    const int w = t.width() < kMinimumSide ? kMinimumSide : t.width() + 20;
    return QSize(w, std::max(kMinimumSide, t.height()));
}

void RDPagingItemView::mousePressEvent(QMouseEvent* event)
{
    RDWidget::mousePressEvent(event);
    emit clicked(this);
}

void RDPagingItemView::paintEvent(QPaintEvent* event)
{
    RDWidget::paintEvent(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(m_selected ? QColor(Qt::white) : QColor(Qt::black));
    painter.drawText(QRect(0, 0, width(), height()), Qt::AlignCenter, m_text);
}
