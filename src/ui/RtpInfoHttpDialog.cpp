#include "RtpInfoHttpDialog.h"

#include "RDLabel.h"
#include "RDLanguage.h"
#include "RDLog.h"
#include "RtpDialogButtons.h"
#include "RtpInfo.h"
#include "RtpStopFirst.h"
#include "Sonaris.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>
#include <QUrl>

namespace {

constexpr int kLineHeight = 20;
const QColor kDisabledText(102, 102, 102);

// A link label's text: the URL as its own link. The colour of a link is fixed when the text is
// parsed, not taken from the label's state, so a greyed link says its colour itself.
void setLink(QLabel* label, const QString& url, bool enabled)
{
    const QString escaped = url.toHtmlEscaped();
    label->setEnabled(enabled);
    if (enabled)
        label->setText(QStringLiteral("<a href=\"%1\">%2</a>").arg(escaped, escaped));
    else
        label->setText(QStringLiteral("<a href=\"%1\" style=\"color:%2\">%3</a>")
                           .arg(escaped, kDisabledText.name(), escaped));
}


} // namespace

RtpInfoHttpDialog::RtpInfoHttpDialog(QWidget* parent)
    : RDDialog(parent)
    , m_streamCheckBox(new QCheckBox(this))
    , m_streamCaption(new RDLabel(this))
    , m_streamLink(new QLabel(this))
    , m_apiCheckBox(new QCheckBox(this))
    , m_apiCaption(new RDLabel(this))
    , m_startLink(new QLabel(this))
    , m_stopLink(new QLabel(this))
    , m_saveButton(new QPushButton(this))
    , m_cancelButton(new QPushButton(this))
{
    m_streamCaption->setText(RDLanguage::translate(QStringLiteral("Enable Http Stream")));
    m_apiCaption->setText(RDLanguage::translate(QStringLiteral("Enable Http API")));
    m_saveButton->setText(RDLanguage::translate(QStringLiteral("Save")));
    m_cancelButton->setText(RDLanguage::translate(QStringLiteral("Cancel")));

    connect(m_apiCheckBox, &QCheckBox::toggled, this, &RtpInfoHttpDialog::onApiToggled);
    connect(m_streamCheckBox, &QCheckBox::toggled, this, &RtpInfoHttpDialog::onOutputToggled);
    // The labels do not open links themselves: with both that and this handler a click would
    // open the browser twice, or (as QLabel does) never reach the handler at all.
    for (QLabel* link : {m_streamLink, m_startLink, m_stopLink}) {
        link->setOpenExternalLinks(false);
        link->setTextFormat(Qt::RichText);
        link->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
        connect(link, &QLabel::linkActivated, this, &RtpInfoHttpDialog::onLinkActivated);
    }
    connect(m_saveButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    resize(600, 400);
}

void RtpInfoHttpDialog::setValues(int id, bool httpApi, bool httpOutput)
{
    QString host;
    int port = 0;
    if (Sonaris* sonaris = Sonaris::instance()) {
        host = sonaris->network().ip();
        port = sonaris->httpPort();
    }
    setValues(id, httpApi, httpOutput, host, port);
}

void RtpInfoHttpDialog::setValues(int id, bool httpApi, bool httpOutput, const QString& host, int port)
{
    m_id = id;
    const QString base = QStringLiteral("http://%1:%2").arg(host).arg(port);
    m_streamUrl = base + QStringLiteral("/stream/%1").arg(id);
    m_startUrl = base + QStringLiteral("/api?action=start&id=%1").arg(id);
    m_stopUrl = base + QStringLiteral("/api?action=stop&id=%1").arg(id);
    m_apiCheckBox->setChecked(httpApi);
    m_streamCheckBox->setChecked(httpOutput);
    onApiToggled(m_apiCheckBox->isChecked());
    onOutputToggled(m_streamCheckBox->isChecked());
    relayout();
}

void RtpInfoHttpDialog::values(int& httpApi, int& httpOutput) const
{
    httpApi = m_apiCheckBox->isChecked() ? 1 : 0;
    httpOutput = m_streamCheckBox->isChecked() ? 1 : 0;
}

bool RtpInfoHttpDialog::editRecord(RtpInfo& record)
{
    if (refuseWhileRunning(record.startedSource))
        return false;
    RtpInfoHttpDialog dialog;
    dialog.setValues(record.id, record.httpApi != 0, record.httpOutput != 0);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    dialog.values(record.httpApi, record.httpOutput);
    return true;
}

void RtpInfoHttpDialog::onApiToggled(bool checked)
{
    m_apiCaption->setEnabled(checked);
    setLink(m_startLink, m_startUrl, checked);
    setLink(m_stopLink, m_stopUrl, checked);
}

void RtpInfoHttpDialog::onOutputToggled(bool checked)
{
    m_streamCaption->setEnabled(checked);
    setLink(m_streamLink, m_streamUrl, checked);
}

void RtpInfoHttpDialog::onLinkActivated(const QString& link)
{
    if (link.isEmpty())
        return;
    if (!QDesktopServices::openUrl(QUrl(link)))
        RDLOG("cannot open %s", link.toUtf8().constData());
}

void RtpInfoHttpDialog::resizeEvent(QResizeEvent* event)
{
    RDDialog::resizeEvent(event);
    relayout();
}

void RtpInfoHttpDialog::relayout()
{
    const int w = width();
    const int h = height();

    const QSize streamBox = m_streamCheckBox->sizeHint();
    m_streamCheckBox->setGeometry(10, 10, streamBox.width(), streamBox.height());
    const int streamCaptionX = 10 + streamBox.width() + 10;
    m_streamCaption->setGeometry(streamCaptionX, 10 + (streamBox.height() - kLineHeight) / 2,
                                 m_streamCaption->sizeHint().width(), kLineHeight);
    const int streamLinkY = m_streamCaption->geometry().bottom() + 1 + 10;
    m_streamLink->setGeometry(streamCaptionX, streamLinkY, w - 10 - streamCaptionX, kLineHeight);

    const QSize apiBox = m_apiCheckBox->sizeHint();
    const int apiY = streamLinkY + kLineHeight + 30;
    m_apiCheckBox->setGeometry(10, apiY, apiBox.width(), apiBox.height());
    const int apiCaptionX = 10 + apiBox.width() + 10;
    m_apiCaption->setGeometry(apiCaptionX, apiY + (apiBox.height() - kLineHeight) / 2,
                              m_apiCaption->sizeHint().width(), kLineHeight);
    const int startY = m_apiCaption->geometry().bottom() + 1 + 10;
    m_startLink->setGeometry(apiCaptionX, startY, w - 20 - apiCaptionX, kLineHeight);
    m_stopLink->setGeometry(apiCaptionX, startY + kLineHeight + 10, w - 20 - apiCaptionX, kLineHeight);

    placeDialogButtons(m_saveButton, m_cancelButton, w, h - 50);
}
