#include "ZAVezeDeviceSetDialog.h"

#include "RDLog.h"
#include "ZAVeze.h"
#include "ZAVezeDeviceUpdateSink.h"
#include "ZAVezeFrame.h"

#include <QProgressBar>

ZAVezeDeviceSetDialog::ZAVezeDeviceSetDialog(QWidget* parent, ZAVeze* tool, ZAVezeDeviceUpdateSink* table)
    : RDProgressDialog(parent)
    , tool(tool)
    , table(table)
{
    resize(300, 80);
}

void ZAVezeDeviceSetDialog::resizeEvent(QResizeEvent* event)
{
    RDProgressDialog::resizeEvent(event);
    if (!message().isEmpty())
        return;
    const QRect bar = progressBar->geometry();
    progressBar->setGeometry(bar.x(), (height() - bar.height()) / 2, bar.width(), bar.height());
}

int ZAVezeDeviceSetDialog::exec()
{
    // A cancel left over from an earlier job must not fail this one.
    if (tool)
        tool->beginJob();
    start();
    return RDProgressDialog::exec();
}

void ZAVezeDeviceSetDialog::stop()
{
    if (tool)
        tool->cancel();
}

// Devices are handled one after another, because the tool runs one command at a time and a
// device that stays silent costs the whole command time; the stop flag is looked at before
// each device, so a close sends nothing further.
void ZAVezeDeviceSetDialog::runEach(QVector<ZAVezeDevice>& devices, const char* what, const Command& command,
                                    const Apply& apply, bool report)
{
    for (int i = 0; i < devices.size(); ++i) {
        if (isStop())
            break;
        ZAVezeDevice& device = devices[i];
        const int result = tool ? command(*tool, device, i) : -1;
        if (result != 0) {
            RDLOG("%s: device %s failed (%d)", what, ZAVezeFrame::macText(device.mac).toUtf8().constData(), result);
            continue;
        }
        if (apply)
            apply(device, i);
        if (report && table)
            table->updateDevice(device);
    }
    dismiss();
}

bool ZAVezeDeviceSetDialog::sameCount(const char* what, int devices, int values)
{
    if (devices == values)
        return true;
    RDLOG("%s: %d values for %d devices, refused", what, values, devices);
    return false;
}
