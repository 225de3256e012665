#include "ZAVezeDeviceSetWidget.h"

#include "RDLanguage.h"
#include "RDMessageBox.h"
#include "RDVolumeSlider.h"
#include "ZAVezeDeviceAuthSetDialog.h"
#include "ZAVezeDeviceBeepDialog.h"
#include "ZAVezeDeviceFirmwareSetDialog.h"
#include "ZAVezeDeviceFirmwareSetWidget.h"
#include "ZAVezeDeviceIPSetWidget.h"
#include "ZAVezeDeviceIpSetDialog.h"
#include "ZAVezeDeviceNameSetDialog.h"
#include "ZAVezeDeviceNameSetWidget.h"
#include "ZAVezeDeviceRebootDialog.h"
#include "ZAVezeDeviceRestoreDialog.h"
#include "ZAVezeDeviceRtpSetDialog.h"
#include "ZAVezeDeviceRtpSetWidget.h"
#include "ZAVezeDeviceSipSetDialog.h"
#include "ZAVezeDeviceSipSetWidget.h"
#include "ZAVezeDeviceSystemSetWidget.h"
#include "ZAVezeDeviceTableWidget.h"
#include "ZAVezeDeviceVolumeSetDialog.h"
#include "ZAVezeDeviceVolumeSetWidget.h"
#include "ZAVezeStaticAddressPlan.h"

#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>

namespace {

const QColor kWhite(255, 255, 255);
constexpr int kMargin = 10;

} // namespace

ZAVezeDeviceSetWidget::ZAVezeDeviceSetWidget(QWidget* parent)
    : RDWidget(parent)
    , m_name(new ZAVezeDeviceNameSetWidget(this))
    , m_ip(new ZAVezeDeviceIPSetWidget(this))
    , m_sip(new ZAVezeDeviceSipSetWidget(this))
    , m_rtp(new ZAVezeDeviceRtpSetWidget(this))
    , m_firmware(new ZAVezeDeviceFirmwareSetWidget(this))
    , m_volume(new ZAVezeDeviceVolumeSetWidget(this))
    , m_system(new ZAVezeDeviceSystemSetWidget(this))
{
    setBackgroundColor(kWhite);
    hideAllSetWidgets();
    connect(m_name->setButton(), &QPushButton::clicked, this, &ZAVezeDeviceSetWidget::onSetName);
    connect(m_name->setAllButton(), &QPushButton::clicked, this, &ZAVezeDeviceSetWidget::onSetAllName);
    connect(m_ip->setButton(), &QPushButton::clicked, this, &ZAVezeDeviceSetWidget::onSetIP);
    connect(m_ip->setAllButton(), &QPushButton::clicked, this, &ZAVezeDeviceSetWidget::onSetAllIP);
    connect(m_sip->setButton(), &QPushButton::clicked, this, &ZAVezeDeviceSetWidget::onSetSip);
    connect(m_sip->setAllButton(), &QPushButton::clicked, this, &ZAVezeDeviceSetWidget::onSetAllSip);
    connect(m_rtp->setButton(), &QPushButton::clicked, this, &ZAVezeDeviceSetWidget::onSetRtp);
    connect(m_rtp->setAllButton(), &QPushButton::clicked, this, &ZAVezeDeviceSetWidget::onSetAllRtp);
    connect(m_firmware->upgradeButton(), &QPushButton::clicked, this, &ZAVezeDeviceSetWidget::onSetUpgrade);
    connect(m_firmware->upgradeAllButton(), &QPushButton::clicked, this, &ZAVezeDeviceSetWidget::onSetAllUpgrade);
    connect(m_volume->audioTestButton(), &QPushButton::clicked, this, &ZAVezeDeviceSetWidget::onTestAudio);
    connect(m_volume->microphoneTestButton(), &QPushButton::clicked, this,
            &ZAVezeDeviceSetWidget::onTestMicrophone);
    connect(m_volume->setButton(), &QPushButton::clicked, this, &ZAVezeDeviceSetWidget::onSetVolume);
    connect(m_volume->setAllButton(), &QPushButton::clicked, this, &ZAVezeDeviceSetWidget::onSetAllVolume);
    connect(m_system->setButton(), &QPushButton::clicked, this, &ZAVezeDeviceSetWidget::onSetAuth);
    connect(m_system->setAllButton(), &QPushButton::clicked, this, &ZAVezeDeviceSetWidget::onSetAllAuth);
    connect(m_system->restoreButton(), &QPushButton::clicked, this, &ZAVezeDeviceSetWidget::onSetRestore);
    connect(m_system->restoreAllButton(), &QPushButton::clicked, this, &ZAVezeDeviceSetWidget::onSetAllRestore);
    connect(m_system->rebootButton(), &QPushButton::clicked, this, &ZAVezeDeviceSetWidget::onSetReboot);
    connect(m_system->rebootAllButton(), &QPushButton::clicked, this, &ZAVezeDeviceSetWidget::onSetAllReboot);
}

