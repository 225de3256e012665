#include "RtpInfoWidget.h"

#include "RDAudioDevice.h"
#include "RDButton.h"
#include "RDDecimal.h"
#include "RDIpv4.h"
#include "RDLabel.h"
#include "RDLanguage.h"
#include "RDPixmapCache.h"
#include "RtpCodec.h"
#include "RtpInfoBellWidget.h"
#include "RtpInfoDeviceWidget.h"
#include "RtpInfoHttpDialog.h"
#include "RtpInfoPlaylistWidget.h"
#include "RtpInfoScheduleDialog.h"
#include "RtpInfoSipDialog.h"
#include "RtpInfoStreamWidget.h"
#include "RtpManager.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QTabWidget>

#include <algorithm>

namespace {

constexpr int kRowHeight = 25;
constexpr int kRowGap = 10;
constexpr int kEditorGap = 60;
constexpr int kEditWidth = 300;
constexpr int kComboExtra = 20;
constexpr int kSummaryGap = 5;
constexpr int kButtonMinWidth = 150;
constexpr int kButtonHeight = 30;
constexpr int kButtonBottomGap = 50;
constexpr int kEditPixmapWidth = 16;

const QColor kEnabledSummary(33, 150, 243, 240);
const QColor kPlainSummary(0, 0, 0, 255);

// The codec combo's rows; item texts are codec names and stay untranslated.
struct CodecRow
{
    const char* text;
    int codec;
};
const CodecRow kCodecRows[] = {
    {"MP3", RtpCodec::kIndexMp3},         {"G722", RtpCodec::kIndexG722},
    {"PCMU", RtpCodec::kIndexPcmu},       {"PCMA", RtpCodec::kIndexPcma},
    {"L16 Mono", RtpCodec::kIndexL16Mono}, {"L16 Stereo", RtpCodec::kIndexL16Stereo},
};

// The source tabs: title and the source kind each stands for.
struct SourceTab
{
    const char* title;
    int source;
};
const SourceTab kSourceTabs[RtpInfoWidget::kTabCount] = {
    {"Audio Medias", RtpInfo::kSourcePlaylist},
    {"Audio Source", RtpInfo::kSourceDevice},
    {"Live Radio", RtpInfo::kSourceStream},
    {"Bell Ringing", RtpInfo::kSourceBell},
};

// The tab a running channel shows: by the kind it sends; a SIP call (or a kind no tab stands
// for) leaves the tab as it is (-1).
int tabOfRunning(int startedSource)
{
    if (startedSource & RtpInfo::kSourceSip)
        return -1;
    for (int tab = 0; tab < RtpInfoWidget::kTabCount; ++tab) {
        if (startedSource & kSourceTabs[tab].source)
            return tab;
    }
    return -1;
}

const char* const kAddressPattern =
    "\\b(?:(?:25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)\\.){3}(?:25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?):[0-9]{1,5}\\b";

// A whole "a.b.c.d:port" that the validator accepts, with a port a socket can send to.
bool addressAcceptable(const QLineEdit* edit)
{
    if (!edit->hasAcceptableInput())
        return false;
    const QString text = edit->text();
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    return colon > 0 && isIpv4(text.left(colon).toStdString()) && parsePort(text.mid(colon + 1).toStdString()) > 0;
}

// Whether a fill of the record already shown must leave the edit alone: the operator is typing
// in it and has not finished (finishing stores the text and clears the mark).
bool typing(const QLineEdit* edit, bool sameRecord)
{
    return sameRecord && edit->hasFocus() && edit->isModified();
}

QString translated(const char* text)
{
    return RDLanguage::translate(QString::fromLatin1(text));
}

RDButton* makeEditButton(QWidget* parent)
{
    auto* button = new RDButton(parent);
    button->setCheckedPixmaps(cachedPixmap(QStringLiteral(":/edit.png"), kEditPixmapWidth),
                              cachedPixmap(QStringLiteral(":/edit_selected.png"), kEditPixmapWidth));
    button->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return button;
}

RDLabel* makeLabel(QWidget* parent)
{
    auto* label = new RDLabel(parent);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return label;
}

} // namespace

