#include "RDThread.h"
#include "SipChannel.h"
#include "SipSippRunner.h"
#include "SipTestManager.h"
#include "SipTestPeer.h"
#include "TestSupport.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

namespace {

// The agent on 0.0.0.0 (reached as 127.0.0.1) against SIPp on 127.0.0.2 (and 127.0.0.3), with
// registration ticks every 0.25 s so that short lifetimes are refreshed in time.
class SipManagerSippTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SONARIS_REQUIRE_COMMANDS("sipp");
        m_manager = std::make_unique<SipTestManager>();
        m_manager->setLocalIp("127.0.0.1");
        m_manager->setKeepaliveInterval(0.25);
        m_port = start();
        ASSERT_GT(m_port, 0);
    }

    void TearDown() override { m_manager.reset(); }

    int start()
    {
        for (int attempt = 0; attempt < 5; ++attempt) {
            const int port = SipTestPeer::freePort("0.0.0.0");
            if (m_manager->init(port, 0) == 0)
                return port;
        }
        return 0;
    }

    QString target() const { return "127.0.0.1:" + QString::number(m_port); }

    static std::string logs(const SipSippRunner::Run& run) { return run.logs.toStdString(); }

    std::unique_ptr<SipTestManager> m_manager;
    int m_port = 0;
};

} // namespace

// 401 with qop=auth, our answer checked by SIPp's verifyauth, 200 with Contact;expires.
TEST_F(SipManagerSippTest, RegistersWithDigest)
{
    SipSippRunner registrar;
    ASSERT_TRUE(registrar.start({"-sf", SipSippRunner::scenario("reg_uas.xml")}, 1));
    auto channel = m_manager->addChannel(SipTestManager::account(1, registrar.host(), registrar.port()));
    EXPECT_TRUE(m_manager->waitFor("registered", 1, 10000, 1));
    const SipSippRunner::Run run = registrar.finish();
    EXPECT_EQ(run.exitCode, 0) << run.describe();
    EXPECT_TRUE(run.logs.contains("auth valid")) << logs(run);
    EXPECT_EQ(channel->state(), SipChannel::Registered);
    EXPECT_EQ(channel->grantedExpire(), 60);
    EXPECT_EQ(m_manager->count("registered", 1), 1);
    EXPECT_EQ(m_manager->count("register failed"), 0);
}

// Three challenges are answered; the fourth ends the attempt: state 4, one failure callback,
// nothing more sent within the back-off.
TEST_F(SipManagerSippTest, FourthChallengeFails)
{
    SipSippRunner registrar;
    ASSERT_TRUE(registrar.start({"-sf", SipSippRunner::scenario("reg_4x401.xml")}, 1));
    auto channel = m_manager->addChannel(SipTestManager::account(2, registrar.host(), registrar.port()));
    ASSERT_TRUE(m_manager->waitFor("register failed", 1, 10000, 2));
    const SipSippRunner::Run run = registrar.finish();
    EXPECT_EQ(run.exitCode, 0) << "a fifth REGISTER came?\n" << run.describe();
    EXPECT_EQ(channel->state(), SipChannel::Failed);
    EXPECT_EQ(channel->failCount(), 1);
    EXPECT_EQ(m_manager->count("register failed", 2), 1);
    EXPECT_EQ(m_manager->count("registered"), 0);
}

