#pragma once

#include "RDLocalize.h"
#include "RDWidget.h"
#include "ZAVezeDevice.h"

#include <QVector>

class ZAVeze;
class ZAVezeDeviceFirmwareSetWidget;
class ZAVezeDeviceIPSetWidget;
class ZAVezeDeviceNameSetWidget;
class ZAVezeDeviceRtpSetWidget;
class ZAVezeDeviceSectionWidget;
class ZAVezeDeviceSipSetWidget;
class ZAVezeDeviceSystemSetWidget;
class ZAVezeDeviceTableWidget;
class ZAVezeDeviceVolumeSetWidget;

// The device settings panel under the device table: seven sections (name, network, SIP, RTP,
// firmware, volume, system), of which the main window shows those that belong to the clicked
// table column, filled from the clicked device.
//
// Every "Set" button acts on the panel's current device, every "... All" button on the devices
// ticked in the table. An action checks what was typed, in a fixed order, and shows a message
// for the first thing missing; otherwise it runs the matching device operation dialog modally
// (the device commands run on the dialog's worker, the table hears of every device that took
// the change). Nothing is sent when a check fails. GUI thread only.
class ZAVezeDeviceSetWidget : public RDWidget, public RDLocalize
{
    Q_OBJECT
public:
    explicit ZAVezeDeviceSetWidget(QWidget* parent = nullptr);

    // Not owned; given to every dialog. Without a tool every command fails; without a table no
    // device counts as ticked.
    void setZAVeze(ZAVeze* tool) { m_tool = tool; }
    void setTableWidget(ZAVezeDeviceTableWidget* table) { m_table = table; }

    // Keeps a copy of the record as the current device and fills every section from it (an
    // empty record when the clicked row holds no device: the single actions then refuse).
    void setDevice(const ZAVezeDevice& device);
    const ZAVezeDevice& device() const { return m_device; }

    // Re-texts every section in the current language, then lays the panel out.
    void localize() override;

    // Section switching for the clicked table column. Each of these leaves the panel as it is
    // when the section it shows is already shown; otherwise it hides all and shows its own.
    void showNameSetWidget();     // name and network
    void showIPSetWidget();       // name and network
    void showMacSetWidget();      // nothing
    void showSipSetWidget();
    void showRtpSetWidget();
    void showFirmwareSetWidget();
    void showVolumeSetWidget();   // volume and system
    void showSystemSetWidget();   // volume and system
    // The switch above for a column of the device table (ZAVezeDeviceTableWidget::Column); a
    // column without settings hides every section.
    void showSetWidgetsForColumn(int column);
    void hideAllSetWidgets();
    // Places the shown sections left to right, each at its own width, as high as the panel.
    void relayout();

    ZAVezeDeviceNameSetWidget* nameSetWidget() const { return m_name; }
    ZAVezeDeviceIPSetWidget* ipSetWidget() const { return m_ip; }
    ZAVezeDeviceSipSetWidget* sipSetWidget() const { return m_sip; }
    ZAVezeDeviceRtpSetWidget* rtpSetWidget() const { return m_rtp; }
    ZAVezeDeviceFirmwareSetWidget* firmwareSetWidget() const { return m_firmware; }
    ZAVezeDeviceVolumeSetWidget* volumeSetWidget() const { return m_volume; }
    ZAVezeDeviceSystemSetWidget* systemSetWidget() const { return m_system; }
    // The seven sections in panel order.
    QVector<ZAVezeDeviceSectionWidget*> sections() const;

public slots:
    void onSetName(bool checked);
    void onSetAllName(bool checked);
    void onSetIP(bool checked);
    void onSetAllIP(bool checked);
    void onSetSip(bool checked);
    void onSetAllSip(bool checked);
    void onSetRtp(bool checked);
    void onSetAllRtp(bool checked);
    void onSetUpgrade(bool checked);
    void onSetAllUpgrade(bool checked);
    void onTestAudio(bool checked);
    void onTestMicrophone(bool checked);
    void onSetVolume(bool checked);
    void onSetAllVolume(bool checked);
    void onSetAuth(bool checked);
    void onSetAllAuth(bool checked);
    void onSetRestore(bool checked);
    void onSetAllRestore(bool checked);
    void onSetReboot(bool checked);
    void onSetAllReboot(bool checked);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    // Shows a message box with the translated text; the action then ends.
    static void inform(const char* text);
    static void informTranslated(const QString& text);
    // Asks the translated question with a yes button captioned yesCaption; true on yes.
    static bool ask(const char* question, const char* yesCaption);
    // The current device, or false after "Please select device" when the panel has none.
    bool currentDevice(QVector<ZAVezeDevice>* devices) const;
    // The ticked devices in row order, or false after "Please select device" when none is.
    bool tickedDevices(QVector<ZAVezeDevice>* devices) const;
    // The first message refusing the typed account and password, or null.
    const char* missingAuthInput() const;
    // Builds the dialog on the stack with the panel, tool and table, lets setUp hand it its
    // devices and values, and runs it until its job ends or it is closed.
    template <typename Dialog, typename SetUp>
    void runDialog(const SetUp& setUp);
    // Hides every section, shows these, lays out.
    void showOnly(std::initializer_list<QWidget*> shown);

    void setNames(const QVector<ZAVezeDevice>& devices);
    void setAddresses(const QVector<ZAVezeDevice>& devices);
    void setSip(const QVector<ZAVezeDevice>& devices);
    void setRtp(const QVector<ZAVezeDevice>& devices);
    void upgrade(const QVector<ZAVezeDevice>& devices);
    void setVolume(const QVector<ZAVezeDevice>& devices);
    void setAuth(const QVector<ZAVezeDevice>& devices);

    ZAVeze* m_tool = nullptr;
    ZAVezeDeviceTableWidget* m_table = nullptr;
    ZAVezeDevice m_device;
    ZAVezeDeviceNameSetWidget* m_name;
    ZAVezeDeviceIPSetWidget* m_ip;
    ZAVezeDeviceSipSetWidget* m_sip;
    ZAVezeDeviceRtpSetWidget* m_rtp;
    ZAVezeDeviceFirmwareSetWidget* m_firmware;
    ZAVezeDeviceVolumeSetWidget* m_volume;
    ZAVezeDeviceSystemSetWidget* m_system;
};