RtpInfoWidget::RtpInfoWidget(QWidget* parent)
    : RDWidget(parent)
{
    createChildren();
    connectChildren();
    localize();
}

RtpInfoWidget::~RtpInfoWidget()
{
    // Hiding a shown form on its way out takes the focus from an edit, which reports the edit
    // finished: no slot of this half-destroyed object may answer.
    for (QObject* child : findChildren<QObject*>())
        disconnect(child, nullptr, this, nullptr);
}

void RtpInfoWidget::createChildren()
{
    m_nameLabel = makeLabel(this);
    m_nameEdit = new QLineEdit(this);
    m_addressLabel = makeLabel(this);
    m_addressEdit = new QLineEdit(this);
    m_codecLabel = makeLabel(this);
    m_codecCombo = new QComboBox(this);
    m_scheduleTitle = makeLabel(this);
    m_scheduleButton = makeEditButton(this);
    m_scheduleLabel = makeLabel(this);
    m_sipTitle = makeLabel(this);
    m_sipButton = makeEditButton(this);
    m_sipLabel = makeLabel(this);
    m_httpTitle = makeLabel(this);
    m_httpButton = makeEditButton(this);
    m_tabWidget = new QTabWidget(this);
    m_playlistWidget = new RtpInfoPlaylistWidget(this);
    m_deviceWidget = new RtpInfoDeviceWidget(this);
    m_streamWidget = new RtpInfoStreamWidget(this);
    m_bellWidget = new RtpInfoBellWidget(this);
    m_startButton = new QPushButton(this);
    m_saveButton = new QPushButton(this);

    for (const CodecRow& row : kCodecRows)
        m_codecCombo->addItem(QString::fromLatin1(row.text), row.codec);
    m_addressEdit->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QString::fromLatin1(kAddressPattern)), m_addressEdit));
    QWidget* const tabs[kTabCount] = {m_playlistWidget, m_deviceWidget, m_streamWidget, m_bellWidget};
    for (int tab = 0; tab < kTabCount; ++tab)
        m_tabWidget->addTab(tabs[tab], QString());
}

void RtpInfoWidget::connectChildren()
{
    connect(m_scheduleButton, &RDWidget::clicked, this, &RtpInfoWidget::onClickScheduleButton);
    connect(m_sipButton, &RDWidget::clicked, this, &RtpInfoWidget::onClickSipButton);
    connect(m_httpButton, &RDWidget::clicked, this, &RtpInfoWidget::onClickHttpButton);
    connect(m_tabWidget, &QTabWidget::currentChanged, this, &RtpInfoWidget::onSourceChanged);
    connect(m_nameEdit, &QLineEdit::editingFinished, this, &RtpInfoWidget::onNameEditFinished);
    connect(m_addressEdit, &QLineEdit::editingFinished, this, &RtpInfoWidget::onAddressEditFinished);
    connect(m_codecCombo, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &RtpInfoWidget::onCodecIndexChanged);
    connect(m_playlistWidget, &RtpInfoPlaylistWidget::playlistChanged, this, &RtpInfoWidget::onPlaylistChanged);
    connect(m_playlistWidget, &RtpInfoPlaylistWidget::requestSeekFile, this,
            &RtpInfoWidget::onPlaylistRequestSeekFile);
    connect(m_playlistWidget, &RtpInfoPlaylistWidget::requestChangeFile, this,
            &RtpInfoWidget::onPlaylistRequestChangeFile);
    connect(m_deviceWidget, &RtpInfoDeviceWidget::deviceChanged, this, &RtpInfoWidget::onDeviceChanged);
    connect(m_streamWidget, &RtpInfoStreamWidget::streamChanged, this, &RtpInfoWidget::onStreamChanged);
    connect(m_bellWidget, &RtpInfoBellWidget::bellChanged, this, &RtpInfoWidget::onBellChanged);
}

