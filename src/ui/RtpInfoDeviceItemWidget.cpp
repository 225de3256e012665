#include "RtpInfoDeviceItemWidget.h"

#include "RDButton.h"
#include "RDPixmapCache.h"

namespace {

constexpr int kIconWidth = 16;
constexpr int kNameHeight = 20;
constexpr int kRowHintHeight = 20;

} // namespace

RtpInfoDeviceItemWidget::RtpInfoDeviceItemWidget(const RDAudioDevice& device, QWidget* parent)
    : RDWidget(parent)
    , m_device(device)
{
    m_markButton = new RDButton(this);
    m_markButton->setCheckedPixmaps(cachedPixmap(QStringLiteral(":/point_normal.png"), kIconWidth),
                                    cachedPixmap(QStringLiteral(":/point_selected.png"), kIconWidth));
    m_nameButton = new RDButton(this);
    m_nameButton->setText(device.name);
    m_nameButton->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_nameButton->setPixmap(cachedPixmap(device.kind != RDAudioDevice::kCapture
                                             ? QStringLiteral(":/speak_gray.png")
                                             : QStringLiteral(":/microphone_gray.png"),
                                         kIconWidth));
}

void RtpInfoDeviceItemWidget::setMarked(bool marked)
{
    m_markButton->setChecked(marked);
}

bool RtpInfoDeviceItemWidget::isMarked() const
{
    return m_markButton->isChecked();
}

QSize RtpInfoDeviceItemWidget::sizeHint() const
{
    return QSize(0, kRowHintHeight);
}

void RtpInfoDeviceItemWidget::resizeEvent(QResizeEvent* event)
{
    RDWidget::resizeEvent(event);
    m_markButton->setGeometry(2, (height() - kIconWidth) / 2, kIconWidth, kIconWidth);
    const int right = m_markButton->geometry().right();
    m_nameButton->setGeometry(right + 2, (height() - kNameHeight) / 2, width() - right - 4,
                              kNameHeight);
}
