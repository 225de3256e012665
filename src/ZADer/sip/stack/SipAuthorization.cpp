#include "SipAuthorization.h"

#include "SipDigest.h"
#include "SipText.h"

#include <cstdio>

osip_www_authenticate_t* SipAuthorization::digestChallenge(osip_message_t* answer)
{
    if (!answer)
        return nullptr;
    const bool proxy = answer->status_code == 407;
    for (int i = 0;; ++i) {
        osip_www_authenticate_t* candidate = nullptr;
        const int found = proxy ? osip_message_get_proxy_authenticate(answer, i, &candidate)
                                : osip_message_get_www_authenticate(answer, i, &candidate);
        if (found < 0 || !candidate)
            return nullptr;
        // RFC 2617 3.2.1: an absent algorithm means MD5.
        const std::string algorithm = SipText::unquote(candidate->algorithm);
        if (SipText::equalsIgnoreCase(candidate->auth_type, "Digest") && candidate->nonce &&
            (algorithm.empty() || SipText::equalsIgnoreCase(algorithm.c_str(), "MD5")))
            return candidate;
    }
}

std::string SipAuthorization::realmOf(const osip_www_authenticate_t& challenge)
{
    return SipText::unquote(challenge.realm);
}

std::string SipAuthorization::nonceOf(const osip_www_authenticate_t& challenge)
{
    return SipText::unquote(challenge.nonce);
}

SipAuthorization::Status SipAuthorization::header(const osip_www_authenticate_t& challenge,
                                                  const Credentials& credentials, const std::string& method,
                                                  const std::string& uri, unsigned nonceCount,
                                                  const std::string& cnonce, std::string* value)
{
    // RFC 2617 3.2.1: qop-options is a quoted list; "auth" is what is answered.
    std::string qop;
    const std::string options = SipText::unquote(challenge.qop_options);
    if (!options.empty()) {
        size_t start = 0;
        while (start <= options.size()) {
            size_t end = options.find(',', start);
            if (end == std::string::npos)
                end = options.size();
            std::string option = options.substr(start, end - start);
            option.erase(0, option.find_first_not_of(" \t"));
            option.erase(option.find_last_not_of(" \t") + 1);
            if (SipText::equalsIgnoreCase(option.c_str(), "auth"))
                qop = "auth";
            start = end + 1;
        }
        if (qop.empty())
            return Status::UnsupportedQop;
    }
    const std::string realm = realmOf(challenge);
    const std::string nonce = nonceOf(challenge);
    char nc[16];
    std::snprintf(nc, sizeof(nc), "%08x", nonceCount);
    const std::string ha1 =
        credentials.ha1.empty() ? SipDigest::ha1(credentials.userid, realm, credentials.password) : credentials.ha1;
    const std::string digest = SipDigest::response(ha1, nonce, nc, cnonce, qop, method, uri);
    std::string text = "Digest username=" + SipText::quote(credentials.userid) + ", realm=" + SipText::quote(realm) +
                       ", nonce=" + SipText::quote(nonce) + ", uri=" + SipText::quote(uri) + ", response=\"" +
                       digest + "\", algorithm=MD5";
    if (!qop.empty())
        text += ", cnonce=\"" + cnonce + "\", qop=auth, nc=" + nc;
    // RFC 2617 3.2.2: the opaque value goes back unchanged.
    if (challenge.opaque)
        text += ", opaque=" + SipText::quote(SipText::unquote(challenge.opaque));
    if (value)
        *value = text;
    return Status::Ok;
}