void RtpInfoWidget::localize()
{
    m_nameLabel->setText(translated("Zone Name"));
    m_addressLabel->setText(translated("Multicast IP"));
    m_codecLabel->setText(translated("Audio Codec"));
    m_scheduleTitle->setText(translated("Schedule"));
    m_sipTitle->setText(translated("SIP Trunk"));
    m_httpTitle->setText(translated("Http"));
    m_nameEdit->setPlaceholderText(translated("Please Input Zone Name"));
    m_addressEdit->setPlaceholderText(QStringLiteral("239.255.0.0:8000"));
    for (int tab = 0; tab < kTabCount; ++tab)
        m_tabWidget->setTabText(tab, translated(kSourceTabs[tab].title));
    m_playlistWidget->retranslate();
    m_streamWidget->urlEdit()->setPlaceholderText(translated("Please Input Stream Url"));
    m_bellWidget->localize();
    m_startButton->setText(translated("Start"));
    m_saveButton->setText(translated("Save"));
    relayout();
}

int RtpInfoWidget::codecOfRow(int row)
{
    return row >= 0 && row < static_cast<int>(std::size(kCodecRows)) ? kCodecRows[row].codec : kCodecRows[0].codec;
}

int RtpInfoWidget::rowOfCodec(int codec)
{
    for (int row = 0; row < static_cast<int>(std::size(kCodecRows)); ++row) {
        if (kCodecRows[row].codec == codec)
            return row;
    }
    return 0;
}

int RtpInfoWidget::sourceOfTab(int tab)
{
    return tab >= 0 && tab < kTabCount ? kSourceTabs[tab].source : kSourceTabs[kTabPlaylist].source;
}

int RtpInfoWidget::tabOfSource(int source)
{
    for (int tab = 0; tab < kTabCount; ++tab) {
        if (kSourceTabs[tab].source == source)
            return tab;
    }
    return kTabPlaylist;
}

void RtpInfoWidget::initRtpInfo(RtpInfo& info) const
{
    info.codec = RtpCodec::kIndexMp3;
    info.source = RtpInfo::kSourcePlaylist;
}

void RtpInfoWidget::setRtpInfo(const RtpInfo& info)
{
    m_filling = true;
    const bool sameRecord = info.isValid() && info.id == m_info.id;
    m_info = info;
    if (!typing(m_nameEdit, sameRecord))
        m_nameEdit->setText(info.name);
    if (!typing(m_addressEdit, sameRecord))
        m_addressEdit->setText(info.address);
    m_codecCombo->setCurrentIndex(rowOfCodec(info.codec));
    showSchedule();
    showSip();
    m_httpButton->setChecked(info.httpOutput != 0 || info.httpApi != 0);
    m_playlistWidget->setPlaylist(info.playlist, info.playingIndex, info.playingPosition, info.playingDuration,
                                  info.playingGetTime);
    m_deviceWidget->setDevices(RDAudioDevice::getAllDevices(), info.deviceId);
    if (!typing(m_streamWidget->urlEdit(), sameRecord))
        m_streamWidget->setStreamUrl(info.streamUrl);
    m_bellWidget->setBell(info.bellPath, info.bellLoopType, info.bellDuration, info.bellLoops);
    showRunning();
    relayout();
    m_filling = false;
}

void RtpInfoWidget::refreshRtpInfo(const RtpInfo& info)
{
    if (info.id != m_info.id) {
        setRtpInfo(info);
        return;
    }
    m_filling = true;
    m_info.startedSource = info.startedSource;
    m_info.startedType = info.startedType;
    m_info.playingIndex = info.playingIndex;
    m_info.playingGetTime = info.playingGetTime;
    m_info.playingPosition = info.playingPosition;
    m_info.playingDuration = info.playingDuration;
    // The rows as the operator has them: each of their edits is stored at once.
    m_playlistWidget->setPlaylist(m_playlistWidget->playlist(), info.playingIndex, info.playingPosition,
                                  info.playingDuration, info.playingGetTime);
    showSip();
    showRunning();
    relayout();
    m_filling = false;
}

