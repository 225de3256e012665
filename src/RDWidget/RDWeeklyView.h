#pragma once

#include "RDWidget.h"

#include <vector>

class RDWeekDayView;

// Seven toggle cells "Sun" ... "Sat" in one row, all selected at first. Its value is the
// selected weekdays counted from Sunday 0, each followed by ";" ("0;6;"). No signal: the owner
// reads value when it saves.
class RDWeeklyView : public RDWidget
{
    Q_OBJECT
public:
    explicit RDWeeklyView(QWidget* parent = nullptr);

    void setEnabled(bool enabled);
    QString value() const;
    void setValue(const QString& value);
    const std::vector<RDWeekDayView*>& days() const { return m_days; }

public slots:
    void onClickWeekDayView(RDWeekDayView* dayView);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    std::vector<RDWeekDayView*> m_days;
};