// The registrar grants 3 s of the 60 asked and challenges every REGISTER: each refresh arrives
// before the 3 s have passed, on the same registration (Call-ID), and the channel stays
// registered with a single callback.
TEST_F(SipManagerSippTest, RefreshBeforeGrantedExpiry)
{
    SipSippRunner registrar;
    ASSERT_TRUE(registrar.start({"-sf", SipSippRunner::scenario("reg_refresh.xml")}, 1));
    auto channel = m_manager->addChannel(SipTestManager::account(3, registrar.host(), registrar.port()));
    ASSERT_TRUE(m_manager->waitFor("registered", 1, 10000, 3));
    EXPECT_EQ(channel->grantedExpire(), 3);
    const SipSippRunner::Run run = registrar.finish();
    EXPECT_EQ(run.exitCode, 0) << run.describe();
    EXPECT_FALSE(run.logs.contains("binding lapsed")) << logs(run);
    EXPECT_FALSE(run.logs.contains("auth invalid")) << logs(run);
    EXPECT_EQ(run.logs.count("refresh"), 3) << logs(run);
    EXPECT_TRUE(run.logs.contains("granted round 4")) << logs(run);
    // CSeq grows by one on every REGISTER of the registration (answers repeat it).
    const QRegularExpression cseq("CSeq: *(\\d+) REGISTER");
    QList<int> numbers;
    QRegularExpressionMatchIterator it = cseq.globalMatch(run.messages);
    while (it.hasNext()) {
        const int number = it.next().captured(1).toInt();
        if (!numbers.contains(number))
            numbers << number;
    }
    for (int i = 1; i < numbers.size(); ++i) {
        EXPECT_EQ(numbers[i], numbers[i - 1] + 1);
    }
    const int registers = numbers.size();
    EXPECT_EQ(registers, 8) << "initial, its answer, and two per refresh";
    EXPECT_EQ(channel->state(), SipChannel::Registered);
    EXPECT_EQ(m_manager->count("registered", 3), 1);
    EXPECT_EQ(m_manager->count("register failed"), 0);
}

// 423 with Min-Expires 120: asked again with 120 s, registered, no failure reported.
TEST_F(SipManagerSippTest, MinExpiresRetried)
{
    SipSippRunner registrar;
    ASSERT_TRUE(registrar.start({"-sf", SipSippRunner::scenario("reg_423.xml")}, 1));
    auto channel = m_manager->addChannel(SipTestManager::account(4, registrar.host(), registrar.port()));
    EXPECT_TRUE(m_manager->waitFor("registered", 1, 10000, 4));
    const SipSippRunner::Run run = registrar.finish();
    EXPECT_EQ(run.exitCode, 0) << run.describe();
    EXPECT_TRUE(run.logs.contains("asked again with Expires: 120")) << logs(run);
    EXPECT_EQ(m_manager->count("register failed"), 0);
    EXPECT_EQ(channel->state(), SipChannel::Registered);
}

// Removing an account sends Expires 0 and drops the channel on the answer; so does a shutdown
// (unregisterAll, then uninit).
TEST_F(SipManagerSippTest, UnregisterOnRemovalAndShutdown)
{
    SipSippRunner removal;
    ASSERT_TRUE(removal.start({"-sf", SipSippRunner::scenario("reg_unreg.xml")}, 1));
    auto channel = m_manager->addChannel(SipTestManager::account(5, removal.host(), removal.port()));
    ASSERT_TRUE(m_manager->waitFor("registered", 1, 10000, 5));
    channel->unregister();
    EXPECT_TRUE(m_manager->waitFor("unregistered", 1, 10000, 5));
    SipSippRunner::Run run = removal.finish();
    EXPECT_EQ(run.exitCode, 0) << run.describe();
    EXPECT_TRUE(run.logs.contains("removed via 127.0.0.1:" + QString::number(m_port))) << logs(run);
    for (int i = 0; i < 100 && !m_manager->channels().empty(); ++i)
        RDThread::msleep(10);
    EXPECT_TRUE(m_manager->channels().empty());

    SipSippRunner shutdown("127.0.0.3");
    ASSERT_TRUE(shutdown.start({"-sf", SipSippRunner::scenario("reg_unreg.xml")}, 1));
    m_manager->addChannel(SipTestManager::account(6, shutdown.host(), shutdown.port()));
    ASSERT_TRUE(m_manager->waitFor("registered", 1, 10000, 6));
    m_manager->unregisterAll();
    m_manager->uninit();
    run = shutdown.finish();
    EXPECT_EQ(run.exitCode, 0) << run.describe();
    EXPECT_TRUE(run.logs.contains("removed via")) << logs(run);
    EXPECT_EQ(m_manager->count("unregistered", 6), 1);
}