QVector<ZAVezeDeviceSectionWidget*> ZAVezeDeviceSetWidget::sections() const
{
    return {m_name, m_ip, m_sip, m_rtp, m_firmware, m_volume, m_system};
}

void ZAVezeDeviceSetWidget::localize()
{
    for (ZAVezeDeviceSectionWidget* section : sections())
        section->retranslate();
    relayout();
}

void ZAVezeDeviceSetWidget::setDevice(const ZAVezeDevice& device)
{
    m_device = device;
    for (ZAVezeDeviceSectionWidget* section : sections())
        section->setDevice(device);
}

// Section switching --------------------------------------------------------------------------

void ZAVezeDeviceSetWidget::hideAllSetWidgets()
{
    for (ZAVezeDeviceSectionWidget* section : sections())
        section->hide();
}

void ZAVezeDeviceSetWidget::showOnly(std::initializer_list<QWidget*> shown)
{
    hideAllSetWidgets();
    for (QWidget* section : shown)
        section->show();
    relayout();
}

void ZAVezeDeviceSetWidget::showNameSetWidget()
{
    if (m_name->isHidden())
        showOnly({m_name, m_ip});
}

void ZAVezeDeviceSetWidget::showIPSetWidget()
{
    if (m_ip->isHidden())
        showOnly({m_name, m_ip});
}

void ZAVezeDeviceSetWidget::showMacSetWidget()
{
    hideAllSetWidgets();
}

void ZAVezeDeviceSetWidget::showSipSetWidget()
{
    if (m_sip->isHidden())
        showOnly({m_sip});
}

void ZAVezeDeviceSetWidget::showRtpSetWidget()
{
    if (m_rtp->isHidden())
        showOnly({m_rtp});
}

void ZAVezeDeviceSetWidget::showFirmwareSetWidget()
{
    if (m_firmware->isHidden())
        showOnly({m_firmware});
}

void ZAVezeDeviceSetWidget::showVolumeSetWidget()
{
    if (m_volume->isHidden())
        showOnly({m_volume, m_system});
}

void ZAVezeDeviceSetWidget::showSystemSetWidget()
{
    if (m_system->isHidden())
        showOnly({m_volume, m_system});
}

void ZAVezeDeviceSetWidget::showSetWidgetsForColumn(int column)
{
    switch (column) {
    case ZAVezeDeviceTableWidget::NameColumn:
        showNameSetWidget();
        break;
    case ZAVezeDeviceTableWidget::MacColumn:
        showMacSetWidget();
        break;
    case ZAVezeDeviceTableWidget::IpColumn:
    case ZAVezeDeviceTableWidget::NetmaskColumn:
    case ZAVezeDeviceTableWidget::GatewayColumn:
        showIPSetWidget();
        break;
    case ZAVezeDeviceTableWidget::SipColumn:
        showSipSetWidget();
        break;
    case ZAVezeDeviceTableWidget::RtpColumn:
        showRtpSetWidget();
        break;
    case ZAVezeDeviceTableWidget::FirmwareColumn:
        showFirmwareSetWidget();
        break;
    case ZAVezeDeviceTableWidget::VolumeColumn:
        showVolumeSetWidget();
        break;
    case ZAVezeDeviceTableWidget::SystemColumn:
        showSystemSetWidget();
        break;
    default:
        hideAllSetWidgets();
        break;
    }
}

