#pragma once

#include <QWidget>

// One toggle cell of RDWeeklyView ("Sun" ... "Sat").
class RDWeekDayView : public QWidget
{
    Q_OBJECT
public:
    explicit RDWeekDayView(QWidget* parent = nullptr);

    bool selected = true;
    QString text;

signals:
    void click(RDWeekDayView* dayView);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};
