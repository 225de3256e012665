#pragma once

#include <QWidget>

// One toggle cell of RDMonthlyView ("1" ... "31").
class RDMonthDayView : public QWidget
{
    Q_OBJECT
public:
    explicit RDMonthDayView(QWidget* parent = nullptr);

    bool selected = true;
    QString text;

signals:
    void click(RDMonthDayView* dayView);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};
