#pragma once

#include "ZAVezeDeviceTextWidget.h"

// The netmask cell: a finished edit that is a whole IPv4 address sets the row's device to a
// static address with the new netmask and its other stored values.
class ZAVezeDeviceNetmaskWidget : public ZAVezeDeviceTextWidget
{
    Q_OBJECT
public:
    ZAVezeDeviceNetmaskWidget(ZAVezeDeviceTableWidget* table, ZAVeze* tool, int row, int column);

    void applyText(const QString& text) override;
};
