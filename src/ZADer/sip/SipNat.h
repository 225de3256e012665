#pragma once

#include <string>

struct osip_message;
typedef struct osip_message osip_message_t;

// What a registrar tells of the NAT in front of us (RFC 3581 4).
class SipNat
{
public:
    // The address the registrar saw us at, when its 200 (first Via: received and rport, an IPv4
    // address and a port) names another than the Contact we registered.
    static bool masqueradeTarget(osip_message_t* response, osip_message_t* request, std::string* received,
                                 int* rport);
};
