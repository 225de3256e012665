#pragma once

#include "RDProgressDialog.h"
#include "ZAVezeDevice.h"

#include <QVector>

#include <functional>

class ZAVeze;
class ZAVezeDeviceUpdateSink;

// The base of the device operation dialogs: a modal busy window whose job, on the worker, sends
// one device command after the other, writes the new values into its own copy of every device
// that accepted them and reports that copy to the table. A device that fails is logged and
// skipped; the dialog accepts itself when the last device is done. Closing it cancels the
// command in progress (which then fails) and ends the job.
//
// A subclass is set up on the GUI thread before exec() and not touched while the job runs.
// Subclasses call stopTask() in their destructor, because their job reads their members.
class ZAVezeDeviceSetDialog : public RDProgressDialog
{
    Q_OBJECT
public:
    // tool and table are not owned; either may be null (without a tool every command fails,
    // without a table nothing is reported).
    ZAVezeDeviceSetDialog(QWidget* parent, ZAVeze* tool, ZAVezeDeviceUpdateSink* table);

    // Starts the job, then runs the modal loop; Accepted when the job finished by itself.
    int exec() override;
    // Cancels the device tool's command in progress.
    void stop() override;

protected:
    // Without a message the bar sits in the middle rather than under an empty line.
    void resizeEvent(QResizeEvent* event) override;

    using Command = std::function<int(ZAVeze& tool, const ZAVezeDevice& device, int index)>;
    using Apply = std::function<void(ZAVezeDevice& device, int index)>;

    // The common job over devices: for each one, while not stopped, command; on success apply
    // (when given) and, with report set, hand the copy to the table. Ends with dismiss().
    void runEach(QVector<ZAVezeDevice>& devices, const char* what, const Command& command, const Apply& apply,
                 bool report);
    // Whether a per-device list has one entry for each device; logs a refusal when not.
    static bool sameCount(const char* what, int devices, int values);

    ZAVeze* tool;
    ZAVezeDeviceUpdateSink* table;
};
