#include "ZAVezeDeviceNameSetWidget.h"

#include "RDLabel.h"
#include "ZAVezeDevice.h"

#include <QLineEdit>
#include <QPushButton>

ZAVezeDeviceNameSetWidget::ZAVezeDeviceNameSetWidget(QWidget* parent)
    : ZAVezeDeviceSectionWidget(parent)
    , m_nameLabel(addLabel())
    , m_name(addField(kMaxNameLength))
    , m_set(addButton())
    , m_setAll(addButton())
{
    retranslate();
}

void ZAVezeDeviceNameSetWidget::retranslate()
{
    setTranslatedText(titleLabel(), "Name Settings");
    setTranslatedText(m_nameLabel, "Device Name");
    setTranslatedText(m_set, "Set");
    setTranslatedText(m_setAll, "Set All");
    relayout();
}

void ZAVezeDeviceNameSetWidget::setDevice(const ZAVezeDevice& device)
{
    m_name->setText(device.name());
    ZAVezeDeviceSectionWidget::setDevice(device);
}

QSize ZAVezeDeviceNameSetWidget::sizeHint() const
{
    return QSize(textWidth(m_nameLabel, m_nameLabel->text()) + 210, 0);
}

void ZAVezeDeviceNameSetWidget::placeControls(int rowsTop)
{
    placeRow(m_nameLabel, m_name, frameRect().left() + 10, textWidth(m_nameLabel, m_nameLabel->text()), rowsTop);
    placeButtonPair(m_set, m_setAll, height() - 55);
}
