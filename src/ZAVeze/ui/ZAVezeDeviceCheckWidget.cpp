#include "ZAVezeDeviceCheckWidget.h"

#include <QCheckBox>
#include <QMouseEvent>

ZAVezeDeviceCheckWidget::ZAVezeDeviceCheckWidget(ZAVezeDeviceTableWidget* table, ZAVeze* tool, int row, int column)
    : ZAVezeDeviceItemWidget(table, tool, row, column)
    , m_box(new QCheckBox(this))
{
    m_box->resize(m_box->sizeHint());
    connect(m_box, &QCheckBox::clicked, this, &ZAVezeDeviceCheckWidget::checkBoxClicked);
}

bool ZAVezeDeviceCheckWidget::isChecked() const
{
    return m_box->isChecked();
}

void ZAVezeDeviceCheckWidget::setChecked(bool checked)
{
    m_box->setChecked(checked);
}

void ZAVezeDeviceCheckWidget::mousePressEvent(QMouseEvent* event)
{
    ZAVezeDeviceItemWidget::mousePressEvent(event);
    if (event->button() == Qt::LeftButton)
        m_box->click();
}

void ZAVezeDeviceCheckWidget::resizeEvent(QResizeEvent* event)
{
    ZAVezeDeviceItemWidget::resizeEvent(event);
    m_box->move((width() - m_box->width()) / 2, (height() - m_box->height()) / 2);
}
