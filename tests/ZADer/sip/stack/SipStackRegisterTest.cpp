#include "SipDigest.h"
#include "SipMessage.h"
#include "SipStackTestBase.h"
#include "SipText.h"

#include <map>
#include <string>

namespace {

// The stack registers with the raw peer on 127.0.0.2, which plays the registrar.
class SipStackRegisterTest : public SipStackTestBase
{
protected:
    std::string registrar() const { return "sip:127.0.0.2:" + std::to_string(m_peer->port()); }
    std::string from(const std::string& user = "alice") const
    {
        return "sip:" + user + "@127.0.0.2:" + std::to_string(m_peer->port());
    }

    int start(int expires = 60, const char* contact = nullptr)
    {
        m_stack->lock();
        osip_message_t* message = nullptr;
        int rid = m_stack->registerBuildInitial(from().c_str(), registrar().c_str(), contact, expires, &message);
        if (rid > 0) {
            EXPECT_NE(message, nullptr);
            EXPECT_EQ(m_stack->registerSend(rid, message), 0);
        }
        m_stack->unlock();
        return rid;
    }

    int resend(int rid)
    {
        m_stack->lock();
        const int result = m_stack->registerSend(rid, nullptr);
        m_stack->unlock();
        return result;
    }

    SipTestPeer::Datagram nextRegister(int timeoutMs = 2000)
    {
        return m_peer->receiveStarting("REGISTER ", timeoutMs);
    }
};

// Digest parameters of an Authorization value, quotes removed.
std::map<std::string, std::string> digestParams(std::string value)
{
    std::map<std::string, std::string> params;
    if (value.rfind("Digest ", 0) == 0)
        value.erase(0, 7);
    size_t i = 0;
    while (i < value.size()) {
        while (i < value.size() && (value[i] == ' ' || value[i] == ','))
            ++i;
        const size_t equals = value.find('=', i);
        if (equals == std::string::npos)
            break;
        const std::string name = value.substr(i, equals - i);
        i = equals + 1;
        std::string item;
        if (i < value.size() && value[i] == '"') {
            const size_t close = value.find('"', i + 1);
            item = value.substr(i + 1, close - i - 1);
            i = close + 1;
        } else {
            const size_t comma = value.find(',', i);
            item = value.substr(i, comma == std::string::npos ? std::string::npos : comma - i);
            i = comma == std::string::npos ? value.size() : comma;
        }
        params[name] = item;
    }
    return params;
}

} // namespace

// Nobody answers: after 64 x T1 the registration fails with no response; a second send is
// refused while the first is pending.
TEST_F(SipStackRegisterTest, NoAnswerFailsWithoutResponse)
{
    const int64_t start = SipTestPeer::nowMs();
    const int rid = this->start();
    ASSERT_GT(rid, 0);
    EXPECT_EQ(resend(rid), OSIP_WRONG_STATE);
    m_stack->lock();
    osip_message_t* message = nullptr;
    EXPECT_EQ(m_stack->registerBuild(rid, 0, &message), OSIP_WRONG_STATE);
    m_stack->unlock();
    EXPECT_LT(resend(rid + 100000), 0);
    // The peer stays silent; REGISTER is retransmitted meanwhile.
    SipStackEvent* failed = waitEvent(SipStackEvent::RegistrationFailure, 64 * kT1 + 3000);
    ASSERT_NE(failed, nullptr);
    EXPECT_GE(SipTestPeer::nowMs() - start, 64 * kT1 - 100);
    EXPECT_EQ(failed->rid, rid);
    EXPECT_EQ(failed->response, nullptr);
    ASSERT_NE(failed->request, nullptr);
    EXPECT_STREQ(failed->request->sip_method, "REGISTER");
    SipStack::eventFree(failed);
    const auto copies = m_peer->collect(100);
    (void)copies;
    EXPECT_EQ(resend(rid), 0) << "a new attempt once the first has ended";
}

