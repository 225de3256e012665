#pragma once

#include <QDate>
#include <QWidget>

// One day cell of RDCalendarView. Disabled cells (days of the neighbouring months) get no mouse
// events.
class RDCalendarItemView : public QWidget
{
    Q_OBJECT
public:
    explicit RDCalendarItemView(QWidget* parent = nullptr);

    bool selected = false;
    QDate date;

signals:
    void clickView(RDCalendarItemView* view);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};
