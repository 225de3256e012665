#include "RtpInfoStreamWidget.h"

#include "RDAudioPlayer.h"
#include "RDButton.h"
#include "RDLanguage.h"
#include "RDLog.h"
#include "RDMessageBox.h"
#include "RDPixmapCache.h"

#include <QLineEdit>
#include <QThread>

namespace {

constexpr int kButtonPixmapWidth = 18;
constexpr int kButtonSide = 20;
constexpr int kTop = 10;

} // namespace

RtpInfoStreamWidget::RtpInfoStreamWidget(QWidget* parent)
    : RDToast(parent)
{
    m_playButton = new RDButton(this);
    m_playButton->setCheckedPixmaps(
        cachedPixmap(QStringLiteral(":/play_single.png"), kButtonPixmapWidth),
        cachedPixmap(QStringLiteral(":/pause_single.png"), kButtonPixmapWidth));
    m_urlEdit = new QLineEdit(this);
    m_player.reset(new RDAudioPlayer);
    m_player->setObserver(this);

    connect(m_urlEdit, &QLineEdit::editingFinished, this, &RtpInfoStreamWidget::onEditFinished);
    connect(m_playButton, &RDWidget::clicked, this, &RtpInfoStreamWidget::onClickPlayButton);
}

RtpInfoStreamWidget::~RtpInfoStreamWidget()
{
    // The edit losing the focus as it goes must not report an edit of the tab being destroyed.
    m_urlEdit->disconnect(this);
    m_player->setObserver(nullptr);
    m_player->stop();
}

QString RtpInfoStreamWidget::streamUrl() const
{
    return m_urlEdit->text();
}

void RtpInfoStreamWidget::setStreamUrl(const QString& url)
{
    m_urlEdit->setText(url);
}

void RtpInfoStreamWidget::setEditable(bool editable)
{
    m_urlEdit->setEnabled(editable);
}

bool RtpInfoStreamWidget::isTesting() const
{
    return m_playButton->isChecked();
}

void RtpInfoStreamWidget::onEditFinished()
{
    emit streamChanged();
}

void RtpInfoStreamWidget::onClickPlayButton()
{
    if (m_player->isPlaying()) {
        // The player's own report of this stop would arrive after the button's new state (and
        // uncheck a test started right below); the button is set here instead.
        m_player->setObserver(nullptr);
        m_player->stop();
        m_player->setObserver(this);
        const bool testing = isTesting();
        updatePlayStatus(0);
        // A player whose station has ended still counts as playing until it is stopped; for
        // the operator the test is over, and the click starts a new one.
        if (testing)
            return;
    }
    const QString url = m_urlEdit->text();
    if (url.isEmpty()) {
        showInformationBox(RDLanguage::translate(QStringLiteral("Stream Url is Empty")),
                           RDLanguage::translate(QStringLiteral("OK")),
                           RDLanguage::translate(QStringLiteral("Cancel")));
        return;
    }
    m_player->setUrl(url);
    m_player->play();
    // Shown as playing before the player reports back: opening a station takes a while.
    updatePlayStatus(1);
}

void RtpInfoStreamWidget::updatePlayStatus(int status)
{
    if (QThread::currentThread() != thread()) {
        if (!QMetaObject::invokeMethod(this, "updatePlayStatus", Qt::QueuedConnection,
                                       Q_ARG(int, status)))
            RDLOG("cannot post updatePlayStatus");
        return;
    }
    m_playButton->setChecked(status == 1);
}

void RtpInfoStreamWidget::onPlayStarted(RDAudioPlayer*, const QString&)
{
    updatePlayStatus(1);
}

void RtpInfoStreamWidget::onPlayStopped(RDAudioPlayer*)
{
    updatePlayStatus(0);
}

void RtpInfoStreamWidget::onPlayFailed(RDAudioPlayer*)
{
    updatePlayStatus(0);
    showToast(RDLanguage::translate(QStringLiteral("Stream Play Failure")),
              Qt::AlignHCenter | Qt::AlignBottom, 5, 5);
}

void RtpInfoStreamWidget::onPlayEnded(RDAudioPlayer*)
{
    updatePlayStatus(0);
}

void RtpInfoStreamWidget::resizeEvent(QResizeEvent* event)
{
    RDToast::resizeEvent(event);
    m_playButton->setGeometry(5, kTop, kButtonSide, kButtonSide);
    const int right = m_playButton->geometry().right();
    m_urlEdit->setGeometry(right + 10, kTop, width() - right - 20, kButtonSide);
}
