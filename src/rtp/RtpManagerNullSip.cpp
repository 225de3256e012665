#include "RtpManagerNullSip.h"

#include "RDLog.h"

int RtpManagerNullSip::init(int port, int transport)
{
    RDLOG("no SIP agent: port %d (transport %d) is not listened on, channels do not register", port, transport);
    return 0;
}

int RtpManagerNullSip::restart(int port)
{
    return init(port, 0);
}
