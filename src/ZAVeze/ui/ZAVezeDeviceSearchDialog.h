#pragma once

#include "RDProgressDialog.h"
#include "ZAVezeDevice.h"

#include <QVector>

#include <mutex>

class ZAVeze;

// The small modal window shown while the device tool searches the network: the search runs on
// the worker, the devices found are sorted by IPv4 address and the dialog accepts itself. Closing
// it cancels the search (exec() then returns Rejected and the result is not to be used). One
// search per dialog.
class ZAVezeDeviceSearchDialog : public RDProgressDialog
{
    Q_OBJECT
public:
    explicit ZAVezeDeviceSearchDialog(QWidget* parent = nullptr);
    ~ZAVezeDeviceSearchDialog() override;

    // GUI thread, before exec(): keeps tool (not owned; may be null, the search then finds
    // nothing) and the listening time, and starts the worker.
    bool startSearch(ZAVeze* tool, double seconds);

    void run() override;
    void stop() override;

    // Read after exec() has returned.
    QVector<ZAVezeDevice> devices() const;

    // Ascending by the raw IPv4 bytes, unsigned, a shorter array before its extensions.
    static void sortByAddress(QVector<ZAVezeDevice>& devices);

private:
    ZAVeze* m_tool = nullptr;
    // Written by the worker once, at the end of the search; the lock makes the hand-over to the
    // GUI thread visible to the race detector, which does not see through Qt's posted events.
    mutable std::mutex m_mutex;
    QVector<ZAVezeDevice> m_devices;
    double m_seconds = 3.0;
};
