#include "RDDigest.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

std::string hex(const unsigned char* bytes, int size)
{
    std::string text;
    char piece[3];
    for (int i = 0; i < size; ++i) {
        std::snprintf(piece, sizeof(piece), "%02x", bytes[i]);
        text += piece;
    }
    return text;
}

std::string sha1Hex(const std::string& message, int repeat = 1)
{
    std::string data;
    for (int i = 0; i < repeat; ++i)
        data += message;
    unsigned char digest[kSha1DigestSize];
    EXPECT_EQ(sha1(data.data(), static_cast<int>(data.size()), digest), 0);
    return hex(digest, kSha1DigestSize);
}

} // namespace

// RFC 4648 section 10.
TEST(RDDigest, Base64Rfc4648Vectors)
{
    const char* vectors[][2] = {{"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},
                                {"foo", "Zm9v"},  {"foob", "Zm9vYg=="},  {"fooba", "Zm9vYmE="},
                                {"foobar", "Zm9vYmFy"}, {"abc", "YWJj"}, {"a", "YQ=="},
                                {"ab", "YWI="}};
    for (const auto& v : vectors)
        EXPECT_EQ(base64Encode(std::string(v[0])), v[1]) << v[0];
    const unsigned char bytes[] = {0xfb, 0xff, 0x00, 0x3e};
    EXPECT_EQ(base64Encode(bytes, 4), "+/8APg==");
    EXPECT_EQ(base64Encode(nullptr, 3), "");
    EXPECT_EQ(base64Encode(bytes, -1), "");
    // The WebSocket accept key of RFC 6455 section 1.3.
    unsigned char digest[kSha1DigestSize];
    const std::string key = "dGhlIHNhbXBsZSBub25jZQ==258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
    ASSERT_EQ(sha1(key.data(), static_cast<int>(key.size()), digest), 0);
    EXPECT_EQ(base64Encode(digest, kSha1DigestSize), "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
}

// RFC 3174 section 7.3, plus the empty message and the lengths around the padding edge.
TEST(RDDigest, Sha1Rfc3174Vectors)
{
    EXPECT_EQ(sha1Hex("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(sha1Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
    EXPECT_EQ(sha1Hex("a", 1000000), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
    EXPECT_EQ(sha1Hex("0123456701234567012345670123456701234567012345670123456701234567", 10),
              "dea356a2cddd90c7a7ecedc5ebb563934f460452");
    EXPECT_EQ(sha1Hex(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    EXPECT_EQ(sha1Hex(std::string(55, 'a')), "c1c8bbdc22796e28c0e15163d20899b65621d65a");
    EXPECT_EQ(sha1Hex(std::string(56, 'a')), "c2db330f6083854c99d4b5bfb6e8f29f201be699");
    EXPECT_EQ(sha1Hex(std::string(64, 'a')), "0098ba824b5c16427bd7a1122a5a442a25ec644d");
}

TEST(RDDigest, Sha1RefusesBadArguments)
{
    unsigned char digest[kSha1DigestSize];
    EXPECT_EQ(sha1("abc", 3, nullptr), 1);
    EXPECT_EQ(sha1(nullptr, 3, digest), 1);
    EXPECT_EQ(sha1("abc", -1, digest), 1);
    EXPECT_EQ(sha1(nullptr, 0, digest), 0);
    EXPECT_EQ(hex(digest, kSha1DigestSize), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
}
