#pragma once

#include "RDDialog.h"
#include "RDLanguage.h"
#include "RtpInfo.h"
#include "RtpManagerObserver.h"

class RtpInfoListWidget;
class RtpInfoWidget;

// The operator's window for the channels ("zones"): the channel list on the left, the form of
// the selected channel on the right. It turns the requests of both into calls on the channel
// manager and keeps both current as the manager reports channels starting, changing and
// stopping. It holds no channel data of its own: the records live in the database behind the
// manager. Modeless and reused; the main window shows it and then calls reloadRtpInfos.
//
// Threads: every slot runs on the GUI thread. The manager calls the observer callbacks on its
// event thread with its observer lock held; they touch no widget and only post refreshRtpInfo,
// so they never wait for the GUI thread.
class RtpInfoDialog : public RDDialog, public RDLanguage, public RtpManagerObserver
{
    Q_OBJECT
public:
    static constexpr int kWidth = 700;
    static constexpr int kHeight = 700;
    static constexpr int kListWidth = 185;

    explicit RtpInfoDialog(QWidget* parent = nullptr);
    // Leaves the manager's observers (waiting for a callback in progress) first.
    ~RtpInfoDialog() override;

    // Rebuilds the list from the manager (the marked channel stays marked) and shows the marked
    // channel in the form (an empty record when there is none).
    void reloadRtpInfos();
    void localize();

    RtpInfoListWidget* listWidget() const { return m_list; }
    RtpInfoWidget* formWidget() const { return m_form; }

    // RtpManagerObserver, on the manager's event thread.
    void onRtpStarted(const RtpInfo& info) override;
    void onRtpStopped(const RtpInfo& info) override;
    void onRtpInfoChanged(const RtpInfo& info) override;

public slots:
    void addRtpInfo();
    void saveRtpInfo(bool update, bool schedule, bool sip);
    void topRtpInfo(RtpInfo rtpInfo);
    void deleteRtpInfo(RtpInfo rtpInfo);
    void startRtpInfo(RtpInfo rtpInfo);
    void stopRtpInfo(RtpInfo rtpInfo);
    void onClickRtpInfo(RtpInfo rtpInfo);
    void seekPlaylistFile(RtpInfo rtpInfo, int index, double progress);
    void changePlaylistFile(RtpInfo rtpInfo, int index);
    // From any thread: re-posted to the dialog's thread.
    void refreshAll();
    void refreshRtpInfo(int id);

protected:
    void resizeEvent(QResizeEvent* event) override;

private slots:
    void onClickStartButton();
    void onClickSaveButton();

private:
    // Stores the record and starts it by hand with its own source kind; a refused start is
    // logged and shown.
    void storeAndStart(const RtpInfo& info);
    void stopAll(const RtpInfo& info);
    void showSelected();

    RtpInfoListWidget* m_list;
    RtpInfoWidget* m_form;
};
