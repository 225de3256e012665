#include "SipNameAddr.h"

#include "RDString.h"
#include "SipText.h"

#include <osipparser2/osip_parser.h>

SipNameAddr SipNameAddr::fromHeader(const osip_from* header)
{
    SipNameAddr result;
    if (!header)
        return result;
    result.displayName = SipText::unquote(header->displayname);
    if (const osip_uri_t* uri = header->url) {
        result.scheme = stringFromCStr(uri->scheme);
        result.username = stringFromCStr(uri->username);
        result.password = stringFromCStr(uri->password);
        result.host = stringFromCStr(uri->host);
        result.port = portOf(uri->port);
    }
    return result;
}

int SipNameAddr::portOf(const char* text)
{
    if (isEmptyString(text))
        return kDefaultPort;
    const int port = toInt(text, -1);
    return port >= 1 && port <= 65535 ? port : kDefaultPort;
}
