#pragma once

#include "RDLocalize.h"
#include "RDWidget.h"
#include "ZAVezeDevice.h"
#include "ZAVezeDeviceUpdateSink.h"

#include <QModelIndexList>
#include <QVector>

#include <mutex>

class QTableWidget;
class ZAVeze;
class ZAVezeDeviceHeaderView;

// The list of found devices: one row per device with 13 columns of cell widgets (a tick box, a
// test-tone button, the number, name, MAC, address with web link, netmask, gateway, SIP account,
// RTP multicast, firmware, volume, account), a select-all box in the header, in-place editing
// of name and addresses, and Ctrl+C copying the selected cells as tab-separated text.
//
// Row r shows devices()[r]; the view is never sorted. The operation jobs report a changed
// device through updateDevice() from their worker thread: the row with the same MAC shows it,
// and its stored record is replaced, so that later actions use the current values.
class ZAVezeDeviceTableWidget : public RDWidget, public RDLocalize, public ZAVezeDeviceUpdateSink
{
    Q_OBJECT
public:
    enum Column {
        CheckColumn = 0,
        BeepColumn,
        NumberColumn,
        NameColumn,
        MacColumn,
        IpColumn,
        NetmaskColumn,
        GatewayColumn,
        SipColumn,
        RtpColumn,
        FirmwareColumn,
        VolumeColumn,
        SystemColumn,
        ColumnCount
    };

    explicit ZAVezeDeviceTableWidget(QWidget* parent = nullptr);

    // Not owned; given to every dialog a cell opens.
    void setZAVeze(ZAVeze* tool) { m_tool = tool; }
    ZAVeze* zaveze() const { return m_tool; }

    // Replaces the stored list and rebuilds every row (ticks and open editors go).
    void setDevices(const QVector<ZAVezeDevice>& devices);
    const QVector<ZAVezeDevice>& devices() const { return m_devices; }
    // The stored records of the ticked rows, in row order (none ticked: empty).
    QVector<ZAVezeDevice> checkedDevices() const;
    QTableWidget* tableWidget() const { return m_table; }
    ZAVezeDeviceHeaderView* header() const { return m_header; }

    // Sets the cell texts of row from device.
    void refreshRow(int row, const ZAVezeDevice& device);
    // The selected cells as text: a tab per column step from the leftmost selected column, a
    // newline between rows, no trailing newline.
    QString selectionText() const;

    void localize() override;

public slots:
    // Any thread: from another one the record is queued and the widget's thread is asked to
    // take it.
    void updateDevice(ZAVezeDevice device) override;
    // Shows the records queued by other threads.
    void takePendingUpdates();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void addDeviceRow(int row, const ZAVezeDevice& device);
    void layoutColumns();
    void onHeaderChecked(bool checked);
    void updateHeaderCheck();
    void copySelection();

    void showUpdate(const ZAVezeDevice& device);

    ZAVeze* m_tool = nullptr;
    QTableWidget* m_table;
    ZAVezeDeviceHeaderView* m_header;
    QVector<ZAVezeDevice> m_devices;

    // Records handed over by the jobs' threads. The hand-over goes through this lock rather than
    // through the argument of a queued call, so that the race detector sees it too.
    std::mutex m_pendingMutex;
    QVector<ZAVezeDevice> m_pending;
};
