#include "ZAVezeDeviceSystemSetWidget.h"

#include "RDLabel.h"
#include "ZAVezeDevice.h"

#include <QLineEdit>
#include <QPushButton>

namespace {

// The three button pairs stack upwards from the bottom this far apart.
constexpr int kPairStep = 35;

} // namespace

ZAVezeDeviceSystemSetWidget::ZAVezeDeviceSystemSetWidget(QWidget* parent)
    : ZAVezeDeviceSectionWidget(parent)
    , m_usernameLabel(addLabel())
    , m_username(addField(kMaxAccountLength))
    , m_passwordLabel(addLabel())
    , m_password(addField(kMaxAccountLength))
    , m_set(addButton())
    , m_setAll(addButton())
    , m_restore(addButton())
    , m_restoreAll(addButton())
    , m_reboot(addButton())
    , m_rebootAll(addButton())
{
    retranslate();
}

void ZAVezeDeviceSystemSetWidget::retranslate()
{
    setTranslatedText(titleLabel(), "System Settings");
    setTranslatedText(m_usernameLabel, "Username");
    setTranslatedText(m_passwordLabel, "Password");
    setTranslatedText(m_set, "Set");
    setTranslatedText(m_setAll, "Set All");
    setTranslatedText(m_restore, "Restore");
    setTranslatedText(m_restoreAll, "Restore All");
    setTranslatedText(m_reboot, "Reboot");
    setTranslatedText(m_rebootAll, "Reboot All");
    relayout();
}

void ZAVezeDeviceSystemSetWidget::setDevice(const ZAVezeDevice& device)
{
    m_username->setText(device.account());
    ZAVezeDeviceSectionWidget::setDevice(device);
}

int ZAVezeDeviceSystemSetWidget::labelColumnWidth() const
{
    return widestLabel({m_usernameLabel, m_passwordLabel});
}

QSize ZAVezeDeviceSystemSetWidget::sizeHint() const
{
    return QSize(labelColumnWidth() + 210, 0);
}

void ZAVezeDeviceSystemSetWidget::placeControls(int rowsTop)
{
    const int labelLeft = frameRect().left() + 10;
    const int labelWidth = labelColumnWidth();
    placeRow(m_usernameLabel, m_username, labelLeft, labelWidth, rowsTop);
    placeRow(m_passwordLabel, m_password, labelLeft, labelWidth, rowsTop + kRowHeight + kRowGap);
    const int bottom = height() - 55;
    placeButtonPair(m_reboot, m_rebootAll, bottom);
    placeButtonPair(m_restore, m_restoreAll, bottom - kPairStep);
    placeButtonPair(m_set, m_setAll, bottom - 2 * kPairStep);
}
