#include "ZAVezeDeviceItemWidget.h"

#include "ZAVezeDeviceTableWidget.h"

ZAVezeDeviceItemWidget::ZAVezeDeviceItemWidget(ZAVezeDeviceTableWidget* table, ZAVeze* tool, int row, int column)
    : RDWidget(table)
    , table(table)
    , tool(tool)
    , m_row(row)
    , m_column(column)
{
}

QString ZAVezeDeviceItemWidget::text() const
{
    return QString();
}

bool ZAVezeDeviceItemWidget::hasDevice() const
{
    return table && m_row >= 0 && m_row < table->devices().size();
}
