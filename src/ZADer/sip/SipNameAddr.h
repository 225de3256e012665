#pragma once

#include <cstdint>
#include <string>

struct osip_from;

// A From or To address: display name and the parts of its URI.
class SipNameAddr
{
public:
    static constexpr int kDefaultPort = 5060;

    std::string displayName; // unquoted (RFC 3261 25.1 quoted-string)
    std::string scheme;
    std::string username;
    std::string password;
    std::string host;
    int32_t port = kDefaultPort; // the URI's port, 5060 when it has none

    // A null header gives an empty address (port 5060).
    static SipNameAddr fromHeader(const osip_from* header);
    // The URI port text as a number: 5060 when absent, empty or not a port.
    static int portOf(const char* text);
};
