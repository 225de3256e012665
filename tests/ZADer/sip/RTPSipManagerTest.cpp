#include "RTPSipAudioReader.h"
#include "RTPSipCall.h"
#include "RTPSipChannel.h"
#include "RTPSipManager.h"
#include "RtpInfo.h"
#include "SipSippRunner.h"
#include "SipTestPeer.h"
#include "SipTestWait.h"
#include "TestSupport.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

RtpInfo sipRecord(int id, const QString& port, const QString& expire, int status = 1)
{
    RtpInfo info;
    info.id = id;
    info.codec = 1;
    info.sip.status = status;
    info.sip.server = QStringLiteral("127.0.0.2");
    info.sip.port = port;
    info.sip.username = QStringLiteral("desk");
    info.sip.authId = QStringLiteral("desk-auth");
    info.sip.password = QStringLiteral("pw");
    info.sip.expire = expire;
    return info;
}

// The manager on a free port of 0.0.0.0, answering as 127.0.0.1; 0 when no port could be had.
int startManager(RTPSipManager& manager)
{
    manager.setLocalIp("127.0.0.1");
    for (int attempt = 0; attempt < 5; ++attempt) {
        const int candidate = SipTestPeer::freePort("0.0.0.0");
        if (manager.init(candidate, 0) == 0)
            return candidate;
    }
    return 0;
}

// The Expires of every REGISTER in the order the registrar received them.
QStringList expiresSeen(const QString& logs)
{
    QStringList seen;
    const QRegularExpression expires(QStringLiteral("expires (\\d+)"));
    auto it = expires.globalMatch(logs);
    while (it.hasNext())
        seen << it.next().captured(1);
    return seen;
}

} // namespace

// Which records become accounts, and what their SIP texts become.
TEST(RTPSipManagerTest, AccountFromRecord)
{
    struct Case
    {
        int id;
        int status;
        QString port;
        QString expire;
        bool made;
        int serverPort;
        int lifetime;
    } cases[] = {
        {3, 1, "5070", "300", true, 5070, 300},
        {3, 0, "5070", "300", false, 0, 0},
        {0, 1, "5070", "300", false, 0, 0},
        {3, 1, "", "0", true, 5060, 180},
        {3, 1, "abc", "-5", true, 5060, 180},
        {3, 1, "70000", "x", true, 5060, 180},
        {3, 1, "0", "", true, 5060, 180},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("port \"" + c.port.toStdString() + "\" expire \"" + c.expire.toStdString() + "\"");
        SipAccountInfo account;
        ASSERT_EQ(RTPSipManager::accountFromRecord(sipRecord(c.id, c.port, c.expire, c.status), &account), c.made);
        if (!c.made)
            continue;
        EXPECT_EQ(account.id, c.id);
        EXPECT_EQ(account.serverPort, c.serverPort);
        EXPECT_EQ(account.expire, c.lifetime);
        EXPECT_EQ(account.server, "127.0.0.2");
        EXPECT_EQ(account.username, "desk");
        EXPECT_EQ(account.authId, "desk-auth");
        EXPECT_EQ(account.password, "pw");
        EXPECT_EQ(account.mode, SipAccountInfo::kModeNormal);
        EXPECT_TRUE(account.contact.empty());
    }
}

// A call's audio source speaks the channel's codec; the call and the source carry the record.
TEST(RTPSipManagerTest, CallSourceTakesTheChannelCodec)
{
    const int expected[][2] = {{0, 0}, {1, 8}, {2, 9}, {3, 14}, {4, 11}, {5, 10}};
    for (const auto& pair : expected) {
        auto channel = std::make_shared<RTPSipChannel>();
        RtpInfo info = sipRecord(4, "5060", "60");
        info.codec = pair[0];
        channel->setRtpInfo(info);
        auto call = std::dynamic_pointer_cast<RTPSipCall>(channel->createCall());
        ASSERT_TRUE(call);
        call->setSelf(call);
        EXPECT_EQ(call->rtpInfo().id, 4);
        auto device = call->createDevice();
        auto* reader = dynamic_cast<RTPSipAudioReader*>(device.get());
        ASSERT_TRUE(reader);
        EXPECT_EQ(reader->payloadType(), pair[1]) << "codec " << pair[0];
        EXPECT_EQ(reader->rtpInfo().id, 4);
    }
}

