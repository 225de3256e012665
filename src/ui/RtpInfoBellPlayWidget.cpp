#include "RtpInfoBellPlayWidget.h"

#include "RDButton.h"
#include "RDPixmapCache.h"

namespace {

constexpr int kButtonSide = 20;

} // namespace

RtpInfoBellPlayWidget::RtpInfoBellPlayWidget(const QString& bell, QWidget* parent)
    : RDWidget(parent)
    , m_bell(bell)
{
    m_button = new RDButton(this);
    m_button->setCheckedPixmaps(cachedPixmap(QStringLiteral(":/play_single.png"), kButtonSide),
                                cachedPixmap(QStringLiteral(":/pause_single.png"), kButtonSide));
    m_button->resize(kButtonSide, kButtonSide);
    connect(this, &RDWidget::clicked, this, [this] { emit requestPlay(m_bell); });
}

void RtpInfoBellPlayWidget::setPlaying(bool playing)
{
    m_button->setChecked(playing);
}

bool RtpInfoBellPlayWidget::isPlaying() const
{
    return m_button->isChecked();
}

QSize RtpInfoBellPlayWidget::sizeHint() const
{
    return QSize(kButtonSide, kButtonSide);
}

void RtpInfoBellPlayWidget::resizeEvent(QResizeEvent* event)
{
    RDWidget::resizeEvent(event);
    m_button->move((width() - kButtonSide) / 2, (height() - kButtonSide) / 2);
}
