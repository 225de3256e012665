#pragma once

#include "RDWidget.h"
#include "RtpScheduleItem.h"

#include <QVector>

class QListWidget;
class RtpScheduleItemWidget;

// The list of a schedule's timed actions, one row widget each. Items that are neither start
// nor stop get no row (and so are dropped when the schedule is read back).
class RtpScheduleItemsView : public RDWidget
{
    Q_OBJECT
public:
    explicit RtpScheduleItemsView(QWidget* parent = nullptr);

    // Replaces the rows, in the given order.
    void setItems(const QVector<RtpScheduleItem>& items);
    // Inserts a row before the first one that is not earlier (RtpScheduleItem::lessThan), else
    // at the end; nothing for an item that is neither start nor stop.
    void addItem(const RtpScheduleItem& item);
    // Every row's item, sorted by RtpScheduleItem::lessThan.
    QVector<RtpScheduleItem> items() const;

    QListWidget* listWidget() const { return m_list; }
    // The row widget of row (null past the end).
    RtpScheduleItemWidget* rowWidget(int row) const;
    int rowCount() const;

public slots:
    void onDeleteItemWidget(RtpScheduleItemWidget* widget);
    void onUpdateItemWidget(RtpScheduleItemWidget* widget);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    RtpScheduleItemWidget* makeItemWidget(const RtpScheduleItem& item);
    void insertRow(int row, RtpScheduleItemWidget* widget);

    QListWidget* m_list;
};
