#pragma once

#include "RDWidget.h"

#include <vector>

class RDMonthDayView;

// 31 toggle cells "1" ... "31" in a 7-column grid of five rows, all selected at first. Its value
// is the selected days of the month, each followed by ";" ("1;15;31;"). No signal: the owner
// reads value when it saves.
class RDMonthlyView : public RDWidget
{
    Q_OBJECT
public:
    static constexpr int kDays = 31;

    explicit RDMonthlyView(QWidget* parent = nullptr);

    void setEnabled(bool enabled);
    QString value() const;
    void setValue(const QString& value);
    const std::vector<RDMonthDayView*>& days() const { return m_days; }

public slots:
    void onClickMonthDayView(RDMonthDayView* dayView);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    std::vector<RDMonthDayView*> m_days;
};
