#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <atomic>

class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;

// A small blocking HTTP client for worker threads: one request at a time, each waiting in a
// local event loop on the calling thread until its reply has finished. It keeps the value of
// the "session" cookie that a form post receives and sends it with every later request.
//
// The object belongs to the thread that made it; abort() is the one call for other threads.
class QHttpUtils : public QObject
{
    Q_OBJECT

public:
    static constexpr int kPostTimeoutMs = 15000;
    // An upload ends when no byte has moved for this long.
    static constexpr int kUploadStallTimeoutMs = 60000;
    // A device answers with a short JSON text or page; a longer body ends the request as a
    // failure, so that no peer can make us hold more than this.
    static constexpr qint64 kMaxReplyBytes = 1 << 20;
    static const char* const kBoundary;

    QHttpUtils();
    ~QHttpUtils() override;

    // A form post (application/x-www-form-urlencoded); the reply body, empty when the request
    // failed, timed out, was aborted or its body grew past kMaxReplyBytes.
    QByteArray post(const QString& url, const QString& body);
    // The file as the one part "file" of a multipart form post, read from disk as it is sent;
    // the reply body (empty past kMaxReplyBytes), or empty when the file cannot be opened
    // (nothing is sent then).
    QByteArray upload(const QString& url, const QString& filePath);
    // Any thread: ends the request that is waiting (post or upload) at once and makes every
    // later call return empty without sending. The object must stay alive meanwhile.
    void abort();
    bool isAborted() const { return m_aborted.load(std::memory_order_acquire); }

    // Devices serve their web interface with self-signed certificates. When on, any
    // certificate is accepted and its SHA-256 fingerprint logged; when off (the default),
    // certificates are verified.
    void setAcceptDeviceCertificates(bool accept) { m_acceptDeviceCertificates = accept; }
    // <= 0 keeps the default.
    void setTimeouts(int postMs, int uploadStallMs);

    QString session() const { return m_session; }

    // The value of the "session" cookie (name in any letter case) in a Set-Cookie value; empty
    // when there is none. Pieces are split on ';' and are not trimmed, so only a cookie at the
    // very start of a piece counts; the value is everything after the first '='.
    static QString parseSessionCookie(const QString& setCookie);
    // A file name as it may stand between the quotes of a Content-Disposition parameter.
    static QString quotedFileName(const QString& name);

private:
    void prepare(QNetworkRequest* request, int timeoutMs) const;
    // Runs a local event loop until the reply has finished, was aborted or timed out; false
    // when its body was cut off for growing past kMaxReplyBytes.
    bool waitFor(QNetworkReply* reply);
    void runUntilFinished(QNetworkReply* reply);
    void learnSession(QNetworkReply* reply);

    QNetworkAccessManager* m_manager;
    QString m_session;
    std::atomic<bool> m_aborted{false};
    bool m_acceptDeviceCertificates = false;
    int m_postTimeoutMs = kPostTimeoutMs;
    int m_uploadStallTimeoutMs = kUploadStallTimeoutMs;
};
