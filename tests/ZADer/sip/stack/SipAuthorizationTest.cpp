#include "SipAuthorization.h"
#include "SipDigest.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A 401 (or 407 when proxy) carrying the given challenge headers, parsed as the stack gets it.
osip_message_t* challengeAnswer(const std::string& headers, bool proxy)
{
    // The parser's header tables; a stack would set them up.
    static const bool ready = parser_init() == 0;
    if (!ready)
        return nullptr;
    const std::string text = std::string("SIP/2.0 ") + (proxy ? "407 Proxy Authentication Required" : "401 Unauthorized") +
                             "\r\nVia: SIP/2.0/UDP 127.0.0.1:5060;branch=z9hG4bK1\r\n"
                             "From: <sip:a@127.0.0.2>;tag=1\r\nTo: <sip:a@127.0.0.2>;tag=2\r\n"
                             "Call-ID: c1\r\nCSeq: 1 REGISTER\r\n" +
                             headers + "Content-Length: 0\r\n\r\n";
    osip_message_t* message = nullptr;
    if (osip_message_init(&message) != 0)
        return nullptr;
    if (osip_message_parse(message, text.c_str(), text.size()) != 0) {
        osip_message_free(message);
        return nullptr;
    }
    return message;
}

const char* const kRfcChallenge = "WWW-Authenticate: Digest realm=\"testrealm@host.com\", qop=\"auth,auth-int\", "
                                  "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", "
                                  "opaque=\"5ccc069c403ebaf9f0171e9517f40e41\"\r\n";

} // namespace

// RFC 2617 3.5: the header answering the example challenge, built without a stack.
TEST(SipAuthorizationTest, Rfc2617Header)
{
    osip_message_t* answer = challengeAnswer(kRfcChallenge, false);
    ASSERT_NE(answer, nullptr);
    const osip_www_authenticate_t* challenge = SipAuthorization::digestChallenge(answer);
    ASSERT_NE(challenge, nullptr);
    EXPECT_EQ(SipAuthorization::realmOf(*challenge), "testrealm@host.com");
    std::string header;
    ASSERT_EQ(SipAuthorization::header(*challenge, {"Mufasa", "Circle Of Life", ""}, "GET", "/dir/index.html", 1,
                                       "0a4f113b", &header),
              SipAuthorization::Status::Ok);
    EXPECT_EQ(header, "Digest username=\"Mufasa\", realm=\"testrealm@host.com\", "
                      "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", uri=\"/dir/index.html\", "
                      "response=\"6629fae49393a05397450978507c4ef1\", algorithm=MD5, cnonce=\"0a4f113b\", qop=auth, "
                      "nc=00000001, opaque=\"5ccc069c403ebaf9f0171e9517f40e41\"");
    // A stored HA1 stands for the password.
    std::string fromHa1;
    SipAuthorization::header(*challenge,
                             {"Mufasa", "", SipDigest::ha1("Mufasa", "testrealm@host.com", "Circle Of Life")},
                             "GET", "/dir/index.html", 1, "0a4f113b", &fromHa1);
    EXPECT_EQ(fromHa1, header);
    osip_message_free(answer);
}

// Which challenge is answered, and how: one row per challenge text.
TEST(SipAuthorizationTest, ChallengeTable)
{
    const struct
    {
        const char* name;
        const char* headers;
        bool proxy;
        bool found;
        SipAuthorization::Status status;
        const char* contains;    // in the header when Ok
        const char* notContains; // not in the header when Ok
    } rows[] = {
        {"no qop: the RFC 2069 form", "WWW-Authenticate: Digest realm=\"r\", nonce=\"n1\"\r\n", false, true,
         SipAuthorization::Status::Ok, "algorithm=MD5", "qop="},
        {"auth-int only", "WWW-Authenticate: Digest realm=\"r\", nonce=\"n1\", qop=\"auth-int\"\r\n", false, true,
         SipAuthorization::Status::UnsupportedQop, "", ""},
        {"Basic before Digest",
         "WWW-Authenticate: Basic realm=\"r\"\r\nWWW-Authenticate: Digest realm=\"r\", nonce=\"n2\", qop=\"auth\"\r\n",
         false, true, SipAuthorization::Status::Ok, "nonce=\"n2\"", "Basic"},
        {"algorithm SHA-256 only", "WWW-Authenticate: Digest realm=\"r\", nonce=\"n1\", algorithm=SHA-256\r\n",
         false, false, SipAuthorization::Status::Ok, "", ""},
        {"explicit MD5", "WWW-Authenticate: Digest realm=\"r\", nonce=\"n3\", algorithm=MD5\r\n", false, true,
         SipAuthorization::Status::Ok, "nonce=\"n3\"", "cnonce"},
        {"407 answers Proxy-Authenticate", "Proxy-Authenticate: Digest realm=\"p\", nonce=\"n4\"\r\n", true, true,
         SipAuthorization::Status::Ok, "realm=\"p\"", "opaque"},
        {"401 ignores Proxy-Authenticate", "Proxy-Authenticate: Digest realm=\"p\", nonce=\"n4\"\r\n", false, false,
         SipAuthorization::Status::Ok, "", ""},
        {"user name quoted", "WWW-Authenticate: Digest realm=\"r\", nonce=\"n5\"\r\n", false, true,
         SipAuthorization::Status::Ok, "username=\"a\\\"b\"", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        osip_message_t* answer = challengeAnswer(row.headers, row.proxy);
        ASSERT_NE(answer, nullptr);
        const osip_www_authenticate_t* challenge = SipAuthorization::digestChallenge(answer);
        EXPECT_EQ(challenge != nullptr, row.found);
        if (challenge) {
            std::string header;
            const SipAuthorization::Status status = SipAuthorization::header(
                *challenge, {"a\"b", "pw", ""}, "REGISTER", "sip:127.0.0.2", 3, "c0ffee", &header);
            EXPECT_EQ(status, row.status);
            if (status == SipAuthorization::Status::Ok) {
                EXPECT_NE(header.find(row.contains), std::string::npos) << header;
                if (*row.notContains)
                    EXPECT_EQ(header.find(row.notContains), std::string::npos) << header;
                if (header.find("qop=auth") != std::string::npos)
                    EXPECT_NE(header.find("nc=00000003"), std::string::npos) << header;
            }
        }
        osip_message_free(answer);
    }
}
