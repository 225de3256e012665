#include "ZAVezeDeviceIpWidget.h"

#include "RDIpv4.h"
#include "RDLabel.h"
#include "RDPixmapCache.h"
#include "RDPixmapWidget.h"
#include "ZAVezeDeviceLineEdit.h"
#include "ZAVezeDeviceTableWidget.h"

#include <QDesktopServices>

#include <algorithm>
#include <QRegExpValidator>
#include <QUrl>

ZAVezeDeviceIpWidget::ZAVezeDeviceIpWidget(ZAVezeDeviceTableWidget* table, ZAVeze* tool, int row, int column)
    : ZAVezeDeviceTextWidget(table, tool, row, column)
    , m_web(new RDPixmapWidget(this))
{
    m_web->setPixmap(cachedPixmap(QStringLiteral(":/web.png"), 20));
    m_web->setCursor(Qt::PointingHandCursor);
    m_web->setEnabled(false);
    setValidator(new QRegExpValidator(QRegExp(QLatin1String(kIpv4Expression))));
    connect(m_web, &RDWidget::clicked, this, &ZAVezeDeviceIpWidget::onClickWeb);
}

void ZAVezeDeviceIpWidget::setIp(const QString& ip)
{
    setText(ip);
    uint32_t address = 0;
    const bool usable = parseIpv4(ip.toStdString(), &address);
    // Written out plainly: the URL parser reads "010.0.0.5" as octal.
    const QString url =
        usable ? QStringLiteral("http://%1/index.html").arg(QString::fromStdString(ipv4Text(address))) : QString();
    m_web->setToolTip(url);
    label()->setToolTip(url);
    m_web->setEnabled(usable);
}

void ZAVezeDeviceIpWidget::onClickWeb()
{
    const QUrl url(m_web->toolTip());
    if (m_web->isEnabled() && url.isValid() && !url.isEmpty())
        QDesktopServices::openUrl(url);
}

void ZAVezeDeviceIpWidget::applyText(const QString& text)
{
    if (!isAcceptable(text) || !hasDevice())
        return;
    const ZAVezeDevice& device = table->devices().at(row());
    applyAddress(text, device.netmask(), device.gateway());
}

QSize ZAVezeDeviceIpWidget::sizeHint() const
{
    const QSize hint = ZAVezeDeviceTextWidget::sizeHint();
    return QSize(hint.width() + 25, hint.height());
}

QRect ZAVezeDeviceIpWidget::labelRect() const
{
    const int buttonRight = m_web->geometry().right();
    // Tall enough for the editor that takes the label's place.
    const int h = std::min(height(), std::max(label()->sizeHint().height(), editor()->sizeHint().height()));
    return QRect(buttonRight + 5, (height() - h) / 2, width() - buttonRight - 10, h);
}

void ZAVezeDeviceIpWidget::resizeEvent(QResizeEvent* event)
{
    m_web->setGeometry(5, (height() - 20) / 2, 20, 20);
    ZAVezeDeviceTextWidget::resizeEvent(event);
}
