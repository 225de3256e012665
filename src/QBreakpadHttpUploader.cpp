#include "QBreakpadHttpUploader.h"

#include "Sonaris.h"

#include <QDebug>
#include <QFileInfo>
#include <QHttpMultiPart>
#include <QMetaEnum>

QBreakpadHttpUploader::QBreakpadHttpUploader(const QUrl& url, QObject* parent)
    : QObject(parent)
    , m_request(url)
{
}

QBreakpadHttpUploader::~QBreakpadHttpUploader()
{
    if (m_reply) {
        qWarning("m_reply is not NULL");
        m_reply->abort();
        delete m_reply;
    }
}

void QBreakpadHttpUploader::uploadDump(const QString& abs_file_path)
{
    auto file = std::make_unique<QFile>(abs_file_path);
    if (!file->open(QIODevice::ReadOnly)) {
        qWarning("Cannot open the dump %s", qUtf8Printable(abs_file_path));
        emit finished(QString());
        return;
    }
    const QByteArray name = QByteArray(Sonaris::kApplicationName);
    const QByteArray version = QByteArray(Sonaris::kVersion);

    auto* form = new QHttpMultiPart(QHttpMultiPart::FormDataType);
    QHttpPart product;
    product.setHeader(QNetworkRequest::ContentDispositionHeader, QVariant(QByteArray("form-data; name=\"prod\"")));
    product.setBody(name);
    QHttpPart release;
    release.setHeader(QNetworkRequest::ContentDispositionHeader, QVariant(QByteArray("form-data; name=\"ver\"")));
    release.setBody(version);
    QHttpPart dump;
    dump.setHeader(QNetworkRequest::ContentDispositionHeader,
                   QVariant(QByteArray("form-data; name=\"upload_file_minidump\"; filename=\"") +
                            QFileInfo(abs_file_path).fileName().toUtf8() + "\""));
    dump.setHeader(QNetworkRequest::ContentTypeHeader, QVariant(QByteArray("application/octet-stream")));
    dump.setBodyDevice(file.get());
    form->append(product);
    form->append(release);
    form->append(dump);

    m_file = std::move(file);
    m_request.setRawHeader("User-Agent", name + "/" + version);
    m_reply = m_manager.post(m_request, form);
    form->setParent(m_reply);
    connect(m_reply, &QNetworkReply::uploadProgress, this, &QBreakpadHttpUploader::onUploadProgress);
    connect(m_reply, &QNetworkReply::errorOccurred, this, &QBreakpadHttpUploader::onError);
    connect(m_reply, &QNetworkReply::finished, this, &QBreakpadHttpUploader::onUploadFinished);
}

void QBreakpadHttpUploader::onUploadProgress(qint64 sent, qint64 total)
{
    qDebug("upload progress: %lld/%lld", static_cast<long long>(sent), static_cast<long long>(total));
}

void QBreakpadHttpUploader::onError(QNetworkReply::NetworkError err)
{
    qDebug() << QMetaEnum::fromType<QNetworkReply::NetworkError>().valueToKey(err);
}

void QBreakpadHttpUploader::onUploadFinished()
{
    const QString answer = QString::fromUtf8(m_reply->readAll());
    qDebug("Upload finished");
    qDebug().noquote() << "Answer: " + answer;
    const bool sent = m_reply->error() == QNetworkReply::NoError;
    if (!sent)
        qWarning("Upload error: %d - %s", int(m_reply->error()), qUtf8Printable(m_reply->errorString()));
    else
        qDebug().noquote() << "Upload to " + m_request.url().toString() + " success!";
    // The reply and the file go first, so that the report is closed before it is removed.
    const QString path = m_file ? m_file->fileName() : QString();
    m_reply->deleteLater();
    m_reply = nullptr;
    m_file.reset();
    if (sent && !path.isEmpty())
        QFile::remove(path);
    emit finished(answer);
}
