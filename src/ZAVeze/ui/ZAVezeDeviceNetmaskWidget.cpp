#include "ZAVezeDeviceNetmaskWidget.h"

#include "ZAVezeDeviceTableWidget.h"

#include <QRegExpValidator>

ZAVezeDeviceNetmaskWidget::ZAVezeDeviceNetmaskWidget(ZAVezeDeviceTableWidget* table, ZAVeze* tool, int row,
                                                     int column)
    : ZAVezeDeviceTextWidget(table, tool, row, column)
{
    setValidator(new QRegExpValidator(QRegExp(QLatin1String(kIpv4Expression))));
}

void ZAVezeDeviceNetmaskWidget::applyText(const QString& text)
{
    if (!isAcceptable(text) || !hasDevice())
        return;
    const ZAVezeDevice& device = table->devices().at(row());
    applyAddress(device.ipAddress(), text, device.gateway());
}
