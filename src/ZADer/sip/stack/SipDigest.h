#pragma once

#include <string>

// HTTP digest authentication (RFC 2617) as SIP uses it: MD5, with or without qop "auth".
class SipDigest
{
public:
    // Lower-case hex MD5 of the bytes.
    static std::string md5Hex(const std::string& data);
    // MD5(user ":" realm ":" password).
    static std::string ha1(const std::string& user, const std::string& realm, const std::string& password);
    // The request-digest. With an empty qop the RFC 2069 form MD5(HA1:nonce:HA2) is used and
    // nc and cnonce are ignored.
    static std::string response(const std::string& ha1, const std::string& nonce, const std::string& nc,
                                const std::string& cnonce, const std::string& qop,
                                const std::string& method, const std::string& uri);
};
