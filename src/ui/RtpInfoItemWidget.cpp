#include "RtpInfoItemWidget.h"

#include "RDButton.h"
#include "RDLabel.h"
#include "RDPixmapCache.h"

#include <QFont>

namespace {

constexpr int kButtonWidth = 20;
constexpr int kIconWidth = 16;
constexpr int kNamePixelSize = 13;
constexpr int kNameHeight = 30;

// The sound card's two halves as startedSource carries them; RtpInfo::kSourceDevice is
// both together.
constexpr int kBitMicrophone = 2;
constexpr int kBitLoopback = 4;

// The source icon of a running channel: the first bit of startedSource found in this order
// decides. A SIP call is tested first, as its icon takes the trigger's place.
struct SourceIcon
{
    int bit;
    const char* path;
};
const SourceIcon kSourceIcons[] = {
    {RtpInfo::kSourceSip, ""},
    {RtpInfo::kSourcePlaylist, ":/media_gray.png"},
    {kBitMicrophone, ":/microphone_gray.png"},
    {kBitLoopback, ":/speak_gray.png"},
    {RtpInfo::kSourceStream, ":/stream_gray.png"},
    {RtpInfo::kSourceBell, ":/alarm_gray.png"},
};

const char* const kSipIcon = ":/sip.png";

QPixmap icon(const QString& path)
{
    return path.isEmpty() ? QPixmap() : cachedPixmap(path, kIconWidth);
}

} // namespace

const QColor RtpInfoItemWidget::kSelectedColor(33, 150, 243, 240);
const QColor RtpInfoItemWidget::kClearColor(255, 255, 255, 0);

RtpInfoItemWidget::RtpInfoItemWidget(QWidget* parent)
    : RDWidget(parent)
    , m_playButton(new RDButton(this))
    , m_nameLabel(new RDLabel(this))
    , m_triggerIcon(new RDButton(this))
    , m_sourceIcon(new RDButton(this))
{
    m_playButton->setCheckedPixmaps(cachedPixmap(QStringLiteral(":/play_style.png"), kButtonWidth),
                                    cachedPixmap(QStringLiteral(":/pause_style.png"), kButtonWidth));
    m_nameLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    QFont font = m_nameLabel->font();
    font.setPixelSize(kNamePixelSize);
    m_nameLabel->setFont(font);
    m_triggerIcon->setCursor(Qt::ArrowCursor);
    m_sourceIcon->setCursor(Qt::ArrowCursor);
    setBackgroundColor(kClearColor);
    connect(m_playButton, &RDWidget::clicked, this, &RtpInfoItemWidget::onClickStartButton);
}

QString RtpInfoItemWidget::triggerIconPath(const RtpInfo& info)
{
    if (info.startedSource == 0)
        return QString();
    if (info.startedSource & RtpInfo::kSourceSip)
        return QLatin1String(kSipIcon);
    switch (info.startedType) {
    case RtpInfo::kTriggerSip:
        return QLatin1String(kSipIcon);
    case RtpInfo::kTriggerSchedule:
        return QStringLiteral(":/clock.png");
    case RtpInfo::kTriggerHttp:
        return QStringLiteral(":/http.png");
    default:
        return QString();
    }
}

QString RtpInfoItemWidget::sourceIconPath(const RtpInfo& info)
{
    for (const SourceIcon& entry : kSourceIcons) {
        if (info.startedSource & entry.bit)
            return QLatin1String(entry.path);
    }
    return QString();
}

void RtpInfoItemWidget::setRtpInfo(const RtpInfo& info)
{
    m_info = info;
    m_playButton->setChecked(info.startedSource != 0);
    m_triggerIcon->setPixmap(icon(triggerIconPath(info)));
    m_sourceIcon->setPixmap(icon(sourceIconPath(info)));
    m_nameLabel->setText(info.name.isEmpty() ? info.address : info.name);
}

void RtpInfoItemWidget::setSelected(bool selected)
{
    m_selected = selected;
    setBackgroundColor(selected ? kSelectedColor : kClearColor);
}

void RtpInfoItemWidget::onClickStartButton()
{
    emit clickStartButton();
}

void RtpInfoItemWidget::resizeEvent(QResizeEvent* event)
{
    RDWidget::resizeEvent(event);
    m_playButton->setGeometry(5, (height() - kButtonWidth) / 2, kButtonWidth, kButtonWidth);
    const int iconTop = (height() - kIconWidth) / 2;
    m_sourceIcon->setGeometry(width() - 20, iconTop, kIconWidth, kIconWidth);
    m_triggerIcon->setGeometry(width() - 40, iconTop, kIconWidth, kIconWidth);
    const int nameLeft = m_playButton->geometry().right() + 5;
    const int nameRight = m_triggerIcon->x() - 5;
    m_nameLabel->setGeometry(nameLeft, (height() - kNameHeight) / 2, nameRight - nameLeft, kNameHeight);
}
