// What a device sends that the firmware upload reads: its login answer, and its own record's
// address and ports (from its search reply), which must never make a URL to another host.
#include "RDIpv4.h"
#include "RDJsonParser.h"
#include "ZAVezeFirmwareUploadThread.h"

#include <QByteArray>
#include <QJsonObject>
#include <QUrl>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), int(size));
    (void)ZAVezeFirmwareUploadThread::loginAccepted(bytes);

    ZAVezeDevice device;
    RDJsonParser::parseObject(bytes, &device.info);
    QString login;
    QString upload;
    if (!ZAVezeFirmwareUploadThread::deviceUrls(device, &login, &upload))
        return 0;
    uint32_t address = 0;
    if (!parseIpv4(device.ipAddress().toStdString(), &address))
        std::abort();
    const QUrl url(login);
    if (!url.isValid() || url.host() != QString::fromStdString(ipv4Text(address)) ||
        url.path() != QLatin1String("/cgi-bin/CGI"))
        std::abort();
    return 0;
}
