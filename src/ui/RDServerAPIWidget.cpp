#include "RDServerAPIWidget.h"

#include "RDOptionsNetworkWidget.h"
#include "RDPixmapWidget.h"
#include "RDQRCode.h"
#include "RDQRCodeDialog.h"
#include "RDTr.h"
#include "Sonaris.h"
#include "VexaCode.h"

#include <QCheckBox>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

constexpr int kToastAlignment = Qt::AlignBottom | Qt::AlignHCenter;
constexpr int kRowHeight = 25;

} // namespace

RDServerAPIWidget::RDServerAPIWidget(QWidget* parent)
    : RDToast(parent)
    , m_p2pSwitch(new QCheckBox(this))
    , m_p2pCaption(new QLabel(this))
    , m_codeCaption(new QLabel(this))
    , m_codeField(new QLineEdit(this))
    , m_p2pImage(new RDPixmapWidget(this))
    , m_apiSwitch(new QCheckBox(this))
    , m_apiCaption(new QLabel(this))
    , m_portCaption(new QLabel(this))
    , m_portField(new QLineEdit(this))
    , m_apiImage(new RDPixmapWidget(this))
    , m_authSwitch(new QCheckBox(this))
    , m_authCaption(new QLabel(this))
    , m_userCaption(new QLabel(this))
    , m_userField(new QLineEdit(this))
    , m_passwordCaption(new QLabel(this))
    , m_passwordField(new QLineEdit(this))
    , m_saveButton(new QPushButton(this))
{
    m_p2pImage->setCursor(Qt::PointingHandCursor);
    m_apiImage->setCursor(Qt::PointingHandCursor);
    // Keeps letters out; the range 1-65535 is checked on "Save".
    m_portField->setValidator(new QIntValidator(0, 65535, m_portField));
    m_passwordField->setEchoMode(QLineEdit::Normal);

    connect(m_p2pSwitch, &QCheckBox::toggled, this, &RDServerAPIWidget::updateP2PEnabled);
    connect(m_apiSwitch, &QCheckBox::toggled, this, &RDServerAPIWidget::updateApiEnabled);
    connect(m_authSwitch, &QCheckBox::toggled, this, &RDServerAPIWidget::updateAuthEnabled);
    connect(m_p2pImage, &RDWidget::clicked, this, &RDServerAPIWidget::onClickCodeWidget);
    connect(m_apiImage, &RDWidget::clicked, this, &RDServerAPIWidget::onClickAPIWidget);
    connect(m_saveButton, &QPushButton::clicked, this, [this] { save(); });
    localize();
}

void RDServerAPIWidget::localize()
{
    m_p2pCaption->setText(rdTr("Enable P2P Connection"));
    m_codeCaption->setText(rdTr("P2P Code"));
    m_codeField->setPlaceholderText(rdTr("P2P Code"));
    m_apiCaption->setText(rdTr("Enable IP Address Connection"));
    m_portCaption->setText(rdTr("Port"));
    m_authCaption->setText(rdTr("Enable Auth"));
    m_userCaption->setText(rdTr("Username"));
    m_passwordCaption->setText(rdTr("Password"));
    m_saveButton->setText(rdTr("Save"));
    relayout();
}

QPixmap RDServerAPIWidget::smallCode(const QString& code)
{
    if (code.isEmpty())
        return QPixmap();
    return QPixmap::fromImage(createQRCodeImage(code, kQrSide, kQrSide, kQrSide));
}

QString RDServerAPIWidget::apiCaption(const QString& portText)
{
    Sonaris* sonaris = Sonaris::instance();
    const QString ip = sonaris ? sonaris->network().ip() : QString();
    return QStringLiteral("%1:%2").arg(ip, portText);
}

QString RDServerAPIWidget::apiCode(const QString& caption)
{
    return VexaCode::encode(caption);
}

void RDServerAPIWidget::refresh()
{
    Sonaris* sonaris = Sonaris::instance();
    if (!sonaris)
        return;
    const bool p2pEnabled = sonaris->vexaCodeEnable() != 0;
    const QString code = sonaris->vexaCode();
    m_p2pImage->setPixmap(p2pEnabled ? smallCode(code) : QPixmap());
    m_p2pSwitch->setChecked(p2pEnabled);
    m_codeField->setText(code);

    const bool apiEnabled = sonaris->apiEnable() != 0;
    const QString port = QString::number(sonaris->apiPort());
    m_apiImage->setPixmap(apiEnabled ? smallCode(apiCode(apiCaption(port))) : QPixmap());
    m_apiSwitch->setChecked(apiEnabled);
    m_portField->setText(port);

    m_authSwitch->setChecked(sonaris->authEnable() != 0);
    m_userField->setText(sonaris->authUsername());
    m_passwordField->setText(sonaris->authPassword());

    updateP2PEnabled();
    updateApiEnabled();
    updateAuthEnabled();
}

void RDServerAPIWidget::updateP2PEnabled()
{
    const bool on = m_p2pSwitch->isChecked();
    m_p2pCaption->setEnabled(on);
    m_codeCaption->setEnabled(on);
    m_codeField->setEnabled(on);
    m_p2pImage->setVisible(on);
}

