#pragma once

#include <cstdint>
#include <string>

struct osip_from;

// A From or To address: display name and the parts of its URI.
class SipNameAddr
{
public:
    static constexpr int kDefaultPort = 5060;

    std::string displayName; // one pair of surrounding double quotes removed
    std::string scheme;
    std::string username;
    std::string password;
    std::string host;
    int32_t port = kDefaultPort; // the URI's port, 5060 when it has none

    // A null header gives an empty address (port 5060).
    static SipNameAddr fromHeader(const osip_from* header);
    // Removes one pair of surrounding double quotes from a text longer than one character.
    static std::string unquoteDisplayName(const std::string& text);
    // The URI port text as a number: 5060 when absent, empty or not a port.
    static int portOf(const char* text);
};