void ZAVezeDeviceSetWidget::resizeEvent(QResizeEvent* event)
{
    RDWidget::resizeEvent(event);
    relayout();
}

void ZAVezeDeviceSetWidget::relayout()
{
    // Sections report only a width; each takes the panel's height less the margins.
    int x = kMargin;
    for (ZAVezeDeviceSectionWidget* section : sections()) {
        if (section->isHidden())
            continue;
        const int width = section->sizeHint().width();
        section->setGeometry(x, kMargin, width, height() - 2 * kMargin);
        x += width + kMargin;
    }
}

// Messages and targets -------------------------------------------------------------------------

void ZAVezeDeviceSetWidget::inform(const char* text)
{
    informTranslated(RDLanguage::translate(QString::fromLatin1(text)));
}

void ZAVezeDeviceSetWidget::informTranslated(const QString& text)
{
    showInformationBox(text, RDLanguage::translate(QStringLiteral("OK")), RDLanguage::translate(QStringLiteral("Cancel")));
}

bool ZAVezeDeviceSetWidget::ask(const char* question, const char* yesCaption)
{
    return showInformationBox(RDLanguage::translate(QString::fromLatin1(question)),
                              RDLanguage::translate(QString::fromLatin1(yesCaption)),
                              RDLanguage::translate(QStringLiteral("Cancel")))
           == QMessageBox::Yes;
}

bool ZAVezeDeviceSetWidget::currentDevice(QVector<ZAVezeDevice>* devices) const
{
    // A click on a row past the last device leaves an empty record here: sending to it would
    // address a frame to no device at all.
    if (m_device.mac.isEmpty()) {
        inform("Please select device");
        return false;
    }
    *devices = {m_device};
    return true;
}

bool ZAVezeDeviceSetWidget::tickedDevices(QVector<ZAVezeDevice>* devices) const
{
    *devices = m_table ? m_table->checkedDevices() : QVector<ZAVezeDevice>();
    if (devices->isEmpty()) {
        inform("Please select device");
        return false;
    }
    return true;
}

template <typename Dialog, typename SetUp>
void ZAVezeDeviceSetWidget::runDialog(const SetUp& setUp)
{
    Dialog dialog(this, m_tool, m_table);
    setUp(dialog);
    dialog.exec();
}

// Name ------------------------------------------------------------------------------------------

void ZAVezeDeviceSetWidget::onSetName(bool)
{
    QVector<ZAVezeDevice> devices;
    if (m_name->nameField()->text().isEmpty())
        inform("Please input device name");
    else if (currentDevice(&devices))
        setNames(devices);
}

void ZAVezeDeviceSetWidget::onSetAllName(bool)
{
    QVector<ZAVezeDevice> devices;
    if (m_name->nameField()->text().isEmpty())
        inform("Please input device name");
    else if (tickedDevices(&devices))
        setNames(devices);
}

void ZAVezeDeviceSetWidget::setNames(const QVector<ZAVezeDevice>& devices)
{
    const QVector<QString> names(devices.size(), m_name->nameField()->text());
    runDialog<ZAVezeDeviceNameSetDialog>([&](ZAVezeDeviceNameSetDialog& d) { d.setDevices(devices, names); });
}

// Network ---------------------------------------------------------------------------------------

void ZAVezeDeviceSetWidget::onSetIP(bool)
{
    const QString missing = m_ip->missingInput();
    QVector<ZAVezeDevice> devices;
    if (!missing.isEmpty())
        informTranslated(missing);
    else if (currentDevice(&devices))
        setAddresses(devices);
}

