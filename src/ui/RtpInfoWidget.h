#pragma once

#include "RDWidget.h"
#include "RtpInfo.h"

class QComboBox;
class QLineEdit;
class QPushButton;
class QTabWidget;
class RDButton;
class RDLabel;
class RtpInfoBellWidget;
class RtpInfoDeviceWidget;
class RtpInfoPlaylistWidget;
class RtpInfoStreamWidget;

// The editor of one channel ("zone") in the channel editor: name, RTP address, codec, the
// schedule, SIP account and HTTP switches with their dialogs, and one tab per source kind. Every
// change is saved at once: the form emits requestSaveRtpInfo, and the editor reads the whole
// record back with getRtpInfo and stores it. Filling the form (setRtpInfo, refreshRtpInfo) never
// asks for a save, although it moves combos and tabs. GUI thread only.
//
// The shown record is the last one given; the codec, the source and the dialogs' results are
// written into it at once, the other settings stay in the child widgets until getRtpInfo reads
// them. The editor wires the Start/Stop and Save buttons itself.
class RtpInfoWidget : public RDWidget
{
    Q_OBJECT
public:
    // The source tabs, in order.
    enum Tab { kTabPlaylist = 0, kTabDevice = 1, kTabStream = 2, kTabBell = 3, kTabCount = 4 };

    explicit RtpInfoWidget(QWidget* parent = nullptr);
    ~RtpInfoWidget() override;

    // Shows a record whole.
    void setRtpInfo(const RtpInfo& info);
    // Shows what a running channel reports (running state, tab, Start/Stop, the playlist's
    // playing item, the SIP state) for the record already shown, leaving every setting the
    // operator may be editing as it is. A record of another id is shown whole.
    void refreshRtpInfo(const RtpInfo& info);
    // The record as edited. An address that is not a whole "a.b.c.d:port" with a port of
    // 1-65535, and a sound card list with no endpoint marked, leave the shown record's values.
    void getRtpInfo(RtpInfo& out) const;
    // The defaults of a new channel: MP3, playlist.
    void initRtpInfo(RtpInfo& info) const;
    void localize();

    // The codec index of a combo row and back (unknown indexes show row 0).
    static int codecOfRow(int row);
    static int rowOfCodec(int codec);
    // The source kind a tab stands for, and the tab that shows a source kind (tab 0 for kinds
    // outside 1, 6, 16, 32).
    static int sourceOfTab(int tab);
    static int tabOfSource(int source);

    QLineEdit* nameEdit() const { return m_nameEdit; }
    QLineEdit* addressEdit() const { return m_addressEdit; }
    QComboBox* codecCombo() const { return m_codecCombo; }
    RDButton* scheduleButton() const { return m_scheduleButton; }
    RDLabel* scheduleLabel() const { return m_scheduleLabel; }
    RDButton* sipButton() const { return m_sipButton; }
    RDLabel* sipLabel() const { return m_sipLabel; }
    RDButton* httpButton() const { return m_httpButton; }
    QTabWidget* tabWidget() const { return m_tabWidget; }
    RtpInfoPlaylistWidget* playlistWidget() const { return m_playlistWidget; }
    RtpInfoDeviceWidget* deviceWidget() const { return m_deviceWidget; }
    RtpInfoStreamWidget* streamWidget() const { return m_streamWidget; }
    RtpInfoBellWidget* bellWidget() const { return m_bellWidget; }
    QPushButton* startButton() const { return m_startButton; }
    QPushButton* saveButton() const { return m_saveButton; }
    const RtpInfo& shownRtpInfo() const { return m_info; }

signals:
    void requestSaveRtpInfo(bool update, bool schedule, bool sip);
    void requestSeekFile(RtpInfo rtpInfo, int index, double progress);
    void requestChangeFile(RtpInfo rtpInfo, int index);

public slots:
    void onNameEditFinished();
    void onAddressEditFinished();
    void onCodecIndexChanged(int index);
    void onSourceChanged();
    void onPlaylistChanged();
    void onDeviceChanged();
    void onStreamChanged();
    void onBellChanged();
    void onPlaylistRequestSeekFile(int index, double progress);
    void onPlaylistRequestChangeFile(int index);
    void onClickScheduleButton();
    void onClickSipButton();
    void onClickHttpButton();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void createChildren();
    void connectChildren();
    // The parts that follow the channel's running: the playlist's playing item, the enabled
    // controls, the tab and the Start/Stop text.
    void showRunning();
    void showSchedule();
    void showSip();
    void requestSave(bool update, bool schedule, bool sip);
    void relayout();

    RtpInfo m_info;
    bool m_filling = false;

    RDLabel* m_nameLabel = nullptr;
    QLineEdit* m_nameEdit = nullptr;
    RDLabel* m_addressLabel = nullptr;
    QLineEdit* m_addressEdit = nullptr;
    RDLabel* m_codecLabel = nullptr;
    QComboBox* m_codecCombo = nullptr;
    RDLabel* m_scheduleTitle = nullptr;
    RDButton* m_scheduleButton = nullptr;
    RDLabel* m_scheduleLabel = nullptr;
    RDLabel* m_sipTitle = nullptr;
    RDButton* m_sipButton = nullptr;
    RDLabel* m_sipLabel = nullptr;
    RDLabel* m_httpTitle = nullptr;
    RDButton* m_httpButton = nullptr;
    QTabWidget* m_tabWidget = nullptr;
    RtpInfoPlaylistWidget* m_playlistWidget = nullptr;
    RtpInfoDeviceWidget* m_deviceWidget = nullptr;
    RtpInfoStreamWidget* m_streamWidget = nullptr;
    RtpInfoBellWidget* m_bellWidget = nullptr;
    QPushButton* m_startButton = nullptr;
    QPushButton* m_saveButton = nullptr;
};
