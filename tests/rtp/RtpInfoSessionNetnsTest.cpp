#include "RtpPortManager.h"
#include "RtpSessionFakeSources.h"
#include "RtpSessionReceiver.h"
#include "TestNetns.h"

#include <QFile>

#include <gtest/gtest.h>

namespace {

bool igmpShows(const char* group)
{
    QFile file(QStringLiteral("/proc/thread-self/net/igmp"));
    return file.open(QIODevice::ReadOnly) && file.readAll().contains(group);
}

// Inside a namespace of the test's own, so that nothing it sends can leave the machine and the
// ports are known to be free.
class RtpInfoSessionNetnsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SONARIS_REQUIRE_PEER(TestNetns::available(), "network namespaces (root and the ip command)");
        ns = std::make_unique<TestNetns>(QStringLiteral("session"));
        ASSERT_TRUE(ns->isValid());
        enter = std::make_unique<TestNetns::Enter>(*ns);
        ASSERT_TRUE(enter->ok());
        RtpPortManager::createInstance();
    }
    void TearDown() override
    {
        RtpPortManager::destroyInstance();
        enter.reset();
        ns.reset();
    }

    std::unique_ptr<TestNetns> ns;
    std::unique_ptr<TestNetns::Enter> enter;
};

} // namespace

// The channel's multicast address: the session joins the group, a member of it receives the
// stream with TTL 255, and the BYE reaches the group's RTCP port at the stop.
TEST_F(RtpInfoSessionNetnsTest, MulticastReachesAMember)
{
    RtpSessionFakeSources sources;
    RtpSessionDouble session(sources.factory());
    RtpInfo info = RtpSessionFakeSources::channel(8000);
    info.address = QStringLiteral("239.255.0.0:8000");
    session.setRtpInfo(info);
    ASSERT_EQ(session.startSource(RtpInfo::kSourcePlaylist, RtpInfo::kTriggerManual), 0);
    EXPECT_TRUE(igmpShows("0000FFEF")) << "the session itself joined";
    RtpSessionReceiver member;
    ASSERT_TRUE(member.start("0.0.0.0", 8000, "239.255.0.0"));
    ASSERT_TRUE(member.waitFor(10, 3000));
    session.stopAll(RtpInfo::kTriggerApiStop);
    EXPECT_TRUE(member.waitForBye(2000));
    for (const auto& p : member.packets())
        EXPECT_EQ(p.ttl, 255);
}

// Addresses that name no IPv4 destination send nothing at all (never to 0.0.0.0, which Linux
// delivers to this machine) while the loop goes on feeding its sinks; a unicast address with a
// port sends there, its failed group join notwithstanding.
TEST_F(RtpInfoSessionNetnsTest, AddressTable)
{
    struct Row
    {
        const char* address;
        bool sends;
    };
    const Row rows[] = {{"127.0.0.1:9", true},        {":8000", false},     {"0.0.0.0:8000", false},
                        {"127.0.0.1:0", false},       {"127.0.0.1:65536", false}, {"a:b:c", false},
                        {"host.invalid:8000", false}, {"127.0.0.1", false}, {"127.0.0.1:8000:1", false},
                        {"127.0.0.1:x", false}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.address);
        RtpSessionReceiver catchAll, nine;
        ASSERT_TRUE(catchAll.start("0.0.0.0", 8000));
        ASSERT_TRUE(nine.start("0.0.0.0", 9));
        RtpSessionFakeSources sources;
        RtpSessionDouble session(sources.factory());
        auto sink = std::make_shared<RtpSessionFakeWriter::Log>();
        session.httpSink = sink;
        RtpInfo info = RtpSessionFakeSources::channel(0);
        info.address = QString::fromLatin1(row.address);
        info.httpOutput = 1;
        session.setRtpInfo(info);
        ASSERT_EQ(session.startSource(RtpInfo::kSourcePlaylist, RtpInfo::kTriggerManual), 0);
        ASSERT_TRUE(RtpSessionFakeSources::waitUntil([&] { return sources.last(1)->handed.load() >= 10; }, 3000))
            << "the loop runs either way";
        RtpSessionFakeSources::sleepMs(40);
        session.stopAll(RtpInfo::kTriggerApiStop);
        RtpSessionFakeSources::sleepMs(40);
        EXPECT_GE(sink->written.load(), 10) << "the sinks hear the channel either way";
        EXPECT_EQ(catchAll.count(), 0);
        EXPECT_EQ(catchAll.rtcpCount(), 0);
        if (row.sends) {
            EXPECT_GE(nine.count(), 10);
            EXPECT_GE(nine.byes(), 1);
        } else {
            EXPECT_EQ(nine.count(), 0);
        }
    }
}
