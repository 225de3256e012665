#include "QHttpUtils.h"

#include "RDLog.h"

#include <QDebug>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHttpMultiPart>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#ifndef QT_NO_SSL
#include <QSslCertificate>
#include <QSslError>
#endif

namespace {

// How often a waiting request looks for an abort from another thread. The flag is polled on the
// request's own thread rather than posted to it, so no Qt object is touched from outside.
constexpr int kAbortPollMs = 10;

} // namespace

const char* const QHttpUtils::kBoundary = "window-zaveze-upload";

QHttpUtils::QHttpUtils() : m_manager(new QNetworkAccessManager()) {}

QHttpUtils::~QHttpUtils()
{
    delete m_manager;
}

void QHttpUtils::setTimeouts(int postMs, int uploadStallMs)
{
    m_postTimeoutMs = postMs > 0 ? postMs : kPostTimeoutMs;
    m_uploadStallTimeoutMs = uploadStallMs > 0 ? uploadStallMs : kUploadStallTimeoutMs;
}

void QHttpUtils::abort()
{
    m_aborted.store(true, std::memory_order_release);
}

void QHttpUtils::prepare(QNetworkRequest* request, int timeoutMs) const
{
    // The one cookie this client keeps is its own; the manager's jar would add others and
    // replace the header.
    request->setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request->setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    if (!m_session.isEmpty())
        request->setRawHeader("cookie", QStringLiteral("session=%1").arg(m_session).toUtf8());
    // No progress for this long ends the request (the reply then reports an error).
    request->setTransferTimeout(timeoutMs);
}

bool QHttpUtils::waitFor(QNetworkReply* reply)
{
    // Qt buffers a reply's whole body, so it is watched as it comes rather than measured after.
    bool tooLong = false;
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply, &tooLong](qint64 received, qint64) {
        if (received <= kMaxReplyBytes || tooLong)
            return;
        tooLong = true;
        RDLOG("answer of %s is longer than %lld bytes, dropped",
              reply->url().toDisplayString(QUrl::RemoveUserInfo).toUtf8().constData(),
              static_cast<long long>(kMaxReplyBytes));
        reply->abort();
    });
#ifndef QT_NO_SSL
    connect(reply, &QNetworkReply::sslErrors, reply, [this, reply](const QList<QSslError>& errors) {
        const QSslCertificate certificate = reply->sslConfiguration().peerCertificate();
        const QString fingerprint =
            QString::fromLatin1(certificate.digest(QCryptographicHash::Sha256).toHex(':').toUpper());
        if (m_acceptDeviceCertificates) {
            RDLOG("accepting the certificate of %s, SHA-256 fingerprint %s",
                  reply->url().host().toUtf8().constData(), fingerprint.toUtf8().constData());
            reply->ignoreSslErrors(errors);
            return;
        }
        for (const QSslError& error : errors)
            RDLOG("certificate of %s refused: %s (SHA-256 %s)", reply->url().host().toUtf8().constData(),
                  error.errorString().toUtf8().constData(), fingerprint.toUtf8().constData());
    });
#endif
    if (!reply->isFinished())
        runUntilFinished(reply);
    // The check holds a reference to this frame, so the reply must not call it once this returns.
    disconnect(reply, &QNetworkReply::downloadProgress, reply, nullptr);
    return !tooLong;
}

void QHttpUtils::runUntilFinished(QNetworkReply* reply)
{
    QEventLoop loop;
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer poll;
    poll.setInterval(kAbortPollMs);
    connect(&poll, &QTimer::timeout, reply, [this, reply] {
        if (isAborted() && reply->isRunning())
            reply->abort();
    });
    poll.start();
    if (isAborted())
        reply->abort();
    if (!reply->isFinished())
        loop.exec();
}

void QHttpUtils::learnSession(QNetworkReply* reply)
{
    const QByteArray setCookie = reply->rawHeader("Set-Cookie");
    if (setCookie.isEmpty())
        return;
    // Several Set-Cookie headers reach us as one value with a line for each.
    for (const QString& line : QString::fromUtf8(setCookie).split(QLatin1Char('\n'))) {
        const QString value = parseSessionCookie(line);
        if (!value.isEmpty()) {
            m_session = value;
            return;
        }
    }
}

QByteArray QHttpUtils::post(const QString& url, const QString& body)
{
    if (isAborted())
        return QByteArray();
    QNetworkRequest request{QUrl(url)};
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/x-www-form-urlencoded"));
    prepare(&request, m_postTimeoutMs);
    QNetworkReply* reply = m_manager->post(request, body.toUtf8());
    const bool whole = waitFor(reply);
    learnSession(reply);
    const QByteArray data = whole ? reply->readAll() : QByteArray();
    if (reply->error() != QNetworkReply::NoError)
        RDLOG("post to %s failed: %s", reply->url().toDisplayString(QUrl::RemoveUserInfo).toUtf8().constData(),
              reply->errorString().toUtf8().constData());
    delete reply;
    return data;
}

QByteArray QHttpUtils::upload(const QString& url, const QString& filePath)
{
    qDebug() << "upload " << filePath << " to " << url;
    if (isAborted())
        return QByteArray();
    QNetworkRequest request{QUrl(url)};
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QStringLiteral("multipart/form-data; boundary=%1").arg(QLatin1String(kBoundary)).toUtf8());
    prepare(&request, m_uploadStallTimeoutMs);

    QHttpPart part;
    const QString disposition =
        QStringLiteral("form-data; name=\"file\"; filename=\"%1\"").arg(quotedFileName(QFileInfo(filePath).fileName()));
    part.setHeader(QNetworkRequest::ContentDispositionHeader, disposition);
    part.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/octet-stream"));
    qDebug() << disposition;

    auto* file = new QFile(filePath);
    if (!file->open(QIODevice::ReadOnly)) {
        qDebug() << "file open fail";
        delete file;
        return QByteArray();
    }
    auto* multiPart = new QHttpMultiPart(QHttpMultiPart::FormDataType);
    multiPart->setBoundary(kBoundary);
    part.setBodyDevice(file);
    file->setParent(multiPart);
    multiPart->append(part);

    QNetworkReply* reply = m_manager->post(request, multiPart);
    const bool whole = waitFor(reply);
    const QByteArray data = whole ? reply->readAll() : QByteArray();
    qDebug() << "response -> " + QString::fromUtf8(data);
    if (reply->error() != QNetworkReply::NoError)
        qDebug() << "upload error -> " << reply->error();
    else if (whole)
        qDebug() << "upload success";
    delete reply;
    delete multiPart; // closes and deletes the file
    return data;
}

QString QHttpUtils::parseSessionCookie(const QString& setCookie)
{
    const QStringList pieces = setCookie.split(QLatin1Char(';'));
    for (const QString& piece : pieces) {
        const int equals = piece.indexOf(QLatin1Char('='));
        if (equals < 0)
            continue;
        if (piece.leftRef(equals).compare(QLatin1String("session"), Qt::CaseInsensitive) == 0)
            return piece.mid(equals + 1);
    }
    return QString();
}

QString QHttpUtils::quotedFileName(const QString& name)
{
    QString quoted;
    quoted.reserve(name.size());
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            continue;
        if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    return quoted;
}
