#pragma once

#include "RDWidget.h"
#include "RtpScheduleItem.h"

class QComboBox;
class QLineEdit;
class QTimeEdit;
class RDButton;
class RDLabel;

// One timed action of the schedule dialog: start (with a source and a duration) or stop at a
// time of day. A stop row keeps its duration, unit and source, greyed, and still writes them.
class RtpScheduleItemWidget : public RDWidget
{
    Q_OBJECT
public:
    // The source kinds a schedule can start, in the order of the source list.
    static constexpr int kSources[] = {1, 6, 16, 32};

    explicit RtpScheduleItemWidget(QWidget* parent = nullptr);

    // Shows the item; the fields this row has no control for (argument) are kept for value.
    virtual void setValue(const RtpScheduleItem& item);
    virtual RtpScheduleItem value() const;

    // 1 start, 2 stop; any other value changes nothing.
    void setAction(int type);
    // 1, 6, 16 or 32; any other value counts as 1.
    void setSource(int source);
    int action() const { return m_type; }
    int source() const { return m_source; }

    // Fills a source list with the four source kinds and a unit list with its units (texts
    // translated, the kinds and units as item data); the dialog's creation bar shares them.
    static void fillSourceList(QComboBox* list);
    static void fillActionList(QComboBox* list);
    static QString sourcePixmapPath(int source);

    // The width that shows every control, the row height.
    QSize sizeHint() const override;

    RDButton* deleteButton() const { return m_deleteButton; }
    QTimeEdit* startTimeEdit() const { return m_startTimeEdit; }
    RDLabel* durationLabel() const { return m_durationLabel; }
    QLineEdit* durationEdit() const { return m_durationEdit; }
    QComboBox* unitList() const { return m_unitList; }
    RDButton* actionButton() const { return m_actionButton; }
    QComboBox* actionList() const { return m_actionList; }
    RDButton* sourceButton() const { return m_sourceButton; }
    QComboBox* sourceList() const { return m_sourceList; }

signals:
    void requestDeleteItemWidget(RtpScheduleItemWidget* widget);
    void requestUpdateItemWidget(RtpScheduleItemWidget* widget);

public slots:
    void onActionComboBoxIndexChanged(int index);
    void onSourceComboBoxIndexChanged(int index);
    void onDurationIndexChanged(int index);
    void onClickDeleteButton();
    void onClickActionIconButton();
    void onClickSourceIconButton();
    void onStartTimeChanged(QTime time);
    void onDurationEditFinished();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void updateDurationEnabled();
    void relayout();
    // Places the controls left to right when apply is set; the right end of the last one plus
    // its margin either way.
    int placeControls(bool apply);

    bool m_updating = false;
    int m_type = RtpScheduleItem::TypeStart;
    int m_source = 1;
    RtpScheduleItem m_item;
    RDButton* m_deleteButton;
    RDLabel* m_startTimeLabel;
    QTimeEdit* m_startTimeEdit;
    RDLabel* m_durationLabel;
    QLineEdit* m_durationEdit;
    QComboBox* m_unitList;
    RDButton* m_actionButton;
    QComboBox* m_actionList;
    RDButton* m_sourceButton;
    QComboBox* m_sourceList;
};
