#include "SipDigest.h"

#include "SipText.h"

#include <openssl/evp.h>

std::string SipDigest::md5Hex(const std::string& data)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(data.data(), data.size(), digest, &length, EVP_md5(), nullptr) != 1)
        return std::string();
    return SipText::hex(digest, length);
}

std::string SipDigest::ha1(const std::string& user, const std::string& realm, const std::string& password)
{
    return md5Hex(user + ":" + realm + ":" + password);
}

std::string SipDigest::response(const std::string& ha1, const std::string& nonce, const std::string& nc,
                                const std::string& cnonce, const std::string& qop,
                                const std::string& method, const std::string& uri)
{
    const std::string ha2 = md5Hex(method + ":" + uri);
    if (qop.empty())
        return md5Hex(ha1 + ":" + nonce + ":" + ha2);
    return md5Hex(ha1 + ":" + nonce + ":" + nc + ":" + cnonce + ":" + qop + ":" + ha2);
}