void ZAVezeDeviceSetWidget::onSetAllIP(bool)
{
    const QString missing = m_ip->missingInput();
    QVector<ZAVezeDevice> devices;
    if (!missing.isEmpty())
        informTranslated(missing);
    else if (tickedDevices(&devices))
        setAddresses(devices);
}

void ZAVezeDeviceSetWidget::setAddresses(const QVector<ZAVezeDevice>& devices)
{
    const ZAVezeIpInfo typed = m_ip->ipInfo();
    if (typed.mode != QLatin1String("Static")) {
        runDialog<ZAVezeDeviceIpSetDialog>([&](ZAVezeDeviceIpSetDialog& d) { d.setDevicesDhcp(devices); });
        return;
    }
    // One device takes the address as typed. Several take consecutive host addresses of the
    // subnet, and none is sent at all when they would run out: two devices on one address,
    // or one on the broadcast address, would be unreachable afterwards.
    QVector<ZAVezeIpInfo> addresses{typed};
    if (devices.size() > 1 && !ZAVezeStaticAddressPlan::plan(typed, devices.size(), &addresses)) {
        inform("Not enough addresses");
        return;
    }
    runDialog<ZAVezeDeviceIpSetDialog>(
        [&](ZAVezeDeviceIpSetDialog& d) { d.setDevicesStatic(devices, addresses); });
}

// SIP and RTP -----------------------------------------------------------------------------------

void ZAVezeDeviceSetWidget::onSetSip(bool)
{
    QVector<ZAVezeDevice> devices;
    if (currentDevice(&devices))
        setSip(devices);
}

void ZAVezeDeviceSetWidget::onSetAllSip(bool)
{
    QVector<ZAVezeDevice> devices;
    if (tickedDevices(&devices))
        setSip(devices);
}

void ZAVezeDeviceSetWidget::setSip(const QVector<ZAVezeDevice>& devices)
{
    int line = 0;
    const QVector<ZAVezeSipInfo> settings(devices.size(), m_sip->sipInfo(&line));
    runDialog<ZAVezeDeviceSipSetDialog>(
        [&](ZAVezeDeviceSipSetDialog& d) { d.setDevices(devices, line, settings); });
}

void ZAVezeDeviceSetWidget::onSetRtp(bool)
{
    QVector<ZAVezeDevice> devices;
    if (currentDevice(&devices))
        setRtp(devices);
}

void ZAVezeDeviceSetWidget::onSetAllRtp(bool)
{
    QVector<ZAVezeDevice> devices;
    if (tickedDevices(&devices))
        setRtp(devices);
}

void ZAVezeDeviceSetWidget::setRtp(const QVector<ZAVezeDevice>& devices)
{
    const QVector<QString> list = m_rtp->rtpList();
    runDialog<ZAVezeDeviceRtpSetDialog>([&](ZAVezeDeviceRtpSetDialog& d) { d.setDevices(devices, list); });
}

// Firmware --------------------------------------------------------------------------------------

void ZAVezeDeviceSetWidget::onSetUpgrade(bool)
{
    QVector<ZAVezeDevice> devices;
    if (!QFile::exists(m_firmware->pathField()->text()))
        inform("Please select firmware file");
    else if (currentDevice(&devices))
        upgrade(devices);
}

void ZAVezeDeviceSetWidget::onSetAllUpgrade(bool)
{
    QVector<ZAVezeDevice> devices;
    if (!QFile::exists(m_firmware->pathField()->text()))
        inform("Please select firmware file");
    else if (tickedDevices(&devices))
        upgrade(devices);
}

void ZAVezeDeviceSetWidget::upgrade(const QVector<ZAVezeDevice>& devices)
{
    const QString path = m_firmware->pathField()->text();
    runDialog<ZAVezeDeviceFirmwareSetDialog>(
        [&](ZAVezeDeviceFirmwareSetDialog& d) { d.setDevices(devices, path); });
}

// Volume ----------------------------------------------------------------------------------------

