#include "RDQRCodeDialog.h"

#include "RDLabel.h"
#include "RDPixmapWidget.h"
#include "RDQRCode.h"

#include <QFontDatabase>

RDQRCodeDialog::RDQRCodeDialog(const QString& text, const QString& caption, QWidget* parent)
    : RDDialog(parent)
    , m_text(text)
    , m_caption(caption)
    , m_image(new RDPixmapWidget(this))
    , m_captionLabel(new RDLabel(this))
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setWeight(QFont::Bold);
    font.setPixelSize(18);
    m_captionLabel->setFont(font);
    m_captionLabel->setAlignment(Qt::AlignCenter);
    m_captionLabel->setText(m_caption);
    m_redrawTimer.setSingleShot(true);
    connect(&m_redrawTimer, &QTimer::timeout, this, &RDQRCodeDialog::updateQRCodeImage);
    setMinimumSize(400, 430);
    resize(400, 430);
}

RDQRCodeDialog::~RDQRCodeDialog() = default;

void RDQRCodeDialog::relayout()
{
    m_captionLabel->resize(m_captionLabel->sizeHint());
    const int band = m_captionLabel->height() + 20;
    m_captionLabel->setGeometry(0, height() - band, width(), band);
    m_image->setGeometry(0, 0, width(), height() - band);
}

void RDQRCodeDialog::resizeEvent(QResizeEvent* event)
{
    RDDialog::resizeEvent(event);
    relayout();
    if (m_redrawTimer.isActive())
        m_redrawTimer.stop();
    m_redrawTimer.start(kRedrawDelayMs);
}

void RDQRCodeDialog::updateQRCodeImage()
{
    const int available = height() - m_captionLabel->height();
    const int side = std::min(width(), available) - 20;
    const QImage image = createQRCodeImage(m_text, width(), available, side);
    m_image->setPixmap(QPixmap::fromImage(image));
    ++m_drawCount;
    if (m_redrawTimer.isActive())
        m_redrawTimer.stop();
}
