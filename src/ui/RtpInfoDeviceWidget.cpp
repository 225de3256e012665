#include "RtpInfoDeviceWidget.h"

#include "RtpInfoDeviceItemWidget.h"

#include <QFrame>
#include <QListWidget>

RtpInfoDeviceWidget::RtpInfoDeviceWidget(QWidget* parent)
    : RDWidget(parent)
{
    m_list = new QListWidget(this);
    m_list->setFrameShape(QFrame::NoFrame);
}

void RtpInfoDeviceWidget::setDevices(const QList<RDAudioDevice>& devices, const QString& selectedId)
{
    m_devices = devices;
    m_list->clear();
    for (const RDAudioDevice& device : m_devices) {
        auto* item = new QListWidgetItem(m_list);
        item->setFlags(Qt::ItemIsEnabled);
        item->setSizeHint(QSize(0, kRowHeight));
        auto* row = new RtpInfoDeviceItemWidget(device);
        row->setMarked(device.id == selectedId);
        m_list->setItemWidget(item, row);
        connect(row, &RDWidget::clicked, this, &RtpInfoDeviceWidget::onClickItemWidget);
    }
}

RtpInfoDeviceItemWidget* RtpInfoDeviceWidget::row(int index) const
{
    return qobject_cast<RtpInfoDeviceItemWidget*>(m_list->itemWidget(m_list->item(index)));
}

bool RtpInfoDeviceWidget::markedDevice(RDAudioDevice* device) const
{
    for (int i = 0; i < m_list->count(); ++i) {
        const RtpInfoDeviceItemWidget* item = row(i);
        if (item && item->isMarked()) {
            *device = item->device();
            return true;
        }
    }
    return false;
}

void RtpInfoDeviceWidget::setEditable(bool editable)
{
    m_list->setEnabled(editable);
}

void RtpInfoDeviceWidget::onClickItemWidget()
{
    auto* clicked = qobject_cast<RtpInfoDeviceItemWidget*>(sender());
    if (!clicked || clicked->isMarked())
        return;
    const QString id = clicked->device().id;
    for (int i = 0; i < m_list->count(); ++i) {
        if (RtpInfoDeviceItemWidget* item = row(i))
            item->setMarked(item->device().id == id);
    }
    emit deviceChanged();
}

void RtpInfoDeviceWidget::resizeEvent(QResizeEvent* event)
{
    RDWidget::resizeEvent(event);
    m_list->setGeometry(0, 0, width(), height());
}
