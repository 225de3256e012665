#pragma once

#include <QString>

// One SIP line as a device reports and accepts it.
struct ZAVezeSipInfo
{
    QString serverHost;
    QString serverPort;
    QString protocol;
    QString displayName;
    QString authName;
    QString account;
    QString password;
    QString expires;
    QString proxyStatus;
    QString proxyHost;
    QString proxyPort;

    void clear() { *this = ZAVezeSipInfo(); }
    // "account@host:port", parts left out when empty (a port only with a host).
    QString summary() const;
};
