#include "RDLabel.h"

#include <QFontDatabase>
#include <QPainter>

namespace {

const QColor kDisabledText(102, 102, 102);

} // namespace

RDLabel::RDLabel(QWidget* parent)
    : RDWidget(parent)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setFamily(QStringLiteral("Arial"));
    setFont(font);
}

void RDLabel::setText(const QString& text)
{
    m_text = text;
    update();
}

void RDLabel::setTextColor(const QColor& color)
{
    m_textColor = color;
    update();
}

void RDLabel::setMargins(int left, int top, int right, int bottom)
{
    m_left = left;
    m_top = top;
    m_right = right;
    m_bottom = bottom;
}

QSize RDLabel::sizeHint() const
{
    const QSize size = fontMetrics().size(m_alignment, m_text);
    return QSize(size.width() + m_left + m_right, size.height() + m_top + m_bottom);
}

void RDLabel::paintEvent(QPaintEvent* event)
{
    RDWidget::paintEvent(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled())
        painter.setPen(kDisabledText);
    else
        painter.setPen(m_textColor.isValid() ? m_textColor : QColor(Qt::black));
    painter.drawText(QRect(m_left, m_top, width() - m_left - m_right, height() - m_top - m_bottom),
                     m_alignment, m_text);
}

void RDLabel::resizeEvent(QResizeEvent* event)
{
    RDWidget::resizeEvent(event);
    update();
}