// The first REGISTER: From = To = AOR, our Contact, Expires, rport; a re-send keeps Call-ID and
// From tag with CSeq + 1 and a new branch.
TEST_F(SipStackRegisterTest, ResendKeepsCallIdWithNextCseq)
{
    const int rid = start(60);
    ASSERT_GT(rid, 0);
    const auto first = nextRegister();
    ASSERT_FALSE(first.text.empty());
    EXPECT_EQ(SipTestPeer::firstLine(first.text), "REGISTER " + registrar() + " SIP/2.0");
    EXPECT_EQ(SipTestPeer::header(first.text, "CSeq"), "1 REGISTER");
    EXPECT_EQ(SipTestPeer::header(first.text, "Expires"), "60");
    EXPECT_EQ(SipTestPeer::header(first.text, "Max-Forwards"), "70");
    EXPECT_EQ(SipTestPeer::header(first.text, "Contact"),
              "<sip:alice@127.0.0.1:" + std::to_string(m_port) + ">");
    EXPECT_NE(SipTestPeer::header(first.text, "Via").find("127.0.0.1:" + std::to_string(m_port) + ";rport;branch=z9hG4bK"),
              std::string::npos)
        << first.text;
    m_peer->send(SipTestPeer::answerTo(first.text, 200, "OK"), m_port);
    SipStackEvent* ok = waitEvent(SipStackEvent::RegistrationSuccess, 2000);
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->rid, rid);
    ASSERT_NE(ok->response, nullptr);
    EXPECT_EQ(ok->response->status_code, 200);
    SipStack::eventFree(ok);

    ASSERT_EQ(resend(rid), 0);
    const auto second = nextRegister();
    ASSERT_FALSE(second.text.empty());
    EXPECT_EQ(SipTestPeer::header(second.text, "Call-ID"), SipTestPeer::header(first.text, "Call-ID"));
    EXPECT_EQ(SipTestPeer::header(second.text, "From"), SipTestPeer::header(first.text, "From"));
    EXPECT_EQ(SipTestPeer::header(second.text, "CSeq"), "2 REGISTER");
    std::string branch1, branch2;
    SipTestPeer::headerParam(SipTestPeer::header(first.text, "Via"), "branch", &branch1);
    SipTestPeer::headerParam(SipTestPeer::header(second.text, "Via"), "branch", &branch2);
    EXPECT_NE(branch1, branch2);

    // Unregistering: Expires 0 built by the application.
    m_peer->send(SipTestPeer::answerTo(second.text, 200, "OK"), m_port);
    SipStack::eventFree(waitEvent(SipStackEvent::RegistrationSuccess, 2000));
    m_stack->lock();
    osip_message_t* message = nullptr;
    ASSERT_EQ(m_stack->registerBuild(rid, 0, &message), 0);
    EXPECT_EQ(m_stack->registerSend(rid, message), 0);
    m_stack->unlock();
    const auto third = nextRegister();
    EXPECT_EQ(SipTestPeer::header(third.text, "Expires"), "0");
    EXPECT_EQ(SipTestPeer::header(third.text, "CSeq"), "3 REGISTER");
}

