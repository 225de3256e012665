#include "RtpScheduleItemsView.h"

#include "RtpScheduleItemWidget.h"

#include <QListWidget>

#include <algorithm>

namespace {

constexpr int kRowHeight = 40;

} // namespace

RtpScheduleItemsView::RtpScheduleItemsView(QWidget* parent)
    : RDWidget(parent)
    , m_list(new QListWidget(this))
{
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setResizeMode(QListView::Adjust);
    m_list->setStyleSheet(
        QStringLiteral("QListWidget{background-color:#ffffff};QListWidget::disabled{background-color:#ffffff};"));
}

RtpScheduleItemWidget* RtpScheduleItemsView::makeItemWidget(const RtpScheduleItem& item)
{
    if (item.type != RtpScheduleItem::TypeStart && item.type != RtpScheduleItem::TypeStop)
        return nullptr;
    RtpScheduleItemWidget* widget = new RtpScheduleItemWidget;
    widget->show();
    widget->setValue(item);
    connect(widget, &RtpScheduleItemWidget::requestDeleteItemWidget, this, &RtpScheduleItemsView::onDeleteItemWidget);
    connect(widget, &RtpScheduleItemWidget::requestUpdateItemWidget, this, &RtpScheduleItemsView::onUpdateItemWidget);
    return widget;
}

void RtpScheduleItemsView::insertRow(int row, RtpScheduleItemWidget* widget)
{
    QListWidgetItem* item = new QListWidgetItem;
    item->setFlags(Qt::ItemIsEnabled);
    item->setSizeHint(QSize(0, kRowHeight));
    m_list->insertItem(row, item);
    m_list->setItemWidget(item, widget);
}

void RtpScheduleItemsView::setItems(const QVector<RtpScheduleItem>& items)
{
    m_list->clear();
    for (const RtpScheduleItem& item : items) {
        if (RtpScheduleItemWidget* widget = makeItemWidget(item))
            insertRow(m_list->count(), widget);
    }
}

void RtpScheduleItemsView::addItem(const RtpScheduleItem& item)
{
    RtpScheduleItemWidget* widget = makeItemWidget(item);
    if (!widget)
        return;
    int row = 0;
    const int count = rowCount();
    while (row < count && RtpScheduleItem::lessThan(rowWidget(row)->value(), item))
        ++row;
    insertRow(row, widget);
}

QVector<RtpScheduleItem> RtpScheduleItemsView::items() const
{
    QVector<RtpScheduleItem> items;
    for (int row = 0; row < rowCount(); ++row) {
        if (RtpScheduleItemWidget* widget = rowWidget(row))
            items.append(widget->value());
    }
    std::stable_sort(items.begin(), items.end(), RtpScheduleItem::lessThan);
    return items;
}

RtpScheduleItemWidget* RtpScheduleItemsView::rowWidget(int row) const
{
    QListWidgetItem* item = m_list->item(row);
    return item ? qobject_cast<RtpScheduleItemWidget*>(m_list->itemWidget(item)) : nullptr;
}

int RtpScheduleItemsView::rowCount() const
{
    return m_list->count();
}

void RtpScheduleItemsView::onDeleteItemWidget(RtpScheduleItemWidget* widget)
{
    for (int row = 0; row < m_list->count(); ++row) {
        QListWidgetItem* item = m_list->item(row);
        if (m_list->itemWidget(item) != widget)
            continue;
        // The widget is released later (it may be the sender of the click being handled); until
        // then it must not show over the row that moves up into its place.
        widget->hide();
        m_list->removeItemWidget(item);
        delete m_list->takeItem(row);
        return;
    }
}

void RtpScheduleItemsView::onUpdateItemWidget(RtpScheduleItemWidget* widget)
{
    Q_UNUSED(widget);
    setItems(items());
}

void RtpScheduleItemsView::resizeEvent(QResizeEvent* event)
{
    RDWidget::resizeEvent(event);
    m_list->setGeometry(0, 0, width(), height());
}
