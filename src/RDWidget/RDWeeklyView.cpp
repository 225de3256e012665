#include "RDWeeklyView.h"

#include "RDDayPicker.h"
#include "RDLanguage.h"
#include "RDWeekDayView.h"

namespace {

const char* const kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

} // namespace

RDWeeklyView::RDWeeklyView(QWidget* parent)
    : RDWidget(parent)
{
    for (const char* name : kWeekdays) {
        RDWeekDayView* day = new RDWeekDayView(this);
        day->text = RDLanguage::translate(QString::fromLatin1(name));
        connect(day, &RDWeekDayView::click, this, &RDWeeklyView::onClickWeekDayView);
        m_days.push_back(day);
    }
    setEnabled(true);
}

void RDWeeklyView::setEnabled(bool enabled)
{
    QWidget::setEnabled(enabled);
    RDDayPicker::applyBorder(this, enabled);
}

QString RDWeeklyView::value() const
{
    return RDDayPicker::value(m_days, 0);
}

void RDWeeklyView::setValue(const QString& value)
{
    RDDayPicker::setValue(m_days, value, 0);
}

void RDWeeklyView::onClickWeekDayView(RDWeekDayView* dayView)
{
    dayView->selected = !dayView->selected;
    dayView->update();
}

void RDWeeklyView::resizeEvent(QResizeEvent* event)
{
    RDWidget::resizeEvent(event);
    const QMargins m = borderMargins();
    const int cw = (width() - m.left() - m.right()) / 7;
    for (size_t i = 0; i < m_days.size(); ++i)
        m_days[i]->setGeometry(m.left() + static_cast<int>(i) * cw, (m.top() + m.bottom()) / 2, cw,
                               height() - m.top() - m.bottom());
}
