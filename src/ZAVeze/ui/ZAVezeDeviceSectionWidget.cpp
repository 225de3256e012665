#include "ZAVezeDeviceSectionWidget.h"

#include "RDLabel.h"
#include "RDLanguage.h"
#include "ZAVezeDevice.h"

#include <QFontMetrics>
#include <QLineEdit>
#include <QPushButton>

namespace {

const QColor kFrameColor(102, 102, 102);
const QColor kWhite(255, 255, 255);
constexpr int kTitleHeight = 20;
constexpr int kButtonMinWidth = 100;
constexpr int kButtonPadding = 20;

} // namespace

ZAVezeDeviceSectionWidget::ZAVezeDeviceSectionWidget(QWidget* parent)
    : RDWidget(parent)
    , m_frame(new RDWidget(this))
    , m_title(new RDLabel(this))
    , m_device(new RDLabel(this))
{
    m_frame->setBorder(0, 2, kFrameColor);
    setBackgroundColor(kWhite);
    m_title->setBackgroundColor(kWhite);
    m_device->setBackgroundColor(kWhite);
}

void ZAVezeDeviceSectionWidget::setDevice(const ZAVezeDevice& device)
{
    m_deviceName = device.name();
    m_device->setToolTip(m_deviceName);
    relayout();
}

int ZAVezeDeviceSectionWidget::textWidth(const QWidget* widget, const QString& text)
{
    return QFontMetrics(widget->font()).horizontalAdvance(text);
}

int ZAVezeDeviceSectionWidget::widestLabel(const QVector<RDLabel*>& labels)
{
    int widest = 0;
    for (const RDLabel* label : labels)
        widest = qMax(widest, textWidth(label, label->text()));
    return widest;
}

int ZAVezeDeviceSectionWidget::buttonWidth(const QPushButton* button)
{
    return qMax(kButtonMinWidth, textWidth(button, button->text()) + kButtonPadding);
}

QRect ZAVezeDeviceSectionWidget::frameRect() const
{
    return QRect(10, 10, width() - 20, height() - 20);
}

void ZAVezeDeviceSectionWidget::resizeEvent(QResizeEvent* event)
{
    RDWidget::resizeEvent(event);
    relayout();
}

void ZAVezeDeviceSectionWidget::relayout()
{
    const QRect frame = frameRect();
    m_frame->setGeometry(frame);
    // The title sits across the frame's top border, the device name 20 px to its right, cut
    // short before it would reach the frame's right edge.
    const int titleWidth = textWidth(m_title, m_title->text()) + 10;
    m_title->setGeometry(frame.left() + 10, frame.top() - 10, titleWidth, kTitleHeight);
    const int titleRight = m_title->geometry().right();
    const int wholeWidth = textWidth(m_device, m_deviceName) + 10;
    const int room = frame.right() - titleRight - 40;
    const int deviceWidth = qMax(0, qMin(wholeWidth, room));
    m_device->setGeometry(titleRight + 20, frame.top() - 10, deviceWidth, kTitleHeight);
    // Widths in whole pixels are rounded: a name that fits is never shortened by the rounding.
    m_device->setText(wholeWidth <= room ? m_deviceName
                                         : QFontMetrics(m_device->font())
                                               .elidedText(m_deviceName, Qt::ElideRight, deviceWidth - 10));
    placeControls(m_title->geometry().bottom() + 1 + kRowGap);
}

int ZAVezeDeviceSectionWidget::placeRow(QWidget* label, QWidget* field, int x, int labelWidth, int y, int fieldWidth)
{
    label->setGeometry(x, y, labelWidth, kRowHeight);
    const int fieldLeft = x + labelWidth + 10;
    field->setGeometry(fieldLeft, y, fieldWidth, kRowHeight);
    return fieldLeft + fieldWidth;
}

void ZAVezeDeviceSectionWidget::placeButton(QPushButton* button, int centreX, int y)
{
    const int width = buttonWidth(button);
    button->setGeometry(centreX - width / 2, y, width, kRowHeight);
}

void ZAVezeDeviceSectionWidget::placeButtonPair(QPushButton* first, QPushButton* second, int y)
{
    placeButton(first, width() / 4, y);
    placeButton(second, width() * 3 / 4, y);
}

RDLabel* ZAVezeDeviceSectionWidget::addLabel(int alignment)
{
    auto* label = new RDLabel(this);
    label->setAlignment(alignment);
    return label;
}

QLineEdit* ZAVezeDeviceSectionWidget::addField(int maxLength)
{
    auto* field = new QLineEdit(this);
    if (maxLength > 0)
        field->setMaxLength(maxLength);
    return field;
}

QPushButton* ZAVezeDeviceSectionWidget::addButton()
{
    return new QPushButton(this);
}

void ZAVezeDeviceSectionWidget::setTranslatedText(RDLabel* label, const char* text)
{
    label->setText(RDLanguage::translate(QString::fromLatin1(text)));
}

void ZAVezeDeviceSectionWidget::setTranslatedText(QPushButton* button, const char* text)
{
    button->setText(RDLanguage::translate(QString::fromLatin1(text)));
}
