#include "RDOptionsNetworkWidget.h"

#include "RDLog.h"
#include "RDTr.h"
#include "RtpManager.h"
#include "Sonaris.h"
#include "SonarisSettings.h"
#include "ZAVeze.h"

#include <QComboBox>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

constexpr int kToastAlignment = Qt::AlignBottom | Qt::AlignHCenter;

} // namespace

RDOptionsNetworkWidget::RDOptionsNetworkWidget(QWidget* parent)
    : RDToast(parent)
    , m_adapterCaption(new QLabel(this))
    , m_adapterChoice(new QComboBox(this))
    , m_sipPortCaption(new QLabel(this))
    , m_sipPortField(new QLineEdit(this))
    , m_httpPortCaption(new QLabel(this))
    , m_httpPortField(new QLineEdit(this))
    , m_saveButton(new QPushButton(this))
{
    setNetworks(RDSystemNetwork::networks());
    Sonaris* sonaris = Sonaris::instance();
    m_sipPortField->setText(QString::number(sonaris ? sonaris->sipPort() : SonarisSettings::kDefaultSipPort));
    m_httpPortField->setText(QString::number(sonaris ? sonaris->httpPort() : SonarisSettings::kDefaultHttpPort));
    // Only keeps letters out; the range is checked when the value is applied, with a toast.
    m_sipPortField->setValidator(new QIntValidator(m_sipPortField));
    m_httpPortField->setValidator(new QIntValidator(m_httpPortField));

    connect(m_adapterChoice, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &RDOptionsNetworkWidget::onNetworkChanged);
    connect(m_sipPortField, &QLineEdit::editingFinished, this, &RDOptionsNetworkWidget::onSipPortEditFinished);
    connect(m_httpPortField, &QLineEdit::editingFinished, this, &RDOptionsNetworkWidget::onHttpPortEditFinished);
    connect(m_saveButton, &QPushButton::clicked, this, &RDOptionsNetworkWidget::onClickSaveButton);
    localize();
}

void RDOptionsNetworkWidget::setNetworks(const QList<RDSystemNetwork>& networks)
{
    m_networks = networks;
    const QSignalBlocker blocker(m_adapterChoice);
    m_adapterChoice->clear();
    Sonaris* sonaris = Sonaris::instance();
    const RDSystemNetwork current = sonaris ? sonaris->network() : RDSystemNetwork();
    int currentIndex = 0;
    for (int i = 0; i < m_networks.size(); ++i) {
        const RDSystemNetwork& network = m_networks.at(i);
        m_adapterChoice->addItem(QStringLiteral("%1(%2)").arg(network.description(), network.ip()),
                                 QVariant::fromValue(network));
        if (!current.name().isEmpty() && network.name() == current.name())
            currentIndex = i;
    }
    if (!m_networks.isEmpty())
        m_adapterChoice->setCurrentIndex(currentIndex);
}

void RDOptionsNetworkWidget::localize()
{
    m_adapterCaption->setText(rdTr("Select network"));
    m_sipPortCaption->setText(rdTr("SIP Port"));
    m_httpPortCaption->setText(rdTr("Http Port"));
    m_saveButton->setText(rdTr("Save"));
    if (width() > 0)
        resizeEvent(nullptr);
}

int RDOptionsNetworkWidget::portOf(const QString& text)
{
    return SonarisSettings::portValue(text.trimmed(), 0);
}

void RDOptionsNetworkWidget::onNetworkChanged(int index)
{
    if (index < 0 || index >= m_networks.size())
        return;
    const RDSystemNetwork& network = m_networks.at(index);
    Sonaris* sonaris = Sonaris::instance();
    if (!sonaris)
        return;
    sonaris->setNetworkName(network.description());
    if (ZAVeze* tool = sonaris->deviceTool()) {
        tool->stop();
        tool->setNetwork(network);
        tool->start();
    }
}

void RDOptionsNetworkWidget::onSipPortEditFinished()
{
    applySipPort(false);
}

void RDOptionsNetworkWidget::onClickSaveButton()
{
    applySipPort(true);
}

void RDOptionsNetworkWidget::applySipPort(bool always)
{
    const int port = portOf(m_sipPortField->text());
    if (port == 0) {
        showInvalidPort();
        return;
    }
    Sonaris* sonaris = Sonaris::instance();
    if (!sonaris)
        return;
    // A reload registers every account again: only for a new port, or when asked by Save.
    if (!always && port == sonaris->sipPort())
        return;
    sonaris->setSipPort(port);
    if (RtpManager* manager = RtpManager::instance())
        manager->setSipPort(port);
}

void RDOptionsNetworkWidget::onHttpPortEditFinished()
{
    const int port = portOf(m_httpPortField->text());
    if (port == 0) {
        showInvalidPort();
        return;
    }
    Sonaris* sonaris = Sonaris::instance();
    // A restart drops every stream listener: only for a new port.
    if (!sonaris || port == sonaris->httpPort())
        return;
    sonaris->setHttpPort(port);
    sonaris->stopHttpServer();
    if (sonaris->restartHttpServer() < 0)
        RDLOG("The HTTP server did not start on port %d", port);
}

void RDOptionsNetworkWidget::showInvalidPort()
{
    showToast(rdTr("Invalid port"), kToastAlignment, 5, 5);
}

void RDOptionsNetworkWidget::resizeEvent(QResizeEvent* event)
{
    if (event)
        RDToast::resizeEvent(event);
    m_adapterCaption->setGeometry(10, 10, 150, 30);
    m_adapterChoice->setGeometry(160, 15, std::max(0, width() - 180), 20);
    int top = m_adapterCaption->geometry().bottom() + 1 + 20;
    m_sipPortCaption->setGeometry(10, top, 150, 20);
    m_sipPortField->setGeometry(160, top, 80, 20);
    top = m_sipPortCaption->geometry().bottom() + 1 + 20;
    m_httpPortCaption->setGeometry(10, top, 150, 20);
    m_httpPortField->setGeometry(160, top, 80, 20);
    top = m_httpPortField->geometry().bottom() + 1 + 20;
    m_saveButton->setGeometry(160, top, std::max(60, m_saveButton->sizeHint().width()), 25);
}
