#pragma once

#include "RDAudioPlayerObserver.h"
#include "RDToast.h"

#include <QString>

#include <memory>

class QLineEdit;
class RDAudioPlayer;
class RDButton;

// The "Live Radio" tab of the channel form: the internet radio or stream URL a channel plays,
// and a play button that lets the operator listen to it on this PC first. The test runs on the
// preview player, apart from the channel's output; the player reports on its own threads, and
// every report reaches the tab through a queued call of updatePlayStatus (or of the toast), so
// the widgets are touched on the GUI thread only. A failed test shows "Stream Play Failure".
class RtpInfoStreamWidget : public RDToast, public RDAudioPlayerObserver
{
    Q_OBJECT
public:
    explicit RtpInfoStreamWidget(QWidget* parent = nullptr);
    // Leaves the player's observer list first, then stops it, so no report reaches the tab
    // being destroyed.
    ~RtpInfoStreamWidget() override;

    QString streamUrl() const;
    // Sets the URL edit without reporting a change.
    void setStreamUrl(const QString& url);
    // The URL edit only: the test stays usable while the channel runs.
    void setEditable(bool editable);
    bool isTesting() const;

    RDButton* playButton() const { return m_playButton; }
    QLineEdit* urlEdit() const { return m_urlEdit; }
    // The player, for the form's closing and for tests.
    RDAudioPlayer* player() const { return m_player.get(); }

    // RDAudioPlayerObserver, on the player's threads.
    void onPlayStarted(RDAudioPlayer* player, const QString& url) override;
    void onPlayStopped(RDAudioPlayer* player) override;
    void onPlayFailed(RDAudioPlayer* player) override;
    void onPlayEnded(RDAudioPlayer* player) override;

signals:
    void streamChanged();

public slots:
    void onEditFinished();
    void onClickPlayButton();
    // Checks the play button exactly for status 1; from another thread it re-posts itself.
    void updatePlayStatus(int status);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    RDButton* m_playButton = nullptr;
    QLineEdit* m_urlEdit = nullptr;
    std::unique_ptr<RDAudioPlayer> m_player;
};
