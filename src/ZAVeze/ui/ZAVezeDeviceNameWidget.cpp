#include "ZAVezeDeviceNameWidget.h"

#include "ZAVezeDeviceNameSetDialog.h"
#include "ZAVezeDeviceTableWidget.h"

void ZAVezeDeviceNameWidget::applyText(const QString& text)
{
    if (!hasDevice())
        return;
    ZAVezeDeviceNameSetDialog dialog(nullptr, tool, table);
    dialog.setDevice(table->devices().at(row()), text);
    dialog.exec();
}
