#include "ZAVezeSipInfo.h"

QString ZAVezeSipInfo::summary() const
{
    QString text = account;
    if (!account.isEmpty() && !serverHost.isEmpty())
        text += QLatin1Char('@');
    if (!serverHost.isEmpty()) {
        text += serverHost;
        if (!serverPort.isEmpty())
            text += QLatin1Char(':') + serverPort;
    }
    return text;
}
