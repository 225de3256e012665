#pragma once

#include "RDDialog.h"
#include "RtpSchedule.h"

class QCheckBox;
class QComboBox;
class QPushButton;
class QTimeEdit;
class RDCalendarView;
class RDLabel;
class RDLabelButton;
class RDMonthlyView;
class RDWeeklyView;
class RtpInfo;
class RtpScheduleItemsView;

// Edits one channel's schedule: whether it is on, how it repeats (once on a date, daily, on
// weekdays, on days of the month) and its timed start and stop actions. The caller reads the
// schedule back only after "Save". Modal, GUI thread only.
class RtpInfoScheduleDialog : public RDDialog
{
    Q_OBJECT
public:
    explicit RtpInfoScheduleDialog(QWidget* parent = nullptr);

    // sourceType is the channel's source kind: the creation bar offers it first.
    void setSchedule(int sourceType, const RtpSchedule& schedule);
    void schedule(RtpSchedule& out) const;

    // What the channel form does with its "Schedule" button: refused with "Please stop rtp"
    // while the channel runs; otherwise the dialog runs for the record's source and schedule
    // and, when saved, writes the schedule back. True when the record changed hands and must be
    // stored.
    static bool editRecord(RtpInfo& record);

    QSize sizeHint() const override;

    QCheckBox* statusCheckBox() const { return m_statusCheckBox; }
    RDLabel* statusLabel() const { return m_statusLabel; }
    RDLabel* repeatLabel() const { return m_repeatLabel; }
    QComboBox* repeatList() const { return m_repeatList; }
    RDCalendarView* calendarView() const { return m_calendarView; }
    RDMonthlyView* monthlyView() const { return m_monthlyView; }
    RDWeeklyView* weeklyView() const { return m_weeklyView; }
    QTimeEdit* timeEdit() const { return m_timeEdit; }
    RDLabel* actionLabel() const { return m_actionLabel; }
    QComboBox* actionList() const { return m_actionList; }
    RDLabel* sourceLabel() const { return m_sourceLabel; }
    QComboBox* sourceList() const { return m_sourceList; }
    RDLabelButton* createButton() const { return m_createButton; }
    RtpScheduleItemsView* itemsView() const { return m_itemsView; }
    QPushButton* saveButton() const { return m_saveButton; }
    QPushButton* cancelButton() const { return m_cancelButton; }

public slots:
    void onClickAddButton();
    void onStatusCheckBoxValueChanged(bool checked);
    void onRepeatComboBoxIndexChanged(int index);
    void onActionComboBoxIndexChanged(int index);
    void onClickCreateActionLabel();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void relayout();
    // Places every child when apply is set (0); otherwise measures: the narrowest dialog width
    // that shows the creation bar and a whole row.
    int placeControls(bool apply);

    int m_sourceType = 0;
    RtpSchedule m_schedule;
    QCheckBox* m_statusCheckBox;
    RDLabel* m_statusLabel;
    RDLabel* m_repeatLabel;
    QComboBox* m_repeatList;
    RDCalendarView* m_calendarView;
    RDMonthlyView* m_monthlyView;
    RDWeeklyView* m_weeklyView;
    QTimeEdit* m_timeEdit;
    RDLabel* m_actionLabel;
    QComboBox* m_actionList;
    RDLabel* m_sourceLabel;
    QComboBox* m_sourceList;
    RDLabelButton* m_createButton;
    RtpScheduleItemsView* m_itemsView;
    QPushButton* m_saveButton;
    QPushButton* m_cancelButton;
};
