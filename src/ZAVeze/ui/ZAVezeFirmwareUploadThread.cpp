#include "ZAVezeFirmwareUploadThread.h"

#include "QHttpUtils.h"
#include "RDDecimal.h"
#include "RDIpv4.h"
#include "RDJsonParser.h"
#include "RDLog.h"
#include "ZAVezeFrame.h"

#include <QJsonObject>
#include <QUrl>

#include <memory>

ZAVezeFirmwareUploadThread::ZAVezeFirmwareUploadThread(const ZAVezeDevice& device, const QString& filePath)
    : m_device(device)
    , m_filePath(filePath)
{
}

ZAVezeFirmwareUploadThread::~ZAVezeFirmwareUploadThread() = default;

void ZAVezeFirmwareUploadThread::setTimeouts(int loginMs, int uploadStallMs)
{
    m_loginTimeoutMs = loginMs > 0 ? loginMs : kLoginTimeoutMs;
    m_uploadStallTimeoutMs = uploadStallMs > 0 ? uploadStallMs : kUploadStallTimeoutMs;
}

void ZAVezeFirmwareUploadThread::stop()
{
    RDThread::stop();
    std::lock_guard<std::mutex> lock(m_clientMutex);
    if (m_client)
        m_client->abort();
}

bool ZAVezeFirmwareUploadThread::deviceUrls(const ZAVezeDevice& device, QString* loginUrl, QString* uploadUrl)
{
    uint32_t address = 0;
    if (!parseIpv4(device.ipAddress().toStdString(), &address))
        return false;
    // Written out again, so that "010.0.0.5" cannot reach the URL parser, which reads it as octal.
    const QString ip = QString::fromStdString(ipv4Text(address));
    // "https" as the text or the JSON number 1; true or any other text means HTTP.
    const bool https = device.value(QStringLiteral("https")) == QLatin1String("1");
    const QString scheme = https ? QStringLiteral("https") : QStringLiteral("http");
    QString port = device.value(https ? QStringLiteral("httpsPort") : QStringLiteral("httpPort"));
    if (!port.isEmpty()) {
        const int number = parsePort(port.toStdString());
        if (number < 0)
            return false;
        port = QString::number(number);
    }
    const QString base =
        port.isEmpty() ? QStringLiteral("%1://%2").arg(scheme, ip) : QStringLiteral("%1://%2:%3").arg(scheme, ip, port);
    *loginUrl = base + QStringLiteral("/cgi-bin/CGI?login");
    *uploadUrl = base + QStringLiteral("/cgi-bin/upload");
    return true;
}

QByteArray ZAVezeFirmwareUploadThread::loginBody(const QString& account, const QString& password)
{
    return "username=" + QUrl::toPercentEncoding(account) + "&password=" + QUrl::toPercentEncoding(password);
}

bool ZAVezeFirmwareUploadThread::loginAccepted(const QByteArray& answer)
{
    if (answer.isEmpty())
        return false;
    // An array, or an object without a numeric "result", has always counted as accepted.
    QJsonValue document;
    if (RDJsonParser::parse(answer, &document) != RDJsonParser::Status::Ok)
        return false;
    const QJsonValue result = document.toObject().value(QStringLiteral("result"));
    // QJsonValue::toInt reads 0.5 and 2^32 as its default of 0, which would take them for success.
    return !result.isDouble() || result.toDouble() == 0;
}

void ZAVezeFirmwareUploadThread::run()
{
    auto client = std::make_unique<QHttpUtils>();
    client->setAcceptDeviceCertificates(true);
    client->setTimeouts(m_loginTimeoutMs, m_uploadStallTimeoutMs);
    {
        std::lock_guard<std::mutex> lock(m_clientMutex);
        m_client = client.get();
        // A stop that came before the client existed still ends the run.
        if (isStop())
            client->abort();
    }
    upload(*client);
    std::lock_guard<std::mutex> lock(m_clientMutex);
    m_client = nullptr;
}

void ZAVezeFirmwareUploadThread::upload(QHttpUtils& client)
{
    const QByteArray device = ZAVezeFrame::macText(m_device.mac).toUtf8();
    QString loginUrl;
    QString uploadUrl;
    if (!deviceUrls(m_device, &loginUrl, &uploadUrl)) {
        RDLOG("firmware to %s: address \"%s\" or port not usable, skipped", device.constData(),
              m_device.ipAddress().toUtf8().constData());
        return;
    }
    const QByteArray answer =
        client.post(loginUrl, QString::fromLatin1(loginBody(m_device.account(), m_device.password())));
    if (!loginAccepted(answer)) {
        RDLOG("firmware to %s: login %s", device.constData(),
              client.isAborted() ? "aborted" : answer.isEmpty() ? "got no answer" : "refused");
        return;
    }
    const QByteArray reply = client.upload(uploadUrl, m_filePath);
    if (client.isAborted())
        RDLOG("firmware to %s: upload aborted", device.constData());
    else
        RDLOG("firmware to %s: upload answered %d bytes", device.constData(), reply.size());
}
