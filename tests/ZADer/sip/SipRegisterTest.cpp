#include "RDLanguage.h"
#include "RDThread.h"
#include "SipChannel.h"
#include "SipTestManager.h"
#include "SipTestPeer.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

namespace {

// The agent on loopback with a raw peer on 127.0.0.2 as its registrar; the channels' clock is
// the test's own, and the test runs the registration ticks itself.
class SipRegisterTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_peer = std::make_unique<SipTestPeer>("127.0.0.2");
        ASSERT_TRUE(m_peer->isOpen());
        m_manager = std::make_unique<SipTestManager>();
        m_manager->setLocalIp("127.0.0.1");
        m_manager->setT1(50);
        m_manager->setKeepaliveInterval(100000);
        m_manager->setClock([this] { return m_now.load(); });
        for (int attempt = 0; attempt < 5 && m_port == 0; ++attempt) {
            const int port = SipTestPeer::freePort("0.0.0.0");
            if (m_manager->init(port, 0) == 0)
                m_port = port;
        }
        ASSERT_GT(m_port, 0);
    }

    void TearDown() override { m_manager.reset(); }

    SipAccountInfo account(int id = 1) const { return SipTestManager::account(id, "127.0.0.2", m_peer->port()); }

    SipTestPeer::Datagram expectRegister(int timeoutMs = 2000)
    {
        SipTestPeer::Datagram datagram = m_peer->receiveStarting("REGISTER ", timeoutMs);
        EXPECT_FALSE(datagram.text.empty()) << "no REGISTER came";
        return datagram;
    }

    bool quiet(int ms) { return m_peer->receiveStarting("REGISTER ", ms).text.empty(); }

    void reply(const SipTestPeer::Datagram& request, int status, const std::string& reason,
               const std::string& extra = std::string())
    {
        ASSERT_TRUE(m_peer->send(SipTestPeer::answerTo(request.text, status, reason, extra), m_port));
    }

    void challenge(const SipTestPeer::Datagram& request, const std::string& nonce = "n0nce")
    {
        reply(request, 401, "Unauthorized",
              "WWW-Authenticate: Digest realm=\"sonaris\", nonce=\"" + nonce + "\", algorithm=MD5\r\n");
    }

    // 200 granting that lifetime on the request's Contact.
    void accept(const SipTestPeer::Datagram& request, int expires = 60)
    {
        reply(request, 200, "OK",
              "Contact: " + SipTestPeer::header(request.text, "Contact") + ";expires=" + std::to_string(expires) +
                  "\r\n");
    }

    static int cseqOf(const SipTestPeer::Datagram& request)
    {
        return std::atoi(SipTestPeer::header(request.text, "CSeq").c_str());
    }

    // Registers through one challenge; returns the 200's request.
    std::shared_ptr<SipChannel> registered(int expires = 60, int id = 1)
    {
        auto channel = m_manager->addChannel(account(id));
        challenge(expectRegister());
        const SipTestPeer::Datagram answered = expectRegister();
        EXPECT_NE(SipTestPeer::header(answered.text, "Authorization"), "");
        accept(answered, expires);
        EXPECT_TRUE(SipTestManager::waitState(channel, SipChannel::Registered, 3000));
        return channel;
    }

    std::unique_ptr<SipTestPeer> m_peer;
    std::unique_ptr<SipTestManager> m_manager;
    std::atomic<double> m_now{1000.0};
    int m_port = 0;
};

bool listed(SipManager& manager, const std::shared_ptr<SipChannel>& channel)
{
    for (const auto& entry : manager.channels()) {
        if (entry == channel)
            return true;
    }
    return false;
}

// The manager drops a channel right after the callback that reported its end.
bool leavesList(SipManager& manager, const std::shared_ptr<SipChannel>& channel)
{
    for (int i = 0; i < 200 && listed(manager, channel); ++i)
        RDThread::msleep(5);
    return !listed(manager, channel);
}

} // namespace