// Answers to challenges: 401 and 407, with and without qop. The credentials are computed when
// the REGISTER is sent; the nonce count rises per nonce.
TEST_F(SipStackRegisterTest, DigestAnswers)
{
    const struct
    {
        int status;
        const char* challengeHeader;
        const char* answerHeader;
        bool qop;
    } cases[] = {
        {401, "WWW-Authenticate", "Authorization", true},
        {401, "WWW-Authenticate", "Authorization", false},
        {407, "Proxy-Authenticate", "Proxy-Authorization", true},
        {407, "Proxy-Authenticate", "Proxy-Authorization", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.status) + (c.qop ? " qop" : " no qop"));
        const int rid = start();
        ASSERT_GT(rid, 0);
        const auto first = nextRegister();
        ASSERT_FALSE(first.text.empty());
        EXPECT_TRUE(SipTestPeer::header(first.text, c.answerHeader).empty());
        std::string challenge = std::string(c.challengeHeader) +
                                ": Digest realm=\"sonaris\", nonce=\"n0nce\", opaque=\"op4que\", algorithm=MD5";
        if (c.qop)
            challenge += ", qop=\"auth,auth-int\"";
        m_peer->send(SipTestPeer::answerTo(first.text, c.status, "Unauthorized", challenge + "\r\n"), m_port);
        SipStackEvent* failed = waitEvent(SipStackEvent::RegistrationFailure, 2000);
        ASSERT_NE(failed, nullptr);
        ASSERT_NE(failed->response, nullptr);
        EXPECT_EQ(failed->response->status_code, c.status);
        SipStack::eventFree(failed);
        m_stack->lock();
        // Credentials stored per realm; a wrong realm entry must not be used.
        EXPECT_EQ(m_stack->addAuthInfo("alice", "alice-id", "wrong", nullptr, "elsewhere"), 0);
        EXPECT_EQ(m_stack->addAuthInfo("alice", "alice-id", "s3cret", nullptr, "sonaris"), 0);
        m_stack->unlock();
        for (int round = 1; round <= 2; ++round) {
            ASSERT_EQ(resend(rid), 0);
            const auto answer = nextRegister();
            ASSERT_FALSE(answer.text.empty());
            const auto params = digestParams(SipTestPeer::header(answer.text, c.answerHeader));
            ASSERT_FALSE(params.empty()) << answer.text;
            EXPECT_EQ(params.at("username"), "alice-id");
            EXPECT_EQ(params.at("realm"), "sonaris");
            EXPECT_EQ(params.at("nonce"), "n0nce");
            EXPECT_EQ(params.at("uri"), registrar());
            EXPECT_EQ(params.at("opaque"), "op4que");
            const std::string ha1 = SipDigest::ha1("alice-id", "sonaris", "s3cret");
            if (c.qop) {
                EXPECT_EQ(params.at("qop"), "auth");
                EXPECT_EQ(params.at("nc"), round == 1 ? "00000001" : "00000002");
                EXPECT_EQ(params.at("response"), SipDigest::response(ha1, "n0nce", params.at("nc"), params.at("cnonce"),
                                                                     "auth", "REGISTER", registrar()));
            } else {
                EXPECT_EQ(params.count("qop"), 0u);
                EXPECT_EQ(params.count("cnonce"), 0u);
                EXPECT_EQ(params.at("response"), SipDigest::response(ha1, "n0nce", "", "", "", "REGISTER", registrar()));
            }
            m_peer->send(SipTestPeer::answerTo(answer.text, 200, "OK"), m_port);
            SipStackEvent* ok = waitEvent(SipStackEvent::RegistrationSuccess, 2000);
            ASSERT_NE(ok, nullptr);
            SipStack::eventFree(ok);
        }
        m_stack->lock();
        EXPECT_EQ(m_stack->removeAuthInfo("alice", "sonaris"), 0);
        EXPECT_EQ(m_stack->removeAuthInfo("alice", "elsewhere"), 0);
        EXPECT_EQ(m_stack->removeAuthInfo("alice", "sonaris"), OSIP_NOTFOUND);
        EXPECT_EQ(m_stack->registerRemove(rid), 0);
        m_stack->unlock();
    }
}

// A challenge that offers only auth-int, or another algorithm, is not answered with credentials.
TEST_F(SipStackRegisterTest, UnsupportedChallengeGetsNoCredentials)
{
    for (const char* challenge : {"WWW-Authenticate: Digest realm=\"r\", nonce=\"n\", qop=\"auth-int\"",
                                  "WWW-Authenticate: Digest realm=\"r\", nonce=\"n\", algorithm=SHA-256"}) {
        SCOPED_TRACE(challenge);
        const int rid = start();
        const auto first = nextRegister();
        m_peer->send(SipTestPeer::answerTo(first.text, 401, "Unauthorized", std::string(challenge) + "\r\n"), m_port);
        SipStack::eventFree(waitEvent(SipStackEvent::RegistrationFailure, 2000));
        m_stack->lock();
        m_stack->addAuthInfo("alice", "alice", "pw", nullptr, "");
        m_stack->unlock();
        ASSERT_EQ(resend(rid), 0);
        const auto second = nextRegister();
        ASSERT_FALSE(second.text.empty());
        EXPECT_TRUE(SipTestPeer::header(second.text, "Authorization").empty()) << second.text;
        m_peer->send(SipTestPeer::answerTo(second.text, 403, "Forbidden"), m_port);
        SipStack::eventFree(waitEvent(SipStackEvent::RegistrationFailure, 2000));
    }
}

// 423 with Min-Expires: sent again at once with that expiry, no event; a second 423 in a row
// is a failure.
TEST_F(SipStackRegisterTest, IntervalTooBrief)
{
    const int rid = start(30);
    const auto first = nextRegister();
    ASSERT_FALSE(first.text.empty());
    m_peer->send(SipTestPeer::answerTo(first.text, 423, "Interval Too Brief", "Min-Expires: 120\r\n"), m_port);
    const auto second = nextRegister();
    ASSERT_FALSE(second.text.empty());
    EXPECT_EQ(SipTestPeer::header(second.text, "Expires"), "120");
    EXPECT_EQ(SipTestPeer::header(second.text, "CSeq"), "2 REGISTER");
    m_peer->send(SipTestPeer::answerTo(second.text, 200, "OK"), m_port);
    SipStackEvent* ok = waitEvent(SipStackEvent::RegistrationSuccess, 2000);
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->rid, rid);
    SipStack::eventFree(ok);
    for (int type : drainEventTypes(100))
        EXPECT_NE(type, SipStackEvent::RegistrationFailure);

    ASSERT_EQ(resend(rid), 0);
    const auto third = nextRegister();
    EXPECT_EQ(SipTestPeer::header(third.text, "Expires"), "120");
    m_peer->send(SipTestPeer::answerTo(third.text, 423, "Interval Too Brief", "Min-Expires: 600\r\n"), m_port);
    const auto fourth = nextRegister();
    EXPECT_EQ(SipTestPeer::header(fourth.text, "Expires"), "600");
    m_peer->send(SipTestPeer::answerTo(fourth.text, 423, "Interval Too Brief", "Min-Expires: 900\r\n"), m_port);
    SipStackEvent* failed = waitEvent(SipStackEvent::RegistrationFailure, 2000);
    ASSERT_NE(failed, nullptr);
    EXPECT_EQ(failed->response->status_code, 423);
    SipStack::eventFree(failed);
}

