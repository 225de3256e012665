#include "ZAVezeDeviceSipSetWidget.h"

#include "RDLabel.h"
#include "RDLanguage.h"
#include "RDVolumeValidator.h"
#include "ZAVezeDevice.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>

namespace {

const QColor kSeparatorColor(102, 102, 102, 15);
const QColor kFocusInColor(102, 102, 102);
const QColor kFocusOutColor(53, 141, 0);
const char* const kFieldCaptions[] = {"Username",    "Auth ID",     "Password",     "Display Name", "Server Host",
                                      "Server Port", "Expire Time", "Proxy Server", "Proxy Port"};
// The proxy items go to the device as they stand, so they are never translated.
const char* const kProxyItems[] = {"Enable", "Disable"};

// Its text and some room, but never less than the list needs to show its widest item beside
// the arrow.
int listWidth(const QComboBox* list)
{
    return qMax(ZAVezeDeviceSectionWidget::textWidth(list, list->currentText()) + 20, list->sizeHint().width());
}

} // namespace

ZAVezeDeviceSipSetWidget::ZAVezeDeviceSipSetWidget(QWidget* parent)
    : ZAVezeDeviceSectionWidget(parent)
    , m_accountLabel(addLabel(kLeftLabelAlignment))
    , m_account(new QComboBox(this))
{
    m_account->addItem(QString());
    m_account->addItem(QString());
    auto* number = new RDVolumeValidator(this);
    number->setRange(1, 65535);
    m_numberValidator = number;
    // The Outbound Proxy row stands between Expire Time and Proxy Server.
    for (int i = 0; i < FieldCount; ++i) {
        if (i == ProxyServer) {
            m_proxyLabel = addLabel(kLeftLabelAlignment);
            m_proxy = new QComboBox(this);
            for (const char* item : kProxyItems)
                m_proxy->addItem(QString::fromLatin1(item), QString::fromLatin1(item));
        }
        m_labels.append(addLabel(kLeftLabelAlignment));
        QLineEdit* field = addField();
        if (i == ServerPort || i == ExpireTime || i == ProxyPort)
            field->setValidator(m_numberValidator);
        m_fields.append(field);
    }
    m_separator = new RDWidget(this);
    m_separator->setBackgroundColor(kSeparatorColor);
    m_set = addButton();
    m_setAll = addButton();
    connect(m_account, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &ZAVezeDeviceSipSetWidget::onIdIndexChanged);
    connect(m_proxy, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &ZAVezeDeviceSipSetWidget::onProxyIndexChanged);
    updateProxyFields();
    retranslate();
}

void ZAVezeDeviceSipSetWidget::retranslate()
{
    setTranslatedText(titleLabel(), "SIP Settings");
    setTranslatedText(m_accountLabel, "SIP Account");
    const QString account = RDLanguage::translate(QStringLiteral("Account"));
    for (int i = 0; i < m_account->count(); ++i)
        m_account->setItemText(i, QStringLiteral("%1%2").arg(account).arg(i + 1));
    for (int i = 0; i < FieldCount; ++i)
        setTranslatedText(m_labels[i], kFieldCaptions[i]);
    setTranslatedText(m_proxyLabel, "Outbound Proxy");
    setTranslatedText(m_set, "Set");
    setTranslatedText(m_setAll, "Set All");
    relayout();
}

void ZAVezeDeviceSipSetWidget::setDevice(const ZAVezeDevice& device)
{
    for (int i = 0; i < 2; ++i)
        m_lines[i] = i < device.sip.size() ? device.sip[i] : ZAVezeSipInfo();
    {
        const QSignalBlocker blocker(m_account);
        m_account->setCurrentIndex(0);
    }
    showSipLine(m_lines[0]);
    ZAVezeDeviceSectionWidget::setDevice(device);
}

void ZAVezeDeviceSipSetWidget::showSipLine(const ZAVezeSipInfo& line)
{
    m_fields[Username]->setText(line.account);
    m_fields[AuthId]->setText(line.authName);
    m_fields[Password]->setText(line.password);
    m_fields[DisplayName]->setText(line.displayName);
    m_fields[ServerHost]->setText(line.serverHost);
    m_fields[ServerPort]->setText(line.serverPort);
    m_fields[ExpireTime]->setText(line.expires);
    m_fields[ProxyServer]->setText(line.proxyHost);
    m_fields[ProxyPort]->setText(line.proxyPort);
    {
        const QSignalBlocker blocker(m_proxy);
        m_proxy->setCurrentIndex(line.proxyStatus == QLatin1String("Enable") ? ProxyEnable : ProxyDisable);
    }
    updateProxyFields();
}

