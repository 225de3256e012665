#include "PlaylistItemWidget.h"

#include "RDDurationCache.h"
#include "RDLabel.h"
#include "RDQtUtils.h"

#include <QFileInfo>

namespace {

const QColor kPlaying(255, 0, 0);
const QColor kMissing(102, 102, 102);
const QColor kNormal(0, 0, 0);

} // namespace

PlaylistItemWidget::PlaylistItemWidget(QWidget* parent)
    : RDWidget(parent)
    , m_nameLabel(new RDLabel(this))
    , m_durationLabel(new RDLabel(this))
{
    m_nameLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_durationLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    updateColors();
}

void PlaylistItemWidget::setPath(const QString& path)
{
    m_path = path;
    m_nameLabel->setText(fileName(path));
    m_missing = !QFileInfo::exists(path);
    if (m_missing) {
        m_durationLabel->setText(formatTime(-1.0));
    } else {
        const double seconds = RDDurationCache::instance()->duration(path);
        m_durationLabel->setText(seconds < 0.0 ? QString() : formatTime(seconds));
    }
    updateColors();
    relayout();
}

void PlaylistItemWidget::setDuration(double seconds)
{
    m_durationLabel->setText(formatTime(seconds));
}

void PlaylistItemWidget::setPlaying(bool playing)
{
    m_playing = playing;
    updateColors();
}

void PlaylistItemWidget::setTexts(const QString& name, const QString& duration)
{
    m_nameLabel->setText(name);
    m_durationLabel->setText(duration);
}

void PlaylistItemWidget::updateColors()
{
    const QColor color = m_playing ? kPlaying : (m_missing ? kMissing : kNormal);
    m_nameLabel->setTextColor(color);
    m_durationLabel->setTextColor(color);
}

void PlaylistItemWidget::resizeEvent(QResizeEvent* event)
{
    RDWidget::resizeEvent(event);
    relayout();
}

void PlaylistItemWidget::relayout()
{
    const int w = width();
    const int y = (height() - 20) / 2;
    m_nameLabel->setGeometry(10, y, static_cast<int>((w - 30) * 0.8), 20);
    const int nameRight = m_nameLabel->geometry().right();
    m_durationLabel->setGeometry(nameRight + 10, y, w - nameRight - 20, 20);
}