// Port 5060, 360 s and the user name as authentication name are filled in; an incomplete
// account sends nothing.
TEST_F(SipRegisterTest, AccountDefaultsAndIncompleteAccounts)
{
    SipAccountInfo info = account();
    info.serverPort = 0;
    info.expire = 0;
    info.mode = SipAccountInfo::kModeRegistrationOff;
    auto off = m_manager->addChannel(info);
    EXPECT_EQ(off->state(), SipChannel::Unregistered);
    EXPECT_EQ(off->account().serverPort, 5060);
    EXPECT_EQ(off->account().expire, 360);
    EXPECT_EQ(off->account().authId, "alice");

    info = account(2);
    info.expire = 0;
    auto channel = m_manager->addChannel(info);
    const SipTestPeer::Datagram first = expectRegister();
    EXPECT_EQ(SipTestPeer::header(first.text, "Expires"), "360");
    EXPECT_EQ(SipTestPeer::firstLine(first.text), "REGISTER sip:127.0.0.2:" + std::to_string(m_peer->port()) + " SIP/2.0");
    EXPECT_NE(SipTestPeer::header(first.text, "User-Agent").find("ZADER"), std::string::npos);
    challenge(first);
    const SipTestPeer::Datagram second = expectRegister();
    EXPECT_NE(SipTestPeer::header(second.text, "Authorization").find("username=\"alice\""), std::string::npos)
        << second.text;
    accept(second);
    ASSERT_TRUE(SipTestManager::waitState(channel, SipChannel::Registered, 3000));

    for (const char* missing : {"password", "server", "username"}) {
        info = account(3);
        if (std::string(missing) == "password")
            info.password.clear();
        else if (std::string(missing) == "server")
            info.server.clear();
        else
            info.username.clear();
        std::shared_ptr<SipChannel> incomplete = m_manager->createChannel(info);
        EXPECT_EQ(incomplete->registerServer(info), -1) << missing;
        EXPECT_EQ(incomplete->state(), SipChannel::Unregistered) << missing;
    }
    EXPECT_TRUE(quiet(300));
    EXPECT_EQ(m_manager->count("register failed"), 0);
}

// Three challenges in a row are answered; a 2xx clears the count, so a registrar that challenges
// every refresh keeps the account registered.
TEST_F(SipRegisterTest, ChallengeCountResetsOnSuccess)
{
    auto channel = registered(60);
    // The manager hears of the registration after the channel's state has changed.
    EXPECT_TRUE(m_manager->waitFor("registered", 1, 3000, 1));
    EXPECT_EQ(m_manager->count("registered", 1), 1);
    EXPECT_EQ(channel->authRetries(), 0);
    for (int refresh = 1; refresh <= 3; ++refresh) {
        m_now = m_now + 60;
        channel->keepalive();
        const SipTestPeer::Datagram asked = expectRegister();
        EXPECT_EQ(channel->state(), SipChannel::RefreshDue);
        challenge(asked, "n" + std::to_string(refresh));
        accept(expectRegister(), 60);
        ASSERT_TRUE(SipTestManager::waitState(channel, SipChannel::Registered, 3000)) << refresh;
    }
    EXPECT_EQ(m_manager->count("registered", 1), 1);
    EXPECT_EQ(m_manager->count("register failed"), 0);
}

// The refresh comes before the granted lifetime runs out (granted 40 of 60 asked: 25 s after
// the answer), keeps Call-ID and raises CSeq; a refresh left unanswered until the next tick
// becomes a new registration.
TEST_F(SipRegisterTest, RefreshHonoursGrantedExpiry)
{
    auto channel = m_manager->addChannel(account());
    const SipTestPeer::Datagram first = expectRegister();
    accept(first, 40);
    ASSERT_TRUE(SipTestManager::waitState(channel, SipChannel::Registered, 3000));
    EXPECT_EQ(channel->grantedExpire(), 40);
    const double answered = channel->lastRegisterTime();
    EXPECT_DOUBLE_EQ(channel->refreshDueTime(), answered + 25);

    m_now = answered + 24.9;
    channel->keepalive();
    EXPECT_TRUE(quiet(200));
    EXPECT_EQ(channel->state(), SipChannel::Registered);

    m_now = answered + 25;
    channel->keepalive();
    const SipTestPeer::Datagram refresh = expectRegister();
    EXPECT_EQ(SipTestPeer::header(refresh.text, "Call-ID"), SipTestPeer::header(first.text, "Call-ID"));
    EXPECT_EQ(cseqOf(refresh), cseqOf(first) + 1);
    EXPECT_EQ(channel->state(), SipChannel::RefreshDue);

    // Unanswered until the next tick: a new initial REGISTER.
    m_now = m_now + 10;
    channel->keepalive();
    const SipTestPeer::Datagram again = expectRegister();
    EXPECT_NE(SipTestPeer::header(again.text, "Call-ID"), SipTestPeer::header(first.text, "Call-ID"));
    EXPECT_EQ(channel->state(), SipChannel::Registering);
    accept(again, 60);
    ASSERT_TRUE(SipTestManager::waitState(channel, SipChannel::Registered, 3000));
    EXPECT_EQ(channel->grantedExpire(), 60);
}