void RtpInfoWidget::showSchedule()
{
    const bool enabled = m_info.schedule.status != 0;
    m_scheduleButton->setChecked(enabled);
    m_scheduleLabel->setText(m_info.schedule.startTimesText());
    m_scheduleLabel->setTextColor(enabled ? kEnabledSummary : kPlainSummary);
}

void RtpInfoWidget::showSip()
{
    const bool enabled = m_info.sip.status != 0;
    const QString address = m_info.sip.addressText();
    QString summary = address;
    if (enabled) {
        RtpManager* manager = RtpManager::instance();
        const QString state = manager ? manager->getSipStatusText(m_info.id) : QString();
        if (!address.isEmpty() && !state.isEmpty())
            summary = address + QLatin1Char('(') + state + QLatin1Char(')');
    }
    m_sipButton->setChecked(enabled);
    m_sipLabel->setText(summary);
    m_sipLabel->setTextColor(enabled ? kEnabledSummary : kPlainSummary);
}

void RtpInfoWidget::showRunning()
{
    const int running = m_info.startedSource;
    m_playlistWidget->setRunning(running);
    m_deviceWidget->setEditable(running == 0);
    m_streamWidget->setEditable(running == 0);
    m_bellWidget->setEditable(running == 0);
    if (running != 0) {
        const int tab = tabOfRunning(running);
        if (tab >= 0)
            m_tabWidget->setCurrentIndex(tab);
        m_startButton->setText(translated("Stop"));
    } else {
        m_tabWidget->setCurrentIndex(tabOfSource(m_info.source));
        m_startButton->setText(translated("Start"));
    }
}

void RtpInfoWidget::getRtpInfo(RtpInfo& out) const
{
    out = m_info;
    out.name = m_nameEdit->text();
    if (addressAcceptable(m_addressEdit))
        out.address = m_addressEdit->text();
    out.codec = m_codecCombo->currentData().toInt();
    out.playlist = m_playlistWidget->playlist();
    RDAudioDevice device;
    if (m_deviceWidget->markedDevice(&device)) {
        out.deviceId = device.id;
        out.deviceName = device.name;
        out.deviceType = device.kind;
    }
    out.streamUrl = m_streamWidget->streamUrl();
    out.bellPath = m_bellWidget->bellPath();
    out.bellLoopType = m_bellWidget->loopType();
    out.bellDuration = m_bellWidget->duration();
    out.bellLoops = m_bellWidget->loops();
    // The channel's own kind, not the tab a running source of another kind has brought up.
    out.source = sourceOfTab(tabOfSource(m_info.source));
}

void RtpInfoWidget::requestSave(bool update, bool schedule, bool sip)
{
    if (!m_filling)
        emit requestSaveRtpInfo(update, schedule, sip);
}

void RtpInfoWidget::onNameEditFinished()
{
    if (m_filling)
        return;
    // Typing that has been stored is no longer the operator's to protect from refreshes.
    m_nameEdit->setModified(false);
    m_info.name = m_nameEdit->text();
    requestSave(false, false, false);
}

void RtpInfoWidget::onAddressEditFinished()
{
    if (m_filling)
        return;
    if (!addressAcceptable(m_addressEdit)) {
        // A port beyond 65535 passes the pattern; the stored address stays, and shows again.
        m_addressEdit->setText(m_info.address);
        return;
    }
    m_addressEdit->setModified(false);
    m_info.address = m_addressEdit->text();
    requestSave(false, false, false);
}

void RtpInfoWidget::onCodecIndexChanged(int)
{
    if (m_filling)
        return;
    m_info.codec = m_codecCombo->currentData().toInt();
    requestSave(false, false, m_info.sip.status != 0);
}

void RtpInfoWidget::onSourceChanged()
{
    if (m_filling)
        return;
    m_info.source = sourceOfTab(m_tabWidget->currentIndex());
    requestSave(false, false, false);
}

void RtpInfoWidget::onPlaylistChanged()
{
    requestSave(false, false, false);
}

void RtpInfoWidget::onDeviceChanged()
{
    requestSave(false, false, false);
}

