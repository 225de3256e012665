#include "SipAccountInfo.h"

void SipAccountInfo::applyDefaults()
{
    if (!server.empty() && serverPort < 1)
        serverPort = kDefaultPort;
    if (!username.empty() && authId.empty())
        authId = username;
    if (!proxy.empty() && proxyPort < 1)
        proxyPort = kDefaultPort;
    if (expire < 1)
        expire = kDefaultExpire;
}

bool SipAccountInfo::isComplete() const
{
    return !server.empty() && serverPort >= 1 && !username.empty() && !password.empty();
}