// Failed attempts are repeated after 10, 20, 30, 40, 50, 60, 60 s.
TEST_F(SipRegisterTest, BackoffAfterFailures)
{
    auto channel = m_manager->addChannel(account());
    reply(expectRegister(), 500, "Server Internal Error");
    ASSERT_TRUE(SipTestManager::waitState(channel, SipChannel::Failed, 3000));
    ASSERT_TRUE(m_manager->waitFor("register failed", 1, 2000));
    const int waits[] = {10, 20, 30, 40, 50, 60, 60};
    int failures = 1;
    for (int wait : waits) {
        const double failed = channel->lastRegisterTime();
        EXPECT_EQ(channel->failCount(), failures);
        m_now = failed + wait - 0.5;
        channel->keepalive();
        EXPECT_TRUE(quiet(100)) << "retried before " << wait << " s";
        m_now = failed + wait;
        channel->keepalive();
        reply(expectRegister(), 503, "Service Unavailable");
        ++failures;
        ASSERT_TRUE(m_manager->waitFor("register failed", failures, 3000)) << wait;
        ASSERT_TRUE(SipTestManager::waitState(channel, SipChannel::Failed, 3000));
    }
    EXPECT_EQ(m_manager->count("registered"), 0);
}

// A REGISTER that cannot be built fails at once (state 4, one callback) and is tried again
// after the back-off instead of staying "Registering".
TEST_F(SipRegisterTest, UnbuildableRegisterFails)
{
    SipAccountInfo info = account();
    info.server = "127.0.0.2\r\nX-Injected: yes";
    auto channel = m_manager->addChannel(info);
    EXPECT_EQ(channel->state(), SipChannel::Failed);
    EXPECT_EQ(m_manager->count("register failed", 1), 1);
    m_now = m_now + 10;
    channel->keepalive();
    EXPECT_EQ(channel->state(), SipChannel::Failed);
    EXPECT_EQ(channel->failCount(), 2);
    EXPECT_EQ(m_manager->count("register failed", 1), 2);
    EXPECT_TRUE(quiet(200));
}

// Without a stack (never initialised, or a failed init) a channel reports a register failure.
TEST(SipNoStackTest, AddChannelWithoutStack)
{
    SipTestManager manager;
    auto channel = manager.addChannel(SipTestManager::account(4, "127.0.0.2", 5999));
    ASSERT_TRUE(channel);
    EXPECT_EQ(channel->state(), SipChannel::Failed);
    EXPECT_EQ(manager.count("register failed", 4), 1);
    channel->keepalive();
    channel->unregister();
    EXPECT_EQ(channel->state(), SipChannel::Unregistered);
    manager.unregisterAll();
    manager.uninit();
}

// Unregistering: without a registration id at once and silently; with one by Expires 0 on the
// same registration, the channel leaving the list on the answer.
TEST_F(SipRegisterTest, UnregisterSendsExpiresZero)
{
    auto failed = m_manager->addChannel(account(7));
    reply(expectRegister(), 500, "Server Internal Error");
    ASSERT_TRUE(SipTestManager::waitState(failed, SipChannel::Failed, 3000));
    EXPECT_EQ(failed->registerId(), 0);
    failed->unregister();
    EXPECT_EQ(failed->state(), SipChannel::Unregistered);
    EXPECT_TRUE(quiet(200));
    EXPECT_EQ(m_manager->count("unregistered"), 0);

    auto channel = registered(60, 8);
    ASSERT_TRUE(listed(*m_manager, channel));
    channel->unregister();
    EXPECT_EQ(channel->state(), SipChannel::Unregistering);
    const SipTestPeer::Datagram removal = expectRegister();
    EXPECT_EQ(SipTestPeer::header(removal.text, "Expires"), "0");
    EXPECT_NE(SipTestPeer::header(removal.text, "Authorization"), "") << "credentials of the last challenge";
    challenge(removal, "again");
    const SipTestPeer::Datagram answered = expectRegister();
    EXPECT_EQ(SipTestPeer::header(answered.text, "Expires"), "0");
    reply(answered, 200, "OK");
    ASSERT_TRUE(m_manager->waitFor("unregistered", 1, 3000, 8));
    EXPECT_EQ(channel->state(), SipChannel::Unregistered);
    EXPECT_TRUE(leavesList(*m_manager, channel));
}

