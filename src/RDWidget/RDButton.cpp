#include "RDButton.h"

#include <QPainter>

#include <algorithm>

RDButton::RDButton(QWidget* parent)
    : RDWidget(parent)
{
    setCursor(Qt::PointingHandCursor);
}

void RDButton::setPixmap(const QPixmap& pixmap)
{
    m_pixmap = pixmap;
    m_hoverPixmap = pixmap;
    update();
}

void RDButton::setPixmaps(const QPixmap& normal, const QPixmap& hover)
{
    m_pixmap = normal;
    m_hoverPixmap = hover;
    update();
}

void RDButton::setCheckedPixmaps(const QPixmap& unchecked, const QPixmap& checked)
{
    m_pixmap = unchecked;
    m_hoverPixmap = unchecked;
    m_checkedPixmap = checked;
    m_checkedHoverPixmap = checked;
}

void RDButton::setBackgroundColors(const QColor& normal, const QColor& hover)
{
    m_backgroundColor = normal;
    m_hoverBackgroundColor = hover;
    update();
}

void RDButton::setCheckedBackgroundColors(const QColor& normal, const QColor& hover)
{
    m_checkedBackgroundColor = normal;
    m_checkedHoverBackgroundColor = hover;
    update();
}

void RDButton::setChecked(bool checked)
{
    m_checked = checked;
    setBackgroundColor(currentBackground());
}

void RDButton::setText(const QString& text)
{
    m_text = text;
    m_checkedText = text;
    update();
}

void RDButton::setCheckedText(const QString& text)
{
    m_checkedText = text;
    update();
}

void RDButton::setAlignment(int flags)
{
    m_alignment = flags;
    update();
}

void RDButton::setSpacing(int spacing)
{
    m_spacing = spacing;
    update();
}

QPixmap RDButton::currentPixmap() const
{
    if (m_checked)
        return m_hovered ? m_checkedHoverPixmap : m_checkedPixmap;
    return m_hovered ? m_hoverPixmap : m_pixmap;
}

QColor RDButton::currentBackground() const
{
    if (m_checked)
        return m_hovered ? m_checkedHoverBackgroundColor : m_checkedBackgroundColor;
    return m_hovered ? m_hoverBackgroundColor : m_backgroundColor;
}

void RDButton::enterEvent(QEvent* event)
{
    RDWidget::enterEvent(event);
    m_hovered = true;
    setBackgroundColor(currentBackground());
}

void RDButton::leaveEvent(QEvent* event)
{
    RDWidget::leaveEvent(event);
    m_hovered = false;
    setBackgroundColor(currentBackground());
}

QSize RDButton::sizeHint() const
{
    QSize p(0, 0);
    for (const QPixmap* pixmap : {&m_pixmap, &m_hoverPixmap, &m_checkedPixmap, &m_checkedHoverPixmap}) {
        if (!pixmap->isNull())
            p = p.expandedTo(pixmap->size());
    }
    QSize t(0, 0);
    for (const QString* text : {&m_text, &m_checkedText}) {
        if (!text->isEmpty())
            t = t.expandedTo(fontMetrics().size(m_alignment, *text));
    }
    if (p.isEmpty() && t.isEmpty())
        return minimumSize();
    if (p.isEmpty())
        return QSize(t.width() + 2 * m_spacing, t.height());
    if (t.isEmpty())
        return p;
    const QMargins m = contentsMargins();
    return QSize(m.left() + m.right() + t.width() + p.width() + 3 * m_spacing,
                 std::max(p.height(), t.height()) + m.top() + m.bottom());
}

void RDButton::paintEvent(QPaintEvent* event)
{
    RDWidget::paintEvent(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int w = width();
    const int h = height();
    const QPixmap pixmap = currentPixmap();
    const QString& text = m_checked ? m_checkedText : m_text;
    if (text.isEmpty()) {
        if (!pixmap.isNull())
            painter.drawPixmap((w - pixmap.width()) / 2, (h - pixmap.height()) / 2, pixmap);
        return;
    }
    if (pixmap.isNull()) {
        painter.setPen(Qt::black);
        painter.drawText(QRect(m_spacing, 0, w - 2 * m_spacing, h), m_alignment, text);
        return;
    }
    const int pw = pixmap.width();
    painter.drawPixmap(m_spacing, (h - pixmap.height()) / 2, pixmap);
    painter.drawText(QRect(pw + 2 * m_spacing, 0, w - pw - 3 * m_spacing, h), m_alignment, text);
}
