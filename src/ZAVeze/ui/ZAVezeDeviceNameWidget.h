#pragma once

#include "ZAVezeDeviceTextWidget.h"

// The name cell: a finished edit renames the row's device through the name dialog; the label
// shows the new name once the device has accepted it.
class ZAVezeDeviceNameWidget : public ZAVezeDeviceTextWidget
{
    Q_OBJECT
public:
    using ZAVezeDeviceTextWidget::ZAVezeDeviceTextWidget;

    void applyText(const QString& text) override;
};