// A removed registration's pending outcome is dropped.
TEST_F(SipStackRegisterTest, RemovedRegistrationDropsItsOutcome)
{
    const int rid = start();
    const auto first = nextRegister();
    m_stack->lock();
    EXPECT_EQ(m_stack->registerRemove(rid), 0);
    EXPECT_EQ(m_stack->registerRemove(rid), OSIP_NOTFOUND);
    m_stack->unlock();
    m_peer->send(SipTestPeer::answerTo(first.text, 200, "OK"), m_port);
    for (int type : drainEventTypes(300))
        ADD_FAILURE() << "event " << type;
}

// Contact and Via sent-by: the address the stack sends from, or the masquerade set for that
// destination only; a given Contact text is used as it is.
TEST_F(SipStackRegisterTest, ContactAndMasquerade)
{
    {
        const int rid = start(60, "<sip:alice@127.0.0.9:7777>");
        ASSERT_GT(rid, 0);
        const auto message = nextRegister();
        EXPECT_EQ(SipTestPeer::header(message.text, "Contact"), "<sip:alice@127.0.0.9:7777>");
    }
    EXPECT_EQ(m_stack->masqueradeFor("127.0.0.2", m_peer->port(), "10.1.2.3", 7777), 0);
    EXPECT_EQ(m_stack->masqueradeFor("127.0.0.2", 1, "not-an-ip", 7777), OSIP_BADPARAMETER);
    {
        const int rid = start();
        ASSERT_GT(rid, 0);
        const auto message = nextRegister();
        EXPECT_EQ(SipTestPeer::header(message.text, "Contact"), "<sip:alice@10.1.2.3:7777>");
        EXPECT_NE(SipTestPeer::header(message.text, "Via").find("SIP/2.0/UDP 10.1.2.3:7777;"), std::string::npos);
    }
    // Another destination keeps the real address.
    SipTestPeer other("127.0.0.3");
    m_stack->lock();
    osip_message_t* message = nullptr;
    const std::string otherRegistrar = "sip:127.0.0.3:" + std::to_string(other.port());
    const int rid = m_stack->registerBuildInitial("sip:bob@127.0.0.3", otherRegistrar.c_str(), "", 60, &message);
    ASSERT_GT(rid, 0);
    EXPECT_EQ(m_stack->registerSend(rid, message), 0);
    m_stack->unlock();
    const auto toOther = other.receiveStarting("REGISTER ", 2000);
    EXPECT_EQ(SipTestPeer::header(toOther.text, "Contact"), "<sip:bob@127.0.0.1:" + std::to_string(m_port) + ">");
}