ZAVezeSipInfo ZAVezeDeviceSipSetWidget::sipInfo(int* line) const
{
    ZAVezeSipInfo info;
    info.account = m_fields[Username]->text();
    info.authName = m_fields[AuthId]->text();
    info.password = m_fields[Password]->text();
    info.displayName = m_fields[DisplayName]->text();
    info.serverHost = m_fields[ServerHost]->text();
    info.serverPort = m_fields[ServerPort]->text();
    info.expires = m_fields[ExpireTime]->text();
    info.proxyStatus = m_proxy->currentData().toString();
    info.proxyHost = m_fields[ProxyServer]->text();
    info.proxyPort = m_fields[ProxyPort]->text();
    if (line)
        *line = m_account->currentIndex() == 0 ? 0 : 1;
    return info;
}

void ZAVezeDeviceSipSetWidget::onIdIndexChanged(int index)
{
    showSipLine(m_lines[index == 1 ? 1 : 0]);
}

void ZAVezeDeviceSipSetWidget::onProxyIndexChanged(int)
{
    updateProxyFields();
}

void ZAVezeDeviceSipSetWidget::updateProxyFields()
{
    const bool enabled = m_proxy->currentIndex() == ProxyEnable;
    for (Field field : {ProxyServer, ProxyPort}) {
        m_labels[field]->setVisible(enabled);
        m_fields[field]->setVisible(enabled);
    }
    relayout();
}

void ZAVezeDeviceSipSetWidget::focusInEvent(QFocusEvent* event)
{
    ZAVezeDeviceSectionWidget::focusInEvent(event);
    frame()->setBorder(5, 2, kFocusInColor);
}

void ZAVezeDeviceSipSetWidget::focusOutEvent(QFocusEvent* event)
{
    ZAVezeDeviceSectionWidget::focusOutEvent(event);
    frame()->setBorder(5, 2, kFocusOutColor);
}

int ZAVezeDeviceSipSetWidget::labelColumnWidth() const
{
    return qMax(widestLabel(m_labels), widestLabel({m_accountLabel, m_proxyLabel}));
}

QSize ZAVezeDeviceSipSetWidget::sizeHint() const
{
    return QSize(2 * labelColumnWidth() + 440, 0);
}

void ZAVezeDeviceSipSetWidget::placeControls(int rowsTop)
{
    const QRect frame = frameRect();
    const int labelWidth = labelColumnWidth();
    const int step = kRowHeight + kRowGap;
    const int leftColumn = frame.left() + 10;
    placeRow(m_accountLabel, m_account, leftColumn, labelWidth, rowsTop, listWidth(m_account));
    int leftFieldsRight = leftColumn;
    int y = rowsTop + step;
    for (Field field : {Username, AuthId, Password, DisplayName, ExpireTime}) {
        leftFieldsRight = placeRow(m_labels[field], m_fields[field], leftColumn, labelWidth, y);
        y += step;
    }
    const int rightColumn = leftFieldsRight + 60;
    y = rowsTop + step;
    placeRow(m_labels[ServerHost], m_fields[ServerHost], rightColumn, labelWidth, y);
    placeRow(m_labels[ServerPort], m_fields[ServerPort], rightColumn, labelWidth, y += step);
    placeRow(m_proxyLabel, m_proxy, rightColumn, labelWidth, y += step, listWidth(m_proxy));
    for (Field field : {ProxyServer, ProxyPort}) {
        y += step;
        if (!m_fields[field]->isHidden()) {
            placeRow(m_labels[field], m_fields[field], rightColumn, labelWidth, y);
        } else {
            m_labels[field]->setGeometry(QRect());
            m_fields[field]->setGeometry(QRect());
        }
    }
    m_separator->setGeometry((leftFieldsRight + rightColumn) / 2, frame.top(), 1, frame.height());
    placeButtonPair(m_set, m_setAll, height() - 55);
}
