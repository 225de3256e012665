#include "ZAVezeDeviceRebootDialog.h"

#include "ZAVeze.h"

ZAVezeDeviceRebootDialog::ZAVezeDeviceRebootDialog(QWidget* parent, ZAVeze* tool, ZAVezeDeviceUpdateSink* table)
    : ZAVezeDeviceSetDialog(parent, tool, table)
{
}

ZAVezeDeviceRebootDialog::~ZAVezeDeviceRebootDialog()
{
    stopTask();
}

void ZAVezeDeviceRebootDialog::run()
{
    runEach(
        m_devices, "reboot job", [](ZAVeze& tool, const ZAVezeDevice& device, int) {
            // Its answer does not matter: a device restarting may not send one.
            tool.reboot(device);
            return 0;
        },
        nullptr, false);
}
