#include "ZAVezeDeviceIPSetWidget.h"

#include "RDLabel.h"
#include "RDLanguage.h"
#include "ZAVezeDevice.h"
#include "ZAVezeDeviceTextWidget.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QLineEdit>
#include <QPushButton>
#include <QRegExp>
#include <QRegExpValidator>
#include <QSignalBlocker>

namespace {

const char* const kFieldCaptions[] = {"IP Address", "Netmask", "Gateway", "DNS1", "DNS2"};
const char* const kModeCaptions[] = {"DHCP", "Static"};

} // namespace

ZAVezeDeviceIPSetWidget::ZAVezeDeviceIPSetWidget(QWidget* parent)
    : ZAVezeDeviceSectionWidget(parent)
    , m_modeLabel(addLabel(kLeftLabelAlignment))
    , m_mode(new QComboBox(this))
{
    for (const char* mode : kModeCaptions)
        m_mode->addItem(QString(), QString::fromLatin1(mode));
    for (int i = 0; i < FieldCount; ++i) {
        m_labels.append(addLabel(kLeftLabelAlignment));
        QLineEdit* field = addField();
        const QRegExp address(QString::fromLatin1(ZAVezeDeviceTextWidget::kIpv4Expression));
        field->setValidator(new QRegExpValidator(address, field));
        m_fields.append(field);
    }
    m_set = addButton();
    m_setAll = addButton();
    connect(m_mode, SIGNAL(currentIndexChanged(int)), this, SLOT(onModeIndexChanged(int)));
    retranslate();
    updateModeFields();
}

void ZAVezeDeviceIPSetWidget::retranslate()
{
    setTranslatedText(titleLabel(), "Network Settings");
    setTranslatedText(m_modeLabel, "Mode");
    for (int i = 0; i < FieldCount; ++i)
        setTranslatedText(m_labels[i], kFieldCaptions[i]);
    for (int i = 0; i < m_mode->count(); ++i)
        m_mode->setItemText(i, RDLanguage::translate(QString::fromLatin1(kModeCaptions[i])));
    setTranslatedText(m_set, "Set");
    setTranslatedText(m_setAll, "Set All");
    relayout();
}

void ZAVezeDeviceIPSetWidget::setDevice(const ZAVezeDevice& device)
{
    {
        const QSignalBlocker blocker(m_mode);
        m_mode->setCurrentIndex(device.ipMode() == QLatin1String("Static") ? Static : Dhcp);
    }
    updateModeFields();
    m_fields[Ip]->setText(device.ipAddress());
    m_fields[Netmask]->setText(device.netmask());
    m_fields[Gateway]->setText(device.gateway());
    m_fields[Dns1]->setText(device.dns1());
    m_fields[Dns2]->setText(device.dns2());
    ZAVezeDeviceSectionWidget::setDevice(device);
}

ZAVezeIpInfo ZAVezeDeviceIPSetWidget::ipInfo() const
{
    ZAVezeIpInfo info;
    info.mode = m_mode->currentData().toString();
    info.ip = m_fields[Ip]->text();
    info.netmask = m_fields[Netmask]->text();
    info.gateway = m_fields[Gateway]->text();
    info.dns1 = m_fields[Dns1]->text();
    info.dns2 = m_fields[Dns2]->text();
    return info;
}

QString ZAVezeDeviceIPSetWidget::missingInput() const
{
    if (m_mode->currentData().toString() != QLatin1String("Static"))
        return QString();
    static const struct
    {
        Field field;
        bool optional;
        const char* message;
    } checks[] = {
        {Ip, false, "Please input ip address"},
        {Netmask, false, "Please input netmask"},
        {Gateway, false, "Please input gateway"},
        // The name servers may stay empty; what is typed there must still be an address.
        {Dns1, true, "Please input dns"},
        {Dns2, true, "Please input dns"},
    };
    for (const auto& check : checks) {
        const QLineEdit* field = m_fields[check.field];
        if (check.optional && field->text().isEmpty())
            continue;
        if (!field->hasAcceptableInput())
            return RDLanguage::translate(QString::fromLatin1(check.message));
    }
    return QString();
}

void ZAVezeDeviceIPSetWidget::onModeIndexChanged(int)
{
    updateModeFields();
}

void ZAVezeDeviceIPSetWidget::updateModeFields()
{
    const bool isStatic = m_mode->currentIndex() == Static;
    for (int i = 0; i < FieldCount; ++i) {
        m_labels[i]->setEnabled(isStatic);
        m_fields[i]->setEnabled(isStatic);
    }
}

int ZAVezeDeviceIPSetWidget::labelColumnWidth() const
{
    return qMax(textWidth(m_modeLabel, m_modeLabel->text()), widestLabel(m_labels));
}

QSize ZAVezeDeviceIPSetWidget::sizeHint() const
{
    // Sections report no height: the panel gives them its own.
    return QSize(labelColumnWidth() + 210, 0);
}

void ZAVezeDeviceIPSetWidget::placeControls(int rowsTop)
{
    const int labelLeft = frameRect().left() + 10;
    const int labelWidth = labelColumnWidth();
    int y = rowsTop;
    placeRow(m_modeLabel, m_mode, labelLeft, labelWidth, y);
    for (int i = 0; i < FieldCount; ++i) {
        y += kRowHeight + kRowGap;
        placeRow(m_labels[i], m_fields[i], labelLeft, labelWidth, y);
    }
    placeButtonPair(m_set, m_setAll, height() - 55);
}