// The registrar sees the agent as 127.0.0.9:7777 (Via received and rport): the channel
// registers again with that Contact and only the second answer reports it registered; an
// account on another registrar keeps the agent's own address.
TEST_F(SipManagerSippTest, MasqueradeAfterNatAnswer)
{
    SipSippRunner behindNat;
    ASSERT_TRUE(behindNat.start({"-sf", SipSippRunner::scenario("reg_nat.xml")}, 2));
    auto channel = m_manager->addChannel(SipTestManager::account(7, behindNat.host(), behindNat.port()));
    ASSERT_TRUE(m_manager->waitFor("registered", 1, 10000, 7));
    SipSippRunner::Run run = behindNat.finish();
    EXPECT_EQ(run.exitCode, 0) << run.describe();
    EXPECT_TRUE(run.logs.contains("first REGISTER via 127.0.0.1:" + QString::number(m_port))) << logs(run);
    EXPECT_TRUE(run.logs.contains("registered again behind NAT via 127.0.0.9:7777")) << logs(run);
    EXPECT_EQ(channel->account().contact, "sip:alice@127.0.0.9:7777");
    EXPECT_EQ(m_manager->count("registered", 7), 1);

    SipSippRunner other("127.0.0.3");
    ASSERT_TRUE(other.start({"-sf", SipSippRunner::scenario("reg_plain.xml")}, 1));
    m_manager->addChannel(SipTestManager::account(8, other.host(), other.port(), "bob"));
    ASSERT_TRUE(m_manager->waitFor("registered", 1, 10000, 8));
    run = other.finish();
    EXPECT_EQ(run.exitCode, 0) << run.describe();
    const QString own = "contact sip:bob@127.0.0.1:" + QString::number(m_port) + " ";
    EXPECT_TRUE(run.logs.contains(own)) << logs(run);
    EXPECT_TRUE(run.logs.contains("via 127.0.0.1:" + QString::number(m_port))) << logs(run);
}

// Fifty accounts added at once all register through their challenge.
TEST_F(SipManagerSippTest, FiftyChannelsRegister)
{
    constexpr int kChannels = 50;
    SipSippRunner registrar;
    ASSERT_TRUE(registrar.start({"-sf", SipSippRunner::scenario("reg_uas.xml")}, kChannels));
    const double started = RDThread::tickTime();
    for (int i = 1; i <= kChannels; ++i) {
        SipAccountInfo info = SipTestManager::account(100 + i, registrar.host(), registrar.port(),
                                                      "user" + std::to_string(i));
        info.authId = "alice";
        m_manager->addChannel(info);
    }
    const bool all = m_manager->waitFor("registered", kChannels, 30000);
    const double elapsed = RDThread::tickTime() - started;
    EXPECT_TRUE(all) << m_manager->count("registered") << " of " << kChannels;
    std::printf("%d channels registered in %.3f s\n", m_manager->count("registered"), elapsed);
    const SipSippRunner::Run run = registrar.finish();
    EXPECT_EQ(run.exitCode, 0) << run.describe();
    EXPECT_EQ(run.logs.count("auth valid"), kChannels) << logs(run);
    EXPECT_EQ(m_manager->count("register failed"), 0);
    for (const auto& channel : m_manager->channels())
        EXPECT_EQ(channel->state(), SipChannel::Registered) << channel->id();
}

