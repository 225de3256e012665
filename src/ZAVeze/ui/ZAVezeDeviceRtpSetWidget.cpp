#include "ZAVezeDeviceRtpSetWidget.h"

#include "RDLabel.h"
#include "RDLanguage.h"
#include "ZAVezeDevice.h"
#include "ZAVezeRtpAddressValidator.h"

#include <QLineEdit>
#include <QPushButton>

namespace {

// Centred both ways (the flags as the labels have always been drawn).
constexpr int kRtpLabelAlignment = 133;
constexpr int kRowsPerColumn = ZAVezeDeviceRtpSetWidget::kFieldCount / 2;
const QColor kSeparatorColor(102, 102, 102, 15);

} // namespace

ZAVezeDeviceRtpSetWidget::ZAVezeDeviceRtpSetWidget(QWidget* parent)
    : ZAVezeDeviceSectionWidget(parent)
{
    deviceLabel()->setAlignment(Qt::AlignCenter);
    for (int i = 0; i < kFieldCount; ++i) {
        m_labels.append(addLabel(kRtpLabelAlignment));
        QLineEdit* field = addField();
        field->setValidator(new ZAVezeRtpAddressValidator(field));
        m_fields.append(field);
    }
    m_separator = new RDWidget(this);
    m_separator->setBackgroundColor(kSeparatorColor);
    m_set = addButton();
    m_setAll = addButton();
    retranslate();
}

void ZAVezeDeviceRtpSetWidget::retranslate()
{
    setTranslatedText(titleLabel(), "RTP Settings");
    const QString rtp = RDLanguage::translate(QStringLiteral("RTP"));
    for (int i = 0; i < kFieldCount; ++i)
        m_labels[i]->setText(QStringLiteral("%1%2").arg(rtp).arg(i + 1));
    setTranslatedText(m_set, "Set");
    setTranslatedText(m_setAll, "Set All");
    relayout();
}

void ZAVezeDeviceRtpSetWidget::setDevice(const ZAVezeDevice& device)
{
    for (int i = 0; i < kFieldCount; ++i)
        m_fields[i]->setText(i < device.rtp.size() ? device.rtp[i] : QString());
    ZAVezeDeviceSectionWidget::setDevice(device);
}

QVector<QString> ZAVezeDeviceRtpSetWidget::rtpList() const
{
    QVector<QString> list;
    for (const QLineEdit* field : m_fields)
        list.append(field->text());
    return list;
}

QSize ZAVezeDeviceRtpSetWidget::sizeHint() const
{
    return QSize(2 * widestLabel(m_labels) + 440, 0);
}

void ZAVezeDeviceRtpSetWidget::placeControls(int rowsTop)
{
    const QRect frame = frameRect();
    const int labelWidth = widestLabel(m_labels);
    const int leftColumn = frame.left() + 10;
    int leftFieldsRight = leftColumn;
    for (int i = 0; i < kRowsPerColumn; ++i)
        leftFieldsRight = placeRow(m_labels[i], m_fields[i], leftColumn, labelWidth,
                                   rowsTop + i * (kRowHeight + kRowGap));
    const int rightColumn = leftFieldsRight + 60;
    for (int i = kRowsPerColumn; i < kFieldCount; ++i)
        placeRow(m_labels[i], m_fields[i], rightColumn, labelWidth,
                 rowsTop + (i - kRowsPerColumn) * (kRowHeight + kRowGap));
    m_separator->setGeometry((leftFieldsRight + rightColumn) / 2, frame.top(), 1, frame.height());
    placeButtonPair(m_set, m_setAll, height() - 55);
}