void RtpInfoWidget::onStreamChanged()
{
    if (!m_filling)
        m_streamWidget->urlEdit()->setModified(false);
    requestSave(false, false, false);
}

void RtpInfoWidget::onBellChanged()
{
    requestSave(false, false, false);
}

void RtpInfoWidget::onPlaylistRequestSeekFile(int index, double progress)
{
    RtpInfo info;
    getRtpInfo(info);
    emit requestSeekFile(info, index, progress);
}

void RtpInfoWidget::onPlaylistRequestChangeFile(int index)
{
    RtpInfo info;
    getRtpInfo(info);
    emit requestChangeFile(info, index);
}

void RtpInfoWidget::onClickScheduleButton()
{
    if (RtpInfoScheduleDialog::editRecord(m_info))
        requestSave(true, true, false);
}

void RtpInfoWidget::onClickSipButton()
{
    if (RtpInfoSipDialog::editRecord(m_info))
        requestSave(true, false, true);
}

void RtpInfoWidget::onClickHttpButton()
{
    if (RtpInfoHttpDialog::editRecord(m_info))
        requestSave(true, false, false);
}

void RtpInfoWidget::resizeEvent(QResizeEvent* event)
{
    RDWidget::resizeEvent(event);
    relayout();
}

void RtpInfoWidget::relayout()
{
    RDLabel* const labels[] = {m_nameLabel, m_addressLabel, m_codecLabel, m_scheduleTitle, m_sipTitle, m_httpTitle};
    int labelWidth = 0;
    for (RDLabel* label : labels)
        labelWidth = std::max(labelWidth, label->sizeHint().width());
    int top = 10;
    for (RDLabel* label : labels) {
        label->setGeometry(10, top, labelWidth, kRowHeight);
        top = label->geometry().bottom() + kRowGap;
    }
    const int editorLeft = m_nameLabel->geometry().right() + kEditorGap;
    m_nameEdit->setGeometry(editorLeft, m_nameLabel->y(), kEditWidth, kRowHeight);
    m_addressEdit->setGeometry(editorLeft, m_addressLabel->y(), kEditWidth, kRowHeight);
    m_codecCombo->setGeometry(editorLeft, m_codecLabel->y(), m_codecCombo->sizeHint().width() + kComboExtra,
                              kRowHeight);
    const std::pair<RDButton*, RDLabel*> buttonRows[] = {
        {m_scheduleButton, m_scheduleLabel}, {m_sipButton, m_sipLabel}, {m_httpButton, nullptr}};
    RDLabel* const buttonTitles[] = {m_scheduleTitle, m_sipTitle, m_httpTitle};
    for (int i = 0; i < 3; ++i) {
        RDButton* button = buttonRows[i].first;
        const int y = buttonTitles[i]->y();
        button->setGeometry(editorLeft, y, button->sizeHint().width(), kRowHeight);
        if (RDLabel* summary = buttonRows[i].second)
            summary->setGeometry(button->geometry().right() + 1 + kSummaryGap, y, summary->sizeHint().width(),
                                 kRowHeight);
    }

    const int buttonTop = height() - kButtonBottomGap;
    const int saveWidth = std::max(kButtonMinWidth, m_saveButton->sizeHint().width());
    if (m_startButton->isVisibleTo(this)) {
        const int startWidth = std::max(kButtonMinWidth, m_startButton->sizeHint().width());
        const int half = width() / 2;
        m_startButton->setGeometry((half - startWidth) / 2, buttonTop, startWidth, kButtonHeight);
        m_saveButton->setGeometry(half + (width() - half - saveWidth) / 2, buttonTop, saveWidth, kButtonHeight);
    } else {
        m_startButton->setGeometry(QRect());
        m_saveButton->setGeometry((width() - saveWidth) / 2, buttonTop, saveWidth, kButtonHeight);
    }
    const int httpBottom = m_httpTitle->geometry().bottom();
    m_tabWidget->setGeometry(10, httpBottom + 20, width() - 20, m_saveButton->y() - httpBottom - 40);
}
