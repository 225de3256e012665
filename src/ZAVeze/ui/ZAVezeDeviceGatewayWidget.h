#pragma once

#include "ZAVezeDeviceTextWidget.h"

// The gateway cell: a finished edit that is a whole IPv4 address sets the row's device to a
// static address with the new gateway and its other stored values.
class ZAVezeDeviceGatewayWidget : public ZAVezeDeviceTextWidget
{
    Q_OBJECT
public:
    ZAVezeDeviceGatewayWidget(ZAVezeDeviceTableWidget* table, ZAVeze* tool, int row, int column);

    void applyText(const QString& text) override;
};
