#include "ZAVezeDeviceBeepWidget.h"

#include "RDPixmapCache.h"
#include "RDPixmapWidget.h"
#include "ZAVezeDeviceBeepDialog.h"
#include "ZAVezeDeviceTableWidget.h"

ZAVezeDeviceBeepWidget::ZAVezeDeviceBeepWidget(ZAVezeDeviceTableWidget* table, ZAVeze* tool, int row, int column)
    : ZAVezeDeviceItemWidget(table, tool, row, column)
    , m_button(new RDPixmapWidget(this))
{
    m_button->setPixmap(cachedPixmap(QStringLiteral(":/play.png"), 16));
    m_button->setCursor(Qt::PointingHandCursor);
    connect(m_button, &RDWidget::clicked, this, &ZAVezeDeviceBeepWidget::onClickBeep);
}

void ZAVezeDeviceBeepWidget::onClickBeep()
{
    if (!hasDevice())
        return;
    ZAVezeDeviceBeepDialog dialog(this, tool, table);
    dialog.setDevice(table->devices().at(row()));
    dialog.exec();
}

void ZAVezeDeviceBeepWidget::resizeEvent(QResizeEvent* event)
{
    ZAVezeDeviceItemWidget::resizeEvent(event);
    m_button->setGeometry((width() - 20) / 2, (height() - 20) / 2, 20, 20);
}
