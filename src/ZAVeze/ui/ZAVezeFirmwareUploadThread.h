#pragma once

#include "RDThread.h"
#include "ZAVezeDevice.h"

#include <QString>

#include <mutex>

class QHttpUtils;

// Puts a firmware file onto one device through its web interface: a form login with the account
// and password the device reported, then, when the login answer's "result" reads 0, the file as a
// multipart upload carrying the login's "session" cookie. HTTPS when the device says "https" "1";
// its self-signed certificate is accepted for these two requests only, with its fingerprint
// logged. Every failure is logged and ends the run; nothing is reported to the caller.
//
// stop() may be called from any thread: it ends a login or upload in progress at once.
class ZAVezeFirmwareUploadThread : public RDThread
{
public:
    // A login that has not been answered by then ends.
    static constexpr int kLoginTimeoutMs = 10000;
    // An upload ends when no byte has moved for this long (a device writes its flash meanwhile).
    static constexpr int kUploadStallTimeoutMs = 60000;

    ZAVezeFirmwareUploadThread(const ZAVezeDevice& device, const QString& filePath);
    ~ZAVezeFirmwareUploadThread() override;

    // Before start(): <= 0 keeps the default.
    void setTimeouts(int loginMs, int uploadStallMs);

    void stop() override;

    // The login and upload URLs for device; false (and both untouched) when its "ip" is not a
    // dotted IPv4 address or the port it reports is not 1..65535, so that nothing a device
    // sends can steer the request elsewhere. The address is written in its plain form.
    static bool deviceUrls(const ZAVezeDevice& device, QString* loginUrl, QString* uploadUrl);
    // "username=..&password=..", both percent-encoded.
    static QByteArray loginBody(const QString& account, const QString& password);
    // Whether a login answer lets the upload go: valid JSON whose "result" reads 0 (a missing or
    // non-number "result" reads 0; a number must be 0 itself).
    static bool loginAccepted(const QByteArray& answer);

protected:
    void run() override;

private:
    void upload(QHttpUtils& client);

    const ZAVezeDevice m_device;
    const QString m_filePath;
    int m_loginTimeoutMs = kLoginTimeoutMs;
    int m_uploadStallTimeoutMs = kUploadStallTimeoutMs;

    // Guards m_client between run() (which sets and clears it) and stop() (which aborts it).
    std::mutex m_clientMutex;
    QHttpUtils* m_client = nullptr;
};
