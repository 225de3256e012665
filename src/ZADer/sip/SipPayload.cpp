#include "SipPayload.h"

#include "RDString.h"

bool SipPayload::sameFormat(const SipPayload& other) const
{
    return payloadType == other.payloadType && compareIgnoreCase(name, other.name) == 0;
}
