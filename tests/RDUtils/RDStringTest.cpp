#include "RDString.h"

#include <gtest/gtest.h>

#include <climits>

TEST(RDString, UrlDecodeTable)
{
    struct Case
    {
        std::string in;
        std::string out;
    } cases[] = {
        {"a+b%20c", "a b c"},
        {"%2F", "/"},
        {"%2f", "/"},
        {"%41%61", "Aa"},
        {"%", "%"},
        {"%4", "%4"},
        {"a%2", "a%2"},
        {"%zz", "%zz"},
        {"%G1", "%G1"},    // letters after F are not hex digits
        {"%%41", "%A"},
        {"%00x", std::string("\0x", 2)},
        {"%ff", "\xff"},
        {"", ""},
        {"plain", "plain"},
        {"100%", "100%"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(urlDecode(c.in), c.out) << c.in;
        // A SIP user part keeps its '+' (a phone number); the escapes decode the same.
        if (c.in.find('+') == std::string::npos)
            EXPECT_EQ(percentDecode(c.in), c.out) << c.in;
    }
    EXPECT_EQ(percentDecode("+49%2030"), "+49 30");
}

TEST(RDString, UrlDecodeStaysWithinItsInput)
{
    // Escapes cut off at the very end of a buffer with nothing after it (ASan watches).
    for (const char* text : {"%", "%4", "ab%", "ab%f"}) {
        const std::string exact(text);
        std::string copy = exact;
        copy.shrink_to_fit();
        EXPECT_EQ(urlDecode(copy), exact);
    }
}

TEST(RDString, ToIntTable)
{
    struct Case
    {
        const char* text;
        int value;
    } cases[] = {
        {"12abc", 12}, {"abc", 7}, {"", 7}, {"99999999999", 7}, {"-99999999999", 7}, {" -3", -3},
        {"+5", 5},     {"2147483647", INT_MAX}, {"-2147483648", INT_MIN}, {"2147483648", 7}, {"-", 7},
    };
    for (const Case& c : cases)
        EXPECT_EQ(toInt(c.text, 7), c.value) << c.text;
}

TEST(RDString, SplitStringTable)
{
    using V = std::vector<std::string>;
    EXPECT_EQ(splitString("a,,b", ","), (V{"a", "", "b"}));
    EXPECT_EQ(splitString("a,b,", ","), (V{"a", "b", ""}));
    EXPECT_EQ(splitString("", ","), (V{""}));
    EXPECT_EQ(splitString("a=b=c", "=", 2), (V{"a", "b"}));
    EXPECT_EQ(splitString("a=b=c", "=", 0), (V{"a", "b", "c"}));
    EXPECT_EQ(splitString("a=b=c", "=", -1), (V{"a", "b", "c"}));
    EXPECT_EQ(splitString("a\r\nb\r\n\r\nc", "\r\n"), (V{"a", "b", "", "c"}));
    EXPECT_EQ(splitString("abc", ""), (V{"abc"}));
    EXPECT_EQ(splitString("Basic  x", " "), (V{"Basic", "", "x"}));
}

TEST(RDString, Comparisons)
{
    EXPECT_EQ(compareIgnoreCase("Content-Length", "content-length"), 0);
    EXPECT_EQ(compareIgnoreCase("ab", "abc"), -1);
    EXPECT_EQ(compareIgnoreCase("abc", "ab"), 1);
    EXPECT_EQ(compareIgnoreCase("b", "aa"), -1);
    EXPECT_LT(compareIgnoreCase("a", "b"), 0);
    // Bytes of 0x80 and above fold without undefined behaviour and compare as bytes.
    EXPECT_EQ(compareIgnoreCase("\xe4x", "\xe4X"), 0);
    EXPECT_NE(compareIgnoreCase("\xe4", "\xc4"), 0);

    EXPECT_EQ(compareString(std::string("a"), std::string("a")), 0);
    EXPECT_LT(compareString(std::string("a"), std::string("b")), 0);

    EXPECT_EQ(compareString(nullptr, nullptr), 0);
    EXPECT_EQ(compareString("x", nullptr), 1);
    EXPECT_EQ(compareString("", nullptr), 0);
    EXPECT_LT(compareString(nullptr, "x"), 0);
    EXPECT_EQ(compareString("abc", "abc"), 0);
    EXPECT_EQ(compareString("abd", "abc"), 1);
    EXPECT_EQ(compareString("ab", "abc"), -'c');
    // Signed 8-bit difference.
    EXPECT_LT(compareString("\x80", "a"), 0);

    EXPECT_EQ(compareStringIgnoreCase("SIP", "sip"), 0);
    EXPECT_EQ(compareStringIgnoreCase(nullptr, nullptr), 0);
    EXPECT_NE(compareStringIgnoreCase("sip", "sips"), 0);
    EXPECT_EQ(compareStringIgnoreCase("\xff", "\xff"), 0);

    EXPECT_TRUE(equalsIgnoreCase("Digest", "DIGEST"));
    EXPECT_FALSE(equalsIgnoreCase("auth", "auth-int"));
    EXPECT_FALSE(equalsIgnoreCase(nullptr, nullptr));
    EXPECT_FALSE(equalsIgnoreCase("", nullptr));

    // A strict weak order: names equal but for case are equivalent, and bytes fold as unsigned.
    EXPECT_FALSE(lessIgnoreCase("Host", "host"));
    EXPECT_FALSE(lessIgnoreCase("host", "Host"));
    EXPECT_TRUE(lessIgnoreCase("Accept", "accept-encoding"));
    EXPECT_TRUE(lessIgnoreCase("a", "\xe4"));
}

TEST(RDString, CredentialHeaders)
{
    for (const char* name : {"Authorization", "authorization", "Proxy-Authorization", "COOKIE"})
        EXPECT_TRUE(isCredentialHeader(name)) << name;
    for (const char* name : {"Host", "Authorization2", "Set-Cookie", ""})
        EXPECT_FALSE(isCredentialHeader(name)) << name;
}

TEST(RDString, SmallHelpers)
{
    EXPECT_TRUE(isEmptyString(nullptr));
    EXPECT_TRUE(isEmptyString(""));
    EXPECT_FALSE(isEmptyString("a"));
    EXPECT_EQ(stringFromCStr(nullptr), "");
    EXPECT_EQ(stringFromCStr("ab"), "ab");
    EXPECT_EQ(stringFromBytes("a\0b", 3), std::string("a\0b", 3));
    EXPECT_EQ(stringFromBytes("abc", 0), "");
    EXPECT_EQ(stringFromBytes("abc", -1), "");
    EXPECT_EQ(stringFromBytes(nullptr, 3), "");

    EXPECT_TRUE(startsWith("/stream/7", "/stream"));
    EXPECT_TRUE(startsWith("abc", ""));
    EXPECT_FALSE(startsWith("/str", "/stream"));

    std::string t = " \r\nx \n";
    EXPECT_EQ(trim(t), "x");
    EXPECT_EQ(&trim(t), &t);
    t = " \r\n ";
    EXPECT_EQ(trim(t), "");
    t = "\tx\t";
    EXPECT_EQ(trim(t), "\tx\t");

    EXPECT_EQ(joinUrlPath("/stream/", "/a"), "/stream/a");
    EXPECT_EQ(joinUrlPath("/stream", "a"), "/stream/a");
    EXPECT_EQ(joinUrlPath("/stream/", "a"), "/stream/a");
    EXPECT_EQ(joinUrlPath("/stream", "/a"), "/stream/a");
    EXPECT_EQ(joinUrlPath("", "a"), "/a");
    EXPECT_EQ(joinUrlPath("a", ""), "a/");

    EXPECT_EQ(utf8ToWide("a\xc3\xa4\xe2\x82\xac"), std::wstring(L"a\u00e4\u20ac"));
    EXPECT_EQ(utf8ToWide(""), std::wstring());
}