void RDServerAPIWidget::updateApiEnabled()
{
    const bool on = m_apiSwitch->isChecked();
    m_apiCaption->setEnabled(on);
    m_portCaption->setEnabled(on);
    m_portField->setEnabled(on);
    m_apiImage->setVisible(on);
}

void RDServerAPIWidget::updateAuthEnabled()
{
    const bool on = m_authSwitch->isChecked();
    m_authCaption->setEnabled(on);
    m_userCaption->setEnabled(on);
    m_userField->setEnabled(on);
    m_passwordCaption->setEnabled(on);
    m_passwordField->setEnabled(on);
}

bool RDServerAPIWidget::save()
{
    Sonaris* sonaris = Sonaris::instance();
    if (!sonaris)
        return false;
    // Everything is checked before anything is written, so a refused save changes nothing.
    const int port = RDOptionsNetworkWidget::portOf(m_portField->text());
    if (port == 0) {
        showToast(rdTr("Invalid port"), kToastAlignment, 5, 5);
        return false;
    }
    const bool authOn = m_authSwitch->isChecked();
    const QString user = m_userField->text();
    const QString password = m_passwordField->text();
    // An empty name or password would let any app in that sends an empty one.
    if (authOn && (user.isEmpty() || password.isEmpty())) {
        showToast(rdTr("Please input username and password"), kToastAlignment, 5, 5);
        return false;
    }

    const bool p2pOn = m_p2pSwitch->isChecked();
    const QString code = m_codeField->text();
    sonaris->setVexaCodeEnable(p2pOn ? 1 : 0);
    sonaris->setVexaCode(code);
    const bool p2pUp = sonaris->updateVexaCode(p2pOn, code);

    const bool apiOn = m_apiSwitch->isChecked();
    sonaris->setApiEnable(apiOn ? 1 : 0);
    sonaris->setApiPort(port);
    const bool apiUp = sonaris->updateApiServer(apiOn, port);

    sonaris->setAuthEnable(authOn ? 1 : 0);
    sonaris->setAuthUsername(user);
    sonaris->setAuthPassword(password);
    sonaris->updateAuth(authOn, user, password);

    // Success only when every connection that is switched on is up.
    const bool ok = (!p2pOn || p2pUp) && (!apiOn || apiUp);
    if (ok)
        showToast(rdTr("Save Success"), kToastAlignment, 5, 5);
    else if (apiOn && !apiUp)
        showToast(rdTr("Saved, but the IP address connection did not start"), kToastAlignment, 5, 5);
    else
        showToast(rdTr("Saved, but the P2P connection did not start"), kToastAlignment, 5, 5);
    refresh();
    return ok;
}

void RDServerAPIWidget::showCode(const QString& text, const QString& caption)
{
    RDQRCodeDialog dialog(text, caption);
    dialog.relayout();
    dialog.updateQRCodeImage();
    dialog.exec();
}

void RDServerAPIWidget::onClickCodeWidget()
{
    const QString code = m_codeField->text();
    showCode(code, code);
}

void RDServerAPIWidget::onClickAPIWidget()
{
    const QString caption = apiCaption(m_portField->text());
    showCode(apiCode(caption), caption);
}

void RDServerAPIWidget::resizeEvent(QResizeEvent* event)
{
    RDToast::resizeEvent(event);
    relayout();
}

void RDServerAPIWidget::relayout()
{
    int captionWidth = 0;
    for (QLabel* caption : {m_codeCaption, m_portCaption, m_userCaption, m_passwordCaption})
        captionWidth = std::max(captionWidth, caption->sizeHint().width());
    const int fieldX = 10 + captionWidth + 10;
    const int qrX = captionWidth + 270;

    auto groupHead = [&](QCheckBox* box, QLabel* caption, int top) {
        const QSize hint = box->sizeHint();
        box->setGeometry(10, top + (kRowHeight - hint.height()) / 2, hint.width(), hint.height());
        caption->setGeometry(box->geometry().right() + 1 + 5, top, caption->sizeHint().width(), kRowHeight);
    };
    auto fieldRow = [&](QLabel* caption, QWidget* field, int top) {
        caption->setGeometry(10, top, captionWidth, kRowHeight);
        field->setGeometry(fieldX, top, 230, kRowHeight);
    };

    int top = 10;
    groupHead(m_apiSwitch, m_apiCaption, top);
    top += kRowHeight + 10;
    fieldRow(m_portCaption, m_portField, top);
    m_apiImage->setGeometry(qrX, top, kQrSide, kQrSide);

    top += kRowHeight + 40;
    groupHead(m_p2pSwitch, m_p2pCaption, top);
    top += kRowHeight + 10;
    fieldRow(m_codeCaption, m_codeField, top);
    m_p2pImage->setGeometry(qrX, top, kQrSide, kQrSide);

    top += kRowHeight + 40;
    groupHead(m_authSwitch, m_authCaption, top);
    top += kRowHeight + 10;
    fieldRow(m_userCaption, m_userField, top);
    top += kRowHeight + 10;
    fieldRow(m_passwordCaption, m_passwordField, top);
    m_saveButton->setGeometry(qrX, top, std::max(120, m_saveButton->sizeHint().width()), kRowHeight);
}
