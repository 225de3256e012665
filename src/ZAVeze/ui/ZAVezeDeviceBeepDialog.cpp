#include "ZAVezeDeviceBeepDialog.h"

#include "ZAVeze.h"

ZAVezeDeviceBeepDialog::ZAVezeDeviceBeepDialog(QWidget* parent, ZAVeze* tool, ZAVezeDeviceUpdateSink* table)
    : ZAVezeDeviceSetDialog(parent, tool, table)
{
}

ZAVezeDeviceBeepDialog::~ZAVezeDeviceBeepDialog()
{
    stopTask();
}

void ZAVezeDeviceBeepDialog::run()
{
    if (tool && !isStop())
        tool->playVolume(m_device);
    dismiss();
}
