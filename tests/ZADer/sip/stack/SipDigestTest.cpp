#include "SipDigest.h"

#include <gtest/gtest.h>

// RFC 2617 section 3.5.
TEST(SipDigestTest, Rfc2617Vector)
{
    const std::string ha1 = SipDigest::ha1("Mufasa", "testrealm@host.com", "Circle Of Life");
    EXPECT_EQ(ha1, "939e7578ed9e3c518a452acee763bce9");
    EXPECT_EQ(SipDigest::response(ha1, "dcd98b7102dd2f0e8b11d0f600bfb0c093", "00000001", "0a4f113b", "auth", "GET",
                                  "/dir/index.html"),
              "6629fae49393a05397450978507c4ef1");
}

// Without qop the RFC 2069 form MD5(HA1:nonce:HA2) applies and nc/cnonce play no part.
TEST(SipDigestTest, WithoutQop)
{
    const std::string ha1 = SipDigest::ha1("Mufasa", "testrealm@host.com", "Circle Of Life");
    const std::string ha2 = SipDigest::md5Hex("GET:/dir/index.html");
    const std::string expected = SipDigest::md5Hex(ha1 + ":dcd98b7102dd2f0e8b11d0f600bfb0c093:" + ha2);
    EXPECT_EQ(SipDigest::response(ha1, "dcd98b7102dd2f0e8b11d0f600bfb0c093", "00000009", "x", "", "GET",
                                  "/dir/index.html"),
              expected);
    EXPECT_EQ(SipDigest::md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
}