// Texts with control characters never reach a message; user parts come back escaped.
TEST_F(SipStackRegisterTest, InjectionRefused)
{
    const std::string good = registrar();
    const struct
    {
        std::string from;
        std::string registrar;
        const char* contact;
    } cases[] = {
        {"sip:ali\r\nX-Evil: 1\r\nce@127.0.0.2", good, nullptr},
        {"sip:alice@127.0.0.2", good + "\n", nullptr},
        {"sip:alice@127.0.0.2", good, "<sip:alice@127.0.0.1>\r\nX-Evil: 1"},
        {"sip:alice@127.0.0.2", good, "\x01"},
        {"not a uri", good, nullptr},
        {"sip:alice@127.0.0.2", "nonsense", nullptr},
        {"sip:alice@127.0.0.2:99999", good, nullptr},
    };
    m_stack->lock();
    for (const auto& c : cases) {
        osip_message_t* message = reinterpret_cast<osip_message_t*>(1);
        EXPECT_LT(m_stack->registerBuildInitial(c.from.c_str(), c.registrar.c_str(), c.contact, 60, &message), 0)
            << c.from << " " << c.registrar;
        EXPECT_EQ(message, nullptr);
    }
    EXPECT_LT(m_stack->addAuthInfo("alice", "alice", "pw\r\nX: 1", nullptr, ""), 0);
    EXPECT_LT(m_stack->addAuthInfo("al\nice", "alice", "pw", nullptr, ""), 0);
    EXPECT_LT(m_stack->addAuthInfo("alice", "alice", "", nullptr, ""), 0);
    m_stack->unlock();
    EXPECT_LT(m_stack->setUserAgent("Agent\r\nX: 1"), 0);

    const std::string escaped = "sip:" + SipText::escapeUser("a b@c") + "@127.0.0.2:" + std::to_string(m_peer->port());
    EXPECT_EQ(escaped.substr(0, 14), "sip:a%20b%40c@");
    m_stack->lock();
    osip_message_t* message = nullptr;
    const int rid = m_stack->registerBuildInitial(escaped.c_str(), good.c_str(), nullptr, 60, &message);
    ASSERT_GT(rid, 0);
    EXPECT_EQ(m_stack->registerSend(rid, message), 0);
    m_stack->unlock();
    const auto sent = nextRegister();
    EXPECT_EQ(SipTestPeer::header(sent.text, "Contact"), "<sip:a%20b%40c@127.0.0.1:" + std::to_string(m_port) + ">");
    EXPECT_NE(SipTestPeer::header(sent.text, "From").find("sip:a%20b%40c@"), std::string::npos);
}

// A registrar given by name is looked up away from the stack thread.
TEST_F(SipStackRegisterTest, RegistrarByName)
{
    SipTestPeer local("127.0.0.1");
    ASSERT_TRUE(local.isOpen());
    const std::string byName = "sip:localhost:" + std::to_string(local.port());
    m_stack->lock();
    osip_message_t* message = nullptr;
    const int rid = m_stack->registerBuildInitial("sip:carol@localhost", byName.c_str(), nullptr, 60, &message);
    ASSERT_GT(rid, 0);
    EXPECT_EQ(m_stack->registerSend(rid, message), 0);
    m_stack->unlock();
    const auto sent = local.receiveStarting("REGISTER ", 3000);
    ASSERT_FALSE(sent.text.empty());
    EXPECT_EQ(SipTestPeer::firstLine(sent.text), "REGISTER " + byName + " SIP/2.0");
}

// The lifetime granted by the registrar.
TEST(SipStackGrantedTest, GrantedExpires)
{
    const char* request = "REGISTER sip:r SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1:5060;branch=z9hG4bK1\r\n"
                          "From: <sip:a@r>;tag=1\r\nTo: <sip:a@r>\r\nCall-ID: 1\r\nCSeq: 1 REGISTER\r\n"
                          "Contact: <sip:a@127.0.0.1:5070>\r\nExpires: 3600\r\nContent-Length: 0\r\n\r\n";
    const struct
    {
        const char* headers;
        int expected;
    } cases[] = {
        {"Contact: <sip:other@127.0.0.1:5070>;expires=10, <sip:a@127.0.0.1:5070>;expires=30\r\nExpires: 90\r\n", 30},
        {"Contact: <sip:a@127.0.0.1:5070>\r\nExpires: 90\r\n", 90},
        {"Contact: <sip:a@127.0.0.9:5070>;expires=5\r\n", 3600},
        {"", 3600},
    };
    parser_init();
    osip_message_t* sent = nullptr;
    osip_message_init(&sent);
    ASSERT_EQ(osip_message_parse(sent, request, strlen(request)), 0);
    for (const auto& c : cases) {
        const std::string text = std::string("SIP/2.0 200 OK\r\nVia: SIP/2.0/UDP 127.0.0.1:5060;branch=z9hG4bK1\r\n"
                                             "From: <sip:a@r>;tag=1\r\nTo: <sip:a@r>;tag=2\r\nCall-ID: 1\r\n"
                                             "CSeq: 1 REGISTER\r\n") +
                                 c.headers + "Content-Length: 0\r\n\r\n";
        osip_message_t* response = nullptr;
        osip_message_init(&response);
        ASSERT_EQ(osip_message_parse(response, text.c_str(), text.size()), 0);
        EXPECT_EQ(SipMessage::grantedExpires(response, sent), c.expected) << c.headers;
        osip_message_free(response);
    }
    EXPECT_EQ(SipMessage::grantedExpires(nullptr, sent), -1);
    osip_message_free(sent);
}
