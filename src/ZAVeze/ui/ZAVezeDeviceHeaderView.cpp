#include "ZAVezeDeviceHeaderView.h"

#include <QCheckBox>
#include <QMouseEvent>

ZAVezeDeviceHeaderView::ZAVezeDeviceHeaderView(QWidget* parent)
    : QHeaderView(Qt::Horizontal, parent)
    , m_box(new QCheckBox(this))
{
    setSectionsClickable(true);
    setTextElideMode(Qt::ElideRight);
    m_box->resize(m_box->sizeHint());
    m_box->hide();
    connect(this, &QHeaderView::sectionResized, this, &ZAVezeDeviceHeaderView::onSectionResized);
    connect(m_box, &QCheckBox::clicked, this, &ZAVezeDeviceHeaderView::onCheckBoxClicked);
}

void ZAVezeDeviceHeaderView::onSectionResized(int logicalIndex, int, int)
{
    if (logicalIndex == 0)
        placeBox();
}

void ZAVezeDeviceHeaderView::placeBox()
{
    const int position = sectionPosition(0);
    const int size = count() > 0 ? sectionSize(0) : 0;
    if (position < 0 || size <= 0) {
        m_box->hide();
        return;
    }
    m_box->move(position + (size - m_box->width()) / 2, (height() - m_box->height()) / 2);
    m_box->show();
}

void ZAVezeDeviceHeaderView::onCheckBoxClicked(bool checked)
{
    emit checkBoxClicked(checked);
}

void ZAVezeDeviceHeaderView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && count() > 0 && logicalIndexAt(event->pos()) == 0) {
        m_box->click();
        event->accept();
        return;
    }
    QHeaderView::mousePressEvent(event);
}

void ZAVezeDeviceHeaderView::mouseReleaseEvent(QMouseEvent* event)
{
    QHeaderView::mouseReleaseEvent(event);
}

void ZAVezeDeviceHeaderView::resizeEvent(QResizeEvent* event)
{
    QHeaderView::resizeEvent(event);
    placeBox();
}