void ZAVezeDeviceSetWidget::onTestAudio(bool)
{
    QVector<ZAVezeDevice> devices;
    if (currentDevice(&devices))
        runDialog<ZAVezeDeviceBeepDialog>([&](ZAVezeDeviceBeepDialog& d) { d.setDevice(devices.first()); });
}

void ZAVezeDeviceSetWidget::onTestMicrophone(bool)
{
    // The devices have no microphone test; its button stays hidden.
}

void ZAVezeDeviceSetWidget::onSetVolume(bool)
{
    QVector<ZAVezeDevice> devices;
    if (currentDevice(&devices))
        setVolume(devices);
}

void ZAVezeDeviceSetWidget::onSetAllVolume(bool)
{
    QVector<ZAVezeDevice> devices;
    if (tickedDevices(&devices))
        setVolume(devices);
}

void ZAVezeDeviceSetWidget::setVolume(const QVector<ZAVezeDevice>& devices)
{
    const int microphone = m_volume->microphoneSlider()->value();
    const int speaker = m_volume->speakerSlider()->value();
    const int autoMute = m_volume->autoOffBox()->isChecked() ? 1 : 0;
    runDialog<ZAVezeDeviceVolumeSetDialog>(
        [&](ZAVezeDeviceVolumeSetDialog& d) { d.setDevices(devices, microphone, speaker, autoMute); });
}

// System ----------------------------------------------------------------------------------------

const char* ZAVezeDeviceSetWidget::missingAuthInput() const
{
    if (m_system->usernameField()->text().isEmpty())
        return "Please input username";
    if (m_system->passwordField()->text().isEmpty())
        return "Please input password";
    return nullptr;
}

void ZAVezeDeviceSetWidget::onSetAuth(bool)
{
    QVector<ZAVezeDevice> devices;
    if (const char* missing = missingAuthInput())
        inform(missing);
    else if (currentDevice(&devices))
        setAuth(devices);
}

void ZAVezeDeviceSetWidget::onSetAllAuth(bool)
{
    QVector<ZAVezeDevice> devices;
    if (const char* missing = missingAuthInput())
        inform(missing);
    else if (tickedDevices(&devices))
        setAuth(devices);
}

void ZAVezeDeviceSetWidget::setAuth(const QVector<ZAVezeDevice>& devices)
{
    const QString username = m_system->usernameField()->text();
    const QString password = m_system->passwordField()->text();
    runDialog<ZAVezeDeviceAuthSetDialog>(
        [&](ZAVezeDeviceAuthSetDialog& d) { d.setDevices(devices, username, password); });
}

void ZAVezeDeviceSetWidget::onSetRestore(bool)
{
    QVector<ZAVezeDevice> devices;
    if (ask("Do you want to restore device", "Restore") && currentDevice(&devices))
        runDialog<ZAVezeDeviceRestoreDialog>([&](ZAVezeDeviceRestoreDialog& d) { d.setDevices(devices); });
}

void ZAVezeDeviceSetWidget::onSetAllRestore(bool)
{
    QVector<ZAVezeDevice> devices;
    if (ask("Do you want to restore devices", "Restore") && tickedDevices(&devices))
        runDialog<ZAVezeDeviceRestoreDialog>([&](ZAVezeDeviceRestoreDialog& d) { d.setDevices(devices); });
}

void ZAVezeDeviceSetWidget::onSetReboot(bool)
{
    QVector<ZAVezeDevice> devices;
    if (ask("Do you want to reboot device", "Reboot") && currentDevice(&devices))
        runDialog<ZAVezeDeviceRebootDialog>([&](ZAVezeDeviceRebootDialog& d) { d.setDevices(devices); });
}

void ZAVezeDeviceSetWidget::onSetAllReboot(bool)
{
    QVector<ZAVezeDevice> devices;
    if (ask("Do you want to reboot devices", "Reboot") && tickedDevices(&devices))
        runDialog<ZAVezeDeviceRebootDialog>([&](ZAVezeDeviceRebootDialog& d) { d.setDevices(devices); });
}
