#pragma once

#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QObject>
#include <QPointer>
#include <QUrl>

#include <memory>

// Posts one crash report as a multipart form ("prod", "ver", "upload_file_minidump") to an
// upload URL, and removes the report once the server accepted it. Lives on a thread with an
// event loop; one upload per object.
class QBreakpadHttpUploader : public QObject
{
    Q_OBJECT
public:
    explicit QBreakpadHttpUploader(const QUrl& url, QObject* parent = nullptr);
    ~QBreakpadHttpUploader() override;

signals:
    // The upload ended (sent or failed) with the server's answer; also when the report could
    // not be opened (an empty answer), so that an owner waiting for it can let go.
    void finished(const QString& answer);

public slots:
    void uploadDump(const QString& abs_file_path);

private slots:
    void onUploadProgress(qint64 sent, qint64 total);
    void onError(QNetworkReply::NetworkError err);
    void onUploadFinished();

private:
    QNetworkAccessManager m_manager;
    QNetworkRequest m_request;
    QPointer<QNetworkReply> m_reply;
    std::unique_ptr<QFile> m_file;
};
