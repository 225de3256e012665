#include "SipStackEvent.h"

SipStackEvent::~SipStackEvent()
{
    if (request)
        osip_message_free(request);
    if (response)
        osip_message_free(response);
    if (ack)
        osip_message_free(ack);
}
