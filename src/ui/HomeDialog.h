#pragma once

#include "RDDialog.h"
#include "RDLocalize.h"

class HomeTopWidget;
class RtpInfoDialog;
class ZAVezeDeviceSetWidget;
class ZAVezeDeviceTableWidget;

// The window main shows for the whole run: the device tool's home with a top bar, the device
// table and the device settings panel. From it the operator scans the LAN, opens the channel
// editor (made at the first click and then kept) and the options dialog.
class HomeDialog : public RDDialog, public RDLocalize
{
    Q_OBJECT
public:
    static constexpr int kTopHeight = 35;
    static constexpr int kPanelHeight = 300;
    static constexpr int kAutoScanDelayMs = 100;
    static constexpr double kSearchSeconds = 3.0;

    // autoScanDelayMs: when the first scan starts by itself; negative: never (tests).
    explicit HomeDialog(int autoScanDelayMs = kAutoScanDelayMs, QWidget* parent = nullptr);
    ~HomeDialog() override;

    HomeTopWidget* topWidget() const { return m_top; }
    ZAVezeDeviceTableWidget* tableWidget() const { return m_table; }
    ZAVezeDeviceSetWidget* setWidget() const { return m_panel; }
    // Null until "RTP Multicast" was first clicked.
    RtpInfoDialog* rtpInfoDialog() const { return m_rtpDialog; }
    // How long a scan listens for replies (tests shorten it).
    void setSearchSeconds(double seconds) { m_searchSeconds = seconds; }

public slots:
    void onClickSearchButton();
    void onClickRtpButton();
    void onClickSettingsButton();
    void onTableWidgetCellClicked(int row, int column);
    // After an import: the open channel editor shows the new channels.
    void onDataImported();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    HomeTopWidget* m_top;
    ZAVezeDeviceTableWidget* m_table;
    ZAVezeDeviceSetWidget* m_panel;
    RtpInfoDialog* m_rtpDialog = nullptr;
    double m_searchSeconds = kSearchSeconds;
};
