#pragma once

#include <QDate>
#include <QVector>
#include <QWidget>

class RDButton;
class RDCalendarItemView;
class RDLabel;

// A month calendar for picking one date: a blue band with "yyyy-MM" between two arrows, the
// weekday names from Sunday and a 6 x 7 grid in which only the shown month's days are enabled.
// It emits nothing: the owner reads selectedDate.
class RDCalendarView : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kCells = 42;

    explicit RDCalendarView(QWidget* parent = nullptr);

    QDate selectedDate() const { return m_selectedDate; }
    QDate currentDate() const { return m_currentDate; }
    // The month to show; the selection stays.
    void setCurrentDate(const QDate& date);
    // Makes date the selected one and shows its month (an invalid date changes nothing).
    void setSelectedDate(const QDate& date);
    void updateView();

    RDLabel* titleLabel() const { return m_titleLabel; }
    RDButton* prevButton() const { return m_prevButton; }
    RDButton* nextButton() const { return m_nextButton; }
    const QVector<RDCalendarItemView*>& cells() const { return m_cells; }
    const QVector<RDLabel*>& weekdayLabels() const { return m_weekdayLabels; }

public slots:
    void onClickItemView(RDCalendarItemView* view);
    void onClickPrevButton();
    void onClickNextButton();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    const int m_headerHeight = 30;
    RDLabel* m_titleLabel;
    RDButton* m_prevButton;
    RDButton* m_nextButton;
    QVector<RDLabel*> m_weekdayLabels;
    QVector<RDCalendarItemView*> m_cells;
    QDate m_currentDate;
    QDate m_selectedDate;
};
