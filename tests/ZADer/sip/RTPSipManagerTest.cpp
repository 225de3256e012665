#include "RTPSipAudioReader.h"
#include "RTPSipCall.h"
#include "RTPSipChannel.h"
#include "RTPSipManager.h"
#include "RtpInfo.h"
#include "SipTestPeer.h"

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
    manager.setLocalIp("127.0.0.1");
    int port = 0;
    for (int attempt = 0; attempt < 5 && !port; ++attempt) {
        const int candidate = SipTestPeer::freePort("0.0.0.0");
        if (manager.init(candidate, 0) == 0)
            port = candidate;
    }
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

    // The first one unregisters (it stays listed until that is answered or given up).
    ASSERT_TRUE(manager.addChannel(sipRecord(5, QString::number(closed), "60")));
    const auto listed = manager.channels();
    ASSERT_FALSE(listed.empty());
    auto second = std::dynamic_pointer_cast<RTPSipChannel>(listed.back());
    ASSERT_TRUE(second);
    EXPECT_NE(second, first);
    EXPECT_EQ(second->rtpInfo().id, 5);
    EXPECT_NE(first->state(), SipChannel::Registering);

    EXPECT_TRUE(manager.removeChannel(sipRecord(5, QString(), QString())));
    EXPECT_FALSE(manager.removeChannel(sipRecord(6, QString(), QString())));
    EXPECT_EQ(manager.channelState(6), 0);

    manager.uninit();
    EXPECT_EQ(manager.port(), 0);
}