// Records become channels that carry them; a record without SIP makes none; adding a record
// again replaces the channel of its id; removing drops it; an id without a channel has state 0.
// No registrar answers (127.0.0.2 on a closed port), so the channels stay registering.
TEST(RTPSipManagerTest, ChannelsFromRecords)
{
    RTPSipManager manager;
    const int port = startManager(manager);
    ASSERT_GT(port, 0);
    EXPECT_EQ(manager.port(), port);
    const int closed = SipTestPeer::freePort("127.0.0.2");

    EXPECT_FALSE(manager.addChannel(sipRecord(5, QString::number(closed), "60", 0)));
    EXPECT_FALSE(manager.addChannel(sipRecord(0, QString::number(closed), "60")));
    EXPECT_EQ(manager.channelState(5), 0);
    EXPECT_TRUE(manager.channels().empty());

    ASSERT_TRUE(manager.addChannel(sipRecord(5, QString::number(closed), "60")));
    ASSERT_EQ(manager.channels().size(), 1u);
    auto first = std::dynamic_pointer_cast<RTPSipChannel>(manager.channels()[0]);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->rtpInfo().id, 5);
    EXPECT_EQ(first->rtpInfo().codec, 1);
    EXPECT_EQ(manager.channelState(5), SipChannel::Registering);

    // The first one unregisters (it stays listed until that is answered or given up); the
    // record waits for it, so no second account of id 5 registers meanwhile.
    ASSERT_TRUE(manager.addChannel(sipRecord(5, QString::number(closed), "60")));
    EXPECT_EQ(manager.channels().size(), 1u);
    EXPECT_EQ(first->state(), SipChannel::Unregistering);
    EXPECT_EQ(manager.channelState(5), SipChannel::Unregistering);

    EXPECT_TRUE(manager.removeChannel(sipRecord(5, QString(), QString())));
    EXPECT_FALSE(manager.removeChannel(sipRecord(6, QString(), QString())));
    EXPECT_EQ(manager.channelState(6), 0);

    manager.uninit();
    EXPECT_EQ(manager.port(), 0);
}

// A record added again: the registrar gets the old account's Expires 0 before the new REGISTER,
// which carries the same Contact and would otherwise be undone by it; whether the old account
// was registered or its first REGISTER was still unanswered. Then one account of that id is
// registered.
TEST(RTPSipManagerTest, RecordAddedTwiceUnregistersFirst)
{
    SONARIS_REQUIRE_COMMANDS("sipp");
    for (const bool waitRegistered : {true, false}) {
        SCOPED_TRACE(waitRegistered ? "re-added when registered" : "re-added while registering");
        SipSippRunner registrar;
        // Each account's registration and its removal.
        ASSERT_TRUE(registrar.start({"-sf", SipSippRunner::scenario("reg_slow.xml")}, 2));
        RTPSipManager manager;
        ASSERT_GT(startManager(manager), 0);
        const RtpInfo info = sipRecord(7, QString::number(registrar.port()), "60");
        ASSERT_TRUE(manager.addChannel(info));
        if (waitRegistered) {
            ASSERT_TRUE(SipTestWait::until([&] { return manager.channelState(7) == SipChannel::Registered; }, 10000));
        }
        ASSERT_TRUE(manager.addChannel(info));
        EXPECT_TRUE(SipTestWait::until(
            [&] { return manager.channels().size() == 1u && manager.channelState(7) == SipChannel::Registered; },
            10000));
        manager.unregisterAll();
        const SipSippRunner::Run run = registrar.finish();
        EXPECT_EQ(run.exitCode, 0) << run.describe();
        EXPECT_EQ(expiresSeen(run.logs), QStringList({"60", "0", "60", "0"})) << run.describe();
        manager.uninit();
    }
}