// A change of the SIP port, as the channel engine makes it: unregister every account, restart
// on the new port, add the accounts again. Every account registers anew from the new port.
TEST_F(SipManagerSippTest, PortChangeReRegisters)
{
    SipSippRunner registrar;
    ASSERT_TRUE(registrar.start({"-sf", SipSippRunner::scenario("reg_unreg.xml")}, 4));
    const SipAccountInfo accounts[] = {SipTestManager::account(11, registrar.host(), registrar.port(), "ann"),
                                       SipTestManager::account(12, registrar.host(), registrar.port(), "ben")};
    for (const SipAccountInfo& account : accounts)
        m_manager->addChannel(account);
    ASSERT_TRUE(m_manager->waitFor("registered", 2, 10000));
    const int oldPort = m_port;

    m_manager->unregisterAll();
    m_manager->uninit();
    EXPECT_EQ(m_manager->count("unregistered"), 2);
    EXPECT_TRUE(m_manager->channels().empty());
    m_port = start();
    ASSERT_GT(m_port, 0);
    ASSERT_NE(m_port, oldPort);
    for (const SipAccountInfo& account : accounts)
        m_manager->addChannel(account);
    ASSERT_TRUE(m_manager->waitFor("registered", 4, 10000));
    ASSERT_EQ(m_manager->channels().size(), 2u);
    for (const auto& channel : m_manager->channels()) {
        EXPECT_EQ(channel->state(), SipChannel::Registered);
        EXPECT_EQ(channel->localPort(), m_port);
    }
    m_manager->unregisterAll();
    EXPECT_TRUE(m_manager->waitFor("unregistered", 4, 10000));

    const SipSippRunner::Run run = registrar.finish();
    EXPECT_EQ(run.exitCode, 0) << run.describe();
    for (int port : {oldPort, m_port}) {
        for (const char* user : {"ann", "ben"}) {
            const QString registered = QString("contact sip:%1@127.0.0.1:%2 via 127.0.0.1:%2").arg(user).arg(port);
            EXPECT_TRUE(run.logs.contains(registered)) << registered.toStdString() << "\n" << logs(run);
        }
        EXPECT_EQ(run.logs.count(QString("removed via 127.0.0.1:%1").arg(port)), 2) << logs(run);
    }
}

// Out of dialog: OPTIONS 200, MESSAGE 202, receipts (message/imdn+xml, any case) 488, the same
// type with a parameter 202; every request reaches the manager after its answer.
TEST_F(SipManagerSippTest, OutOfDialogAnswers)
{
    SipSippRunner caller;
    ASSERT_TRUE(caller.start({"-sf", SipSippRunner::scenario("ood.xml"), "-s", "12", target()}, 1));
    const SipSippRunner::Run run = caller.finish();
    EXPECT_EQ(run.exitCode, 0) << run.describe();
    EXPECT_TRUE(m_manager->waitFor("message", 5, 2000));
    const auto records = m_manager->records();
    ASSERT_EQ(records.size(), 5u);
    EXPECT_EQ(records[0].detail, "OPTIONS");
    EXPECT_EQ(records[4].detail, "MESSAGE");
}

// An INVITE no channel claims gets 603; one for an account reaches its channel, which here
// (no RTP port allocator) refuses it with 503 rather than leave it unanswered.
TEST_F(SipManagerSippTest, InviteRouting)
{
    SipAccountInfo info = SipTestManager::account(12, "127.0.0.6", 5060, "desk");
    info.mode = SipAccountInfo::kModeRegistrationOff;
    m_manager->addChannel(info);

    SipSippRunner unknown;
    ASSERT_TRUE(unknown.start({"-sf", SipSippRunner::scenario("uac_refused.xml"), "-s", "12", "-key", "host",
                               "127.0.0.77", target()},
                              1));
    SipSippRunner::Run run = unknown.finish();
    EXPECT_EQ(run.exitCode, 0) << run.describe();
    EXPECT_TRUE(run.logs.contains("answered 603")) << logs(run);

    SipSippRunner known;
    ASSERT_TRUE(known.start({"-sf", SipSippRunner::scenario("uac_refused.xml"), "-s", "12", "-key", "host",
                             "127.0.0.1", target()},
                            1));
    run = known.finish();
    EXPECT_EQ(run.exitCode, 0) << run.describe();
    EXPECT_TRUE(run.logs.contains("answered 503")) << logs(run);
}
