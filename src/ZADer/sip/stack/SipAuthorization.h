#pragma once

#include <osipparser2/osip_parser.h>

#include <string>

// The credentials header that answers a digest challenge (RFC 2617 3.2.2, RFC 3261 22.4):
// MD5 only, with qop "auth" when the challenge offers it and without qop when it names none.
// Pure: the caller picks the credentials, counts the nonce and draws the cnonce.
class SipAuthorization
{
public:
    enum class Status
    {
        Ok = 0,
        NoChallenge = 1,     // the answer holds no MD5 digest challenge
        UnsupportedQop = 2   // the challenge offers only qop values other than "auth"
    };

    struct Credentials
    {
        std::string userid;   // the digest user name
        std::string password;
        std::string ha1;      // hex; stands for the password when given
    };

    // The first MD5 digest challenge of a 401 (WWW-Authenticate) or 407 (Proxy-Authenticate);
    // null when there is none. It belongs to the answer.
    static osip_www_authenticate_t* digestChallenge(osip_message_t* answer);
    // The challenge's realm and nonce, unquoted.
    static std::string realmOf(const osip_www_authenticate_t& challenge);
    static std::string nonceOf(const osip_www_authenticate_t& challenge);

    // The header value (from "Digest " on) for a request of method to uri: *value set and Ok,
    // or the reason it cannot be answered. nonceCount is this nonce's use, counted from 1.
    static Status header(const osip_www_authenticate_t& challenge, const Credentials& credentials,
                         const std::string& method, const std::string& uri, unsigned nonceCount,
                         const std::string& cnonce, std::string* value);
};