// An unregister while the REGISTER is still unanswered sends Expires 0 once that is answered;
// a refused removal ends in state 7 and leaves the list too.
TEST_F(SipRegisterTest, UnregisterWhileRegistering)
{
    auto channel = m_manager->addChannel(account(9));
    const SipTestPeer::Datagram pending = expectRegister();
    channel->unregister();
    EXPECT_EQ(channel->state(), SipChannel::Unregistering);
    for (const SipTestPeer::Datagram& datagram : m_peer->collect(200)) // retransmissions only
        EXPECT_EQ(SipTestPeer::header(datagram.text, "CSeq"), SipTestPeer::header(pending.text, "CSeq"));
    accept(pending, 60);
    const SipTestPeer::Datagram removal = expectRegister();
    EXPECT_EQ(SipTestPeer::header(removal.text, "Expires"), "0");
    EXPECT_EQ(SipTestPeer::header(removal.text, "Call-ID"), SipTestPeer::header(pending.text, "Call-ID"));
    reply(removal, 200, "OK");
    ASSERT_TRUE(m_manager->waitFor("unregistered", 1, 3000, 9));
    EXPECT_TRUE(leavesList(*m_manager, channel));
    EXPECT_EQ(m_manager->count("registered", 9), 0);

    auto refused = registered(60, 10);
    refused->unregister();
    reply(expectRegister(), 500, "Server Internal Error");
    ASSERT_TRUE(m_manager->waitFor("unregister failed", 1, 3000, 10));
    EXPECT_EQ(refused->state(), SipChannel::UnregisterFailed);
    EXPECT_TRUE(leavesList(*m_manager, refused));
}

// The status text follows the registration state, through the translation table.
TEST_F(SipRegisterTest, StatusTextFollowsState)
{
    QTemporaryDir languages;
    ASSERT_TRUE(languages.isValid());
    QFile file(languages.filePath("Deutsch.txt"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("Registering=Registrierung\nRegister Success=Registriert\nRegister Failure=Fehlgeschlagen\n");
    file.close();
    RDLanguage::setLanguagePath(languages.path());

    auto channel = m_manager->createChannel(account());
    struct Row
    {
        const char* step;
        int state;
        const char* english;
        const char* german;
    };
    const Row rows[] = {
        {"new", SipChannel::New, "", ""},
        {"sent", SipChannel::Registering, "Registering", "Registrierung"},
        {"challenged", SipChannel::Registering, "Registering", "Registrierung"},
        {"accepted", SipChannel::Registered, "Register Success", "Registriert"},
        {"refresh sent", SipChannel::RefreshDue, "", ""},
        {"refresh refused", SipChannel::RefreshDue, "", ""},
        {"new attempt", SipChannel::Registering, "Registering", "Registrierung"},
        {"refused", SipChannel::Failed, "Register Failure", "Fehlgeschlagen"},
        {"unregistered", SipChannel::Unregistered, "", ""},
    };
    SipTestPeer::Datagram last;
    for (const Row& row : rows) {
        const std::string step = row.step;
        if (step == "sent") {
            channel = m_manager->addChannel(account());
            last = expectRegister();
        } else if (step == "challenged") {
            challenge(last);
            last = expectRegister();
        } else if (step == "accepted") {
            accept(last, 60);
            ASSERT_TRUE(SipTestManager::waitState(channel, row.state, 3000));
        } else if (step == "refresh sent") {
            m_now = m_now + 60;
            channel->keepalive();
            last = expectRegister();
        } else if (step == "refresh refused") {
            reply(last, 500, "Server Internal Error");
            ASSERT_TRUE(SipTestManager::waitState(channel, SipChannel::RefreshDue, 3000));
            RDThread::msleep(100);
        } else if (step == "new attempt") {
            m_now = m_now + 10;
            channel->keepalive();
            last = expectRegister();
        } else if (step == "refused") {
            reply(last, 403, "Forbidden");
            for (int i = 0; i < 3; ++i) {
                last = expectRegister();
                reply(last, 403, "Forbidden");
            }
            ASSERT_TRUE(SipTestManager::waitState(channel, row.state, 3000));
        } else if (step == "unregistered") {
            channel->unregister();
        }
        EXPECT_EQ(channel->state(), row.state) << step;
        RDLanguage::initLanguage(QString());
        EXPECT_EQ(SipChannel::statusText(channel->state()), QString(row.english)) << step;
        RDLanguage::initLanguage("Deutsch");
        EXPECT_EQ(SipChannel::statusText(channel->state()), QString::fromUtf8(row.german)) << step;
    }
    RDLanguage::initLanguage(QString());
    EXPECT_EQ(m_manager->count("register failed"), 1);
}
