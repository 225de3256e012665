#include "SipAccountInfo.h"
#include "SipContentType.h"
#include "SipManager.h"
#include "SipMessageInfo.h"
#include "SipNameAddr.h"
#include "SipStack.h"
#include "SipStackEvent.h"
#include "SipTestPeer.h"

#include <gtest/gtest.h>

#include <memory>

TEST(SipContentTypeTest, ParseAndCompare)
{
    const SipContentType parsed = SipContentType::parse(" text / plain ; charset = utf-8 ;; =x; flag");
    EXPECT_EQ(parsed.type, "text");
    EXPECT_EQ(parsed.subtype, "plain");
    ASSERT_EQ(parsed.params.size(), 2u);
    EXPECT_EQ(parsed.params.at("charset"), "utf-8");
    EXPECT_EQ(parsed.params.at("flag"), "");

    const SipContentType imdn = SipContentType::parse("message/imdn+xml");
    struct Row
    {
        const char* text;
        bool equal; // byte for byte
        bool same; // type and subtype ignoring case, parameters exact
    };
    const Row rows[] = {
        {"message/imdn+xml", true, true},
        {"Message/IMDN+XML", false, true},
        {"message/imdn+xml;x=y", false, false},
        {"message/imdn", false, false},
        {"text/plain", false, false},
        {"", false, false},
    };
    for (const Row& row : rows) {
        const SipContentType other = SipContentType::parse(row.text);
        EXPECT_EQ(other == imdn, row.equal) << row.text;
        EXPECT_EQ(other.sameAs(imdn), row.same) << row.text;
    }
}

TEST(SipNameAddrTest, DisplayNameAndPort)
{
    const struct
    {
        const char* header;
        const char* displayName;
        int port;
    } rows[] = {
        {"\"Desk 12\" <sip:12@127.0.0.2:5070>", "Desk 12", 5070},
        {"\"Desk \\\"A\\\"\" <sip:12@127.0.0.2>", "Desk \"A\"", 5060},
        {"\"\" <sip:12@127.0.0.2>", "", 5060},
        {"Desk <sip:12@127.0.0.2:99999>", "Desk", 5060},
        {"sip:12@127.0.0.2", "", 5060},
    };
    for (const auto& row : rows) {
        osip_from_t* from = nullptr;
        ASSERT_EQ(osip_from_init(&from), 0);
        ASSERT_EQ(osip_from_parse(from, row.header), 0) << row.header;
        const SipNameAddr parsed = SipNameAddr::fromHeader(from);
        EXPECT_EQ(parsed.displayName, row.displayName) << row.header;
        EXPECT_EQ(parsed.username, "12") << row.header;
        EXPECT_EQ(parsed.port, row.port) << row.header;
        osip_from_free(from);
    }
    EXPECT_EQ(SipNameAddr::portOf(nullptr), 5060);
    EXPECT_EQ(SipNameAddr::portOf(""), 5060);
    EXPECT_EQ(SipNameAddr::portOf("5070"), 5070);
    EXPECT_EQ(SipNameAddr::portOf("99999"), 5060);
}

TEST(SipAccountInfoTest, Defaults)
{
    SipAccountInfo account;
    EXPECT_EQ(account.id, 0);
    EXPECT_EQ(account.expire, 0);
    EXPECT_FALSE(account.isComplete());
    account.username = "alice";
    account.server = "127.0.0.2";
    account.proxy = "127.0.0.3";
    account.applyDefaults();
    EXPECT_EQ(account.serverPort, 5060);
    EXPECT_EQ(account.proxyPort, 5060);
    EXPECT_EQ(account.authId, "alice");
    EXPECT_EQ(account.expire, 360);
    EXPECT_FALSE(account.isComplete()); // no password
    account.password = "pw";
    EXPECT_TRUE(account.isComplete());

    SipAccountInfo kept;
    kept.username = "alice";
    kept.authId = "a1";
    kept.serverPort = 5070; // no server: stays
    kept.expire = 30;
    kept.applyDefaults();
    EXPECT_EQ(kept.authId, "a1");
    EXPECT_EQ(kept.serverPort, 5070);
    EXPECT_EQ(kept.expire, 30);
}

// The agent's address never stays empty: guessed, else the adapter's, else loopback.
TEST(SipManagerAddressTest, LocalIpFallback)
{
    struct Row
    {
        const char* guessed;
        const char* adapter;
        const char* expected;
    };
    const Row rows[] = {
        {"192.0.2.2", "10.1.1.1", "192.0.2.2"},
        {"", "10.1.1.1", "10.1.1.1"},
        {"", "", "127.0.0.1"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(SipManager::chooseLocalIp(row.guessed, row.adapter), row.expected) << row.guessed << "|" << row.adapter;
}

// A MESSAGE as the stack hands it over: the summary takes ids from the event and the rest from
// the request.
TEST(SipMessageInfoTest, FromStackEvent)
{
    SipStackPtr stack = SipStack::create();
    ASSERT_TRUE(stack);
    ASSERT_EQ(stack->listen(17, 0), 0);
    SipTestPeer peer("127.0.0.2");
    ASSERT_TRUE(peer.isOpen());
    const std::string body = "hello";
    const std::string message =
        "MESSAGE sip:12@127.0.0.1:" + std::to_string(stack->localPort()) +
        " SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.2:" + std::to_string(peer.port()) +
        ";branch=z9hG4bKinfo1;rport\r\nFrom: \"Desk 12\" <sip:caller:pw@127.0.0.2>;tag=a\r\n"
        "To: <sip:12@127.0.0.1:5070>\r\nCall-ID: info1@127.0.0.2\r\nCSeq: 1 MESSAGE\r\nMax-Forwards: 70\r\n"
        "Content-Type: text/plain ; charset=\"utf-8\"\r\nContent-Length: " +
        std::to_string(body.size()) + "\r\n\r\n" + body;
    ASSERT_TRUE(peer.send(message, stack->localPort()));
    SipStackEvent* event = stack->eventWait(2, 0);
    ASSERT_NE(event, nullptr);
    ASSERT_EQ(event->type, SipStackEvent::MessageNew);
    const SipMessageInfo info = SipMessageInfo::fromEvent(event);
    EXPECT_EQ(info.tid, event->tid);
    EXPECT_EQ(info.method, "MESSAGE");
    EXPECT_EQ(info.body, "hello");
    EXPECT_EQ(info.contentType.type, "text");
    EXPECT_EQ(info.contentType.subtype, "plain");
    EXPECT_EQ(info.contentType.params.count("charset"), 1u);
    EXPECT_EQ(info.from.displayName, "Desk 12");
    EXPECT_EQ(info.from.username, "caller");
    EXPECT_EQ(info.from.password, "pw");
    EXPECT_EQ(info.from.host, "127.0.0.2");
    EXPECT_EQ(info.from.port, 5060);
    EXPECT_EQ(info.to.username, "12");
    EXPECT_EQ(info.to.port, 5070);
    SipStack::eventFree(event);
    stack->quit();
}
