#pragma once

#include <cstdint>
#include <string>

// One SIP account as the agent registers it: a value record, copied freely.
class SipAccountInfo
{
public:
    // mode values
    static constexpr int kModeNormal = 0;
    static constexpr int kModeDoNotDisturb = 2; // every incoming INVITE is ended at once
    static constexpr int kModeRegistrationOff = 3; // the account never sends REGISTER

    // Defaults of the channel's own copy.
    static constexpr int kDefaultPort = 5060;
    static constexpr int kDefaultExpire = 360;

    int32_t id = 0; // 0 is the manager's local-loop account
    int32_t mode = kModeNormal;
    std::string username; // user part of the address of record
    std::string server; // registrar host (name or IPv4 text)
    int32_t serverPort = 0;
    std::string authId; // authentication user name
    std::string password;
    std::string contact; // Contact URI to register; empty lets the stack build it
    std::string proxy; // outbound proxy host (calls)
    int32_t proxyPort = 0;
    int32_t expire = 0; // registration lifetime in seconds

    // The defaults a channel applies to its copy: ports 5060 where a host is given, authId from
    // the user name, a lifetime of 360 s when none is given.
    void applyDefaults();
    // Registrar, port, user name and password are all there.
    bool isComplete() const;
};
