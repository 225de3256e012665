#pragma once

#include "ZAVezeDeviceTextWidget.h"

// The MAC cell; the table switches its editing off.
class ZAVezeDeviceMacWidget : public ZAVezeDeviceTextWidget
{
    Q_OBJECT
public:
    using ZAVezeDeviceTextWidget::ZAVezeDeviceTextWidget;
};
