#include "RtpInfoSipDialog.h"

#include "RDLanguage.h"
#include "RDVolumeValidator.h"
#include "RtpDialogButtons.h"
#include "RtpInfo.h"
#include "RtpManager.h"
#include "RtpStopFirst.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>

#include <algorithm>

namespace {

struct RowText
{
    const char* label;
    const char* placeholder;
};

const RowText kRows[RtpInfoSipDialog::kFieldCount] = {
    {"SIP Server", "Please input sip server"},
    {"SIP Port", "Please input sip port"},
    {"SIP Number", "Please input sip number"},
    {"SIP Auth Id", "Please input sip auth id"},
    {"SIP Password", "Please input sip password"},
    {"Display Name", "Please input display name"},
    {"Expire Time", "Please input expire time"},
};

constexpr int kMinLabelWidth = 150;
constexpr int kRowHeight = 30;

// The account's texts in row order; the one table both directions read.
QString* field(RtpSip& sip, int index)
{
    QString* const fields[RtpInfoSipDialog::kFieldCount] = {&sip.server,   &sip.port,        &sip.username,
                                                           &sip.authId,   &sip.password,    &sip.displayName,
                                                           &sip.expire};
    return fields[index];
}

// A stored text may still hold a line break (from an import or a remote app); it must not
// reach a SIP header.
QString withoutLineBreaks(QString text)
{
    text.remove(QLatin1Char('\r'));
    text.remove(QLatin1Char('\n'));
    return text;
}

bool portAcceptable(const QLineEdit* edit)
{
    return edit->text().isEmpty() || edit->hasAcceptableInput();
}


} // namespace

RtpInfoSipDialog::RtpInfoSipDialog(QWidget* parent)
    : RDDialog(parent)
    , m_enableCheckBox(new QCheckBox(this))
    , m_captionLabel(new QLabel(this))
    , m_statusLabel(new QLabel(this))
{
    for (int i = 0; i < kFieldCount; ++i) {
        m_labels.append(new QLabel(this));
        QLineEdit* edit = new QLineEdit(this);
        if (i == kPort) {
            auto* port = new RDVolumeValidator(edit);
            port->setRange(1, 65535);
            edit->setValidator(port);
        } else {
            edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[^\\r\\n]*")), edit));
        }
        m_edits.append(edit);
    }
    m_saveButton = new QPushButton(this);
    m_cancelButton = new QPushButton(this);

    connect(m_enableCheckBox, &QCheckBox::toggled, this, [this] { updateEnabled(); });
    connect(m_saveButton, &QPushButton::clicked, this, &RtpInfoSipDialog::accept);
    connect(m_cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    setMinimumSize(400, 330);
    localize();
    updateEnabled();
}

void RtpInfoSipDialog::localize()
{
    m_captionLabel->setText(RDLanguage::translate(QStringLiteral("Enable SIP")));
    for (int i = 0; i < kFieldCount; ++i) {
        m_labels[i]->setText(RDLanguage::translate(QString::fromLatin1(kRows[i].label)));
        m_edits[i]->setPlaceholderText(RDLanguage::translate(QString::fromLatin1(kRows[i].placeholder)));
    }
    m_saveButton->setText(RDLanguage::translate(QStringLiteral("Save")));
    m_cancelButton->setText(RDLanguage::translate(QStringLiteral("Cancel")));
    relayout();
}

void RtpInfoSipDialog::setRtpSip(int id, const RtpSip& sip)
{
    m_id = id;
    m_enableCheckBox->setChecked(sip.status != 0);
    RtpSip copy = sip;
    for (int i = 0; i < kFieldCount; ++i)
        m_edits[i]->setText(withoutLineBreaks(*field(copy, i)));
    updateEnabled();
    RtpManager* manager = RtpManager::instance();
    m_statusLabel->setText(manager ? manager->getSipStatusText(id) : QString());
}

void RtpInfoSipDialog::getRtpSip(RtpSip& out) const
{
    out.status = m_enableCheckBox->isChecked() ? 1 : 0;
    for (int i = 0; i < kFieldCount; ++i)
        *field(out, i) = withoutLineBreaks(m_edits[i]->text());
}

bool RtpInfoSipDialog::editRecord(RtpInfo& record)
{
    if (refuseWhileRunning(record.startedSource))
        return false;
    RtpInfoSipDialog dialog;
    dialog.setRtpSip(record.id, record.sip);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    dialog.getRtpSip(record.sip);
    return true;
}

void RtpInfoSipDialog::accept()
{
    QLineEdit* port = m_edits[kPort];
    if (!portAcceptable(port)) {
        port->setFocus();
        showToast(RDLanguage::translate(QStringLiteral("Please input sip port")));
        return;
    }
    RDDialog::accept();
}

void RtpInfoSipDialog::updateEnabled()
{
    const bool on = m_enableCheckBox->isChecked();
    m_captionLabel->setEnabled(on);
    m_statusLabel->setEnabled(on);
    for (int i = 0; i < kFieldCount; ++i) {
        m_labels[i]->setEnabled(on);
        m_edits[i]->setEnabled(on);
    }
}

void RtpInfoSipDialog::resizeEvent(QResizeEvent* event)
{
    RDDialog::resizeEvent(event);
    relayout();
}

void RtpInfoSipDialog::relayout()
{
    const int w = width();
    const int h = height();
    int c = kMinLabelWidth;
    for (QLabel* label : m_labels)
        c = std::max(c, label->sizeHint().width());

    m_enableCheckBox->setGeometry(10, 10, 20, 20);
    // The caption ends where the state text begins, so the two never overlap.
    m_captionLabel->setGeometry(35, 10, c + 10 - 35, 20);
    m_statusLabel->setGeometry(c + 10, 10, w - c - 20, 20);
    int top = 40;
    for (int i = 0; i < kFieldCount; ++i) {
        m_labels[i]->setGeometry(10, top, c, kRowHeight);
        m_edits[i]->setGeometry(c + 10, top, w - c - 20, kRowHeight);
        // Each row starts on the last line of the one above, so the edges of the edits meet.
        top += kRowHeight - 1;
    }
    placeDialogButtons(m_saveButton, m_cancelButton, w, h - 50);
}
