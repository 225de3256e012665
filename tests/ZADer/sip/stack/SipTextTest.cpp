#include "SipText.h"

#include <gtest/gtest.h>

TEST(SipTextTest, EscapeUser)
{
    const struct
    {
        const char* in;
        const char* out;
    } cases[] = {
        {"alice", "alice"},
        {"a b@c", "a%20b%40c"},
        {"+49-30;x=1?/&$,", "+49-30;x=1?/&$,"},
        {"a:b", "a%3Ab"},
        {"100%", "100%25"},
        {"\xc3\xa9", "%C3%A9"},
        {"<\">", "%3C%22%3E"},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SipText::escapeUser(c.in), c.out) << c.in;
        EXPECT_EQ(SipText::unescape(SipText::escapeUser(c.in)), c.in) << c.in;
    }
}

TEST(SipTextTest, ControlCharacters)
{
    EXPECT_FALSE(SipText::hasControl("sip:alice@example.com"));
    EXPECT_FALSE(SipText::hasControl(static_cast<const char*>(nullptr)));
    for (const char* bad : {"a\rb", "a\nb", "a\tb", "\x7f", "x\x01"})
        EXPECT_TRUE(SipText::hasControl(bad)) << static_cast<int>(bad[1]);
}

TEST(SipTextTest, QuoteAndUnquote)
{
    EXPECT_EQ(SipText::quote("Desk \"A\" \\1"), "\"Desk \\\"A\\\" \\\\1\"");
    EXPECT_EQ(SipText::unquote("\"Desk \\\"A\\\"\""), "Desk \"A\"");
    EXPECT_EQ(SipText::unquote("plain"), "plain");
    EXPECT_EQ(SipText::unquote("\""), "\"");
}
