#pragma once

#include <osipparser2/osip_message.h>

#include <memory>

// An osip message the holder owns: freed with osip_message_free.
struct SipMessageFree
{
    void operator()(osip_message_t* message) const
    {
        if (message)
            osip_message_free(message);
    }
};
using SipMessagePtr = std::unique_ptr<osip_message_t, SipMessageFree>;
