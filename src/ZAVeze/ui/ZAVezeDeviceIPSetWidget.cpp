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

const QColor kFrameColor(102, 102, 102);
const QColor kWhite(255, 255, 255);
// Left-aligned and vertically centred.
constexpr int kLabelAlignment = Qt::AlignLeft | Qt::AlignVCenter;
constexpr int kRowHeight = 25;
constexpr int kRowGap = 5;
constexpr int kFieldWidth = 160;
constexpr int kButtonMinWidth = 100;

const char* const kFieldCaptions[] = {"IP Address", "Netmask", "Gateway", "DNS1", "DNS2"};
const char* const kModeCaptions[] = {"DHCP", "Static"};

int textWidth(const QWidget* widget, const QString& text)
{
    return QFontMetrics(widget->font()).horizontalAdvance(text);
}

void placeButton(QPushButton* button, int centreX, int y)
{
    const int width = qMax(kButtonMinWidth, textWidth(button, button->text()) + 20);
    button->setGeometry(centreX - width / 2, y, width, kRowHeight);
}

} // namespace

ZAVezeDeviceIPSetWidget::ZAVezeDeviceIPSetWidget(QWidget* parent)
    : RDWidget(parent)
    , m_frame(new RDWidget(this))
    , m_title(new RDLabel(this))
    , m_device(new RDLabel(this))
    , m_modeLabel(new RDLabel(this))
    , m_mode(new QComboBox(this))
    , m_set(new QPushButton(this))
    , m_setAll(new QPushButton(this))
{
    m_frame->setBorder(0, 2, kFrameColor);
    for (RDWidget* white : {static_cast<RDWidget*>(this), static_cast<RDWidget*>(m_title),
                            static_cast<RDWidget*>(m_device)})
        white->setBackgroundColor(kWhite);
    m_modeLabel->setAlignment(kLabelAlignment);
    for (const char* mode : kModeCaptions)
        m_mode->addItem(QString(), QString::fromLatin1(mode));
    for (int i = 0; i < FieldCount; ++i) {
        auto* label = new RDLabel(this);
        label->setAlignment(kLabelAlignment);
        auto* field = new QLineEdit(this);
        const QRegExp address(QString::fromLatin1(ZAVezeDeviceTextWidget::kIpv4Expression));
        field->setValidator(new QRegExpValidator(address, field));
        m_labels.append(label);
        m_fields.append(field);
    }
    // The buttons are raised above the frame, which is created first and would otherwise
    // take their clicks where they overlap its border.
    m_set->raise();
    m_setAll->raise();
    connect(m_mode, SIGNAL(currentIndexChanged(int)), this, SLOT(onModeIndexChanged(int)));
    retranslate();
    updateModeFields();
}

void ZAVezeDeviceIPSetWidget::retranslate()
{
    m_title->setText(RDLanguage::translate(QStringLiteral("Network Settings")));
    m_modeLabel->setText(RDLanguage::translate(QStringLiteral("Mode")));
    for (int i = 0; i < FieldCount; ++i)
        m_labels[i]->setText(RDLanguage::translate(QString::fromLatin1(kFieldCaptions[i])));
    for (int i = 0; i < m_mode->count(); ++i)
        m_mode->setItemText(i, RDLanguage::translate(QString::fromLatin1(kModeCaptions[i])));
    m_set->setText(RDLanguage::translate(QStringLiteral("Set")));
    m_setAll->setText(RDLanguage::translate(QStringLiteral("Set All")));
    relayout();
}

void ZAVezeDeviceIPSetWidget::setDevice(const ZAVezeDevice& device)
{
    m_device->setText(device.name());
    m_device->setToolTip(device.name());
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
    relayout();
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
    int widest = textWidth(m_modeLabel, m_modeLabel->text());
    for (const RDLabel* label : m_labels)
        widest = qMax(widest, textWidth(label, label->text()));
    return widest;
}

QSize ZAVezeDeviceIPSetWidget::sizeHint() const
{
    // Sections report no height: the panel gives them its own.
    return QSize(labelColumnWidth() + 210, 0);
}

void ZAVezeDeviceIPSetWidget::resizeEvent(QResizeEvent* event)
{
    RDWidget::resizeEvent(event);
    relayout();
}

void ZAVezeDeviceIPSetWidget::relayout()
{
    const int w = width();
    const int h = height();
    const QRect frame(10, 10, w - 20, h - 20);
    m_frame->setGeometry(frame);
    // The title sits across the frame's top border.
    const int titleWidth = textWidth(m_title, m_title->text()) + 10;
    m_title->setGeometry(frame.left() + 10, frame.top() - 10, titleWidth, 20);
    const int deviceLeft = m_title->geometry().right() + 20;
    const int deviceWidth = qMax(0, qMin(textWidth(m_device, m_device->text()) + 10,
                                         frame.right() - m_title->geometry().right() - 40));
    m_device->setGeometry(deviceLeft, frame.top() - 10, deviceWidth, 20);

    const int labelLeft = frame.left() + 10;
    const int labelWidth = labelColumnWidth();
    const int fieldLeft = labelLeft + labelWidth + 10;
    int y = m_title->geometry().bottom() + 1 + kRowGap;
    m_modeLabel->setGeometry(labelLeft, y, labelWidth, kRowHeight);
    m_mode->setGeometry(fieldLeft, y, kFieldWidth, kRowHeight);
    for (int i = 0; i < FieldCount; ++i) {
        y += kRowHeight + kRowGap;
        m_labels[i]->setGeometry(labelLeft, y, labelWidth, kRowHeight);
        m_fields[i]->setGeometry(fieldLeft, y, kFieldWidth, kRowHeight);
    }
    placeButton(m_set, w / 4, h - 55);
    placeButton(m_setAll, w * 3 / 4, h - 55);
}
