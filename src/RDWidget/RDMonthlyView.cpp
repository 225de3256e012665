#include "RDMonthlyView.h"

#include "RDDayPicker.h"
#include "RDMonthDayView.h"

RDMonthlyView::RDMonthlyView(QWidget* parent)
    : RDWidget(parent)
{
    for (int day = 1; day <= kDays; ++day) {
        RDMonthDayView* cell = new RDMonthDayView(this);
        cell->text = QStringLiteral("%1").arg(day);
        connect(cell, &RDMonthDayView::click, this, &RDMonthlyView::onClickMonthDayView);
        m_days.push_back(cell);
    }
    setEnabled(true);
}

void RDMonthlyView::setEnabled(bool enabled)
{
    QWidget::setEnabled(enabled);
    RDDayPicker::applyBorder(this, enabled);
}

QString RDMonthlyView::value() const
{
    return RDDayPicker::value(m_days, 1);
}

void RDMonthlyView::setValue(const QString& value)
{
    RDDayPicker::setValue(m_days, value, 1);
}

void RDMonthlyView::onClickMonthDayView(RDMonthDayView* dayView)
{
    dayView->selected = !dayView->selected;
    dayView->update();
}

void RDMonthlyView::resizeEvent(QResizeEvent* event)
{
    RDWidget::resizeEvent(event);
    const QMargins m = borderMargins();
    const int cw = (width() - m.left() - m.right()) / 7;
    const int rh = (height() - m.top() - m.bottom()) / 5;
    for (size_t i = 0; i < m_days.size(); ++i)
        m_days[i]->setGeometry(m.left() + cw * (static_cast<int>(i) % 7), m.top() + rh * (static_cast<int>(i) / 7),
                               cw, rh);
}
