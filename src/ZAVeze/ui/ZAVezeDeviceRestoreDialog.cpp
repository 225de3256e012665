#include "ZAVezeDeviceRestoreDialog.h"

#include "ZAVeze.h"

ZAVezeDeviceRestoreDialog::ZAVezeDeviceRestoreDialog(QWidget* parent, ZAVeze* tool, ZAVezeDeviceUpdateSink* table)
    : ZAVezeDeviceSetDialog(parent, tool, table)
{
}

ZAVezeDeviceRestoreDialog::~ZAVezeDeviceRestoreDialog()
{
    stopTask();
}

void ZAVezeDeviceRestoreDialog::run()
{
    runEach(
        m_devices, "factory reset job",
        [](ZAVeze& tool, const ZAVezeDevice& device, int) {
            // Its answer does not matter: a device restarting may not send one.
            tool.resetDefault(device);
            return 0;
        }, nullptr, false);
}
