#include "RtpLayerSession.h"
#include "RtpPortManager.h"

#include "TestNetns.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <set>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// A UDP or TCP socket bound to 0.0.0.0:port for as long as it lives.
class Holder
{
public:
    Holder(int port, int type = SOCK_DGRAM)
    {
        m_fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(uint16_t(port));
        m_bound = m_fd >= 0 && bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0;
    }
    ~Holder()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    bool bound() const { return m_bound; }

private:
    int m_fd = -1;
    bool m_bound = false;
};

// Every test runs in a namespace of its own, where no other program holds these ports.
class RtpPortManagerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SONARIS_REQUIRE_PEER(TestNetns::available(), "network namespaces (root and the ip command)");
        m_ns = std::make_unique<TestNetns>(QStringLiteral("ports"));
        ASSERT_TRUE(m_ns->isValid());
        m_enter = std::make_unique<TestNetns::Enter>(*m_ns);
        ASSERT_TRUE(m_enter->ok());
    }
    void TearDown() override
    {
        m_enter.reset();
        m_ns.reset();
    }

    std::unique_ptr<TestNetns> m_ns;
    std::unique_ptr<TestNetns::Enter> m_enter;
};

} // namespace

TEST_F(RtpPortManagerTest, HandsOutEvenPortsInTurnAndWraps)
{
    RtpPortManager ports;
    EXPECT_EQ(ports.getFreePort(), 36000);
    EXPECT_EQ(ports.getFreePort(), 36002);
    EXPECT_EQ(ports.getFreePort(), 36004);
    int last = 0;
    for (int i = 3; i < 1000; ++i)
        last = ports.getFreePort();
    EXPECT_EQ(last, 37998);
    EXPECT_EQ(ports.getFreePort(), 36000) << "38000 is never handed out";
}

TEST_F(RtpPortManagerTest, SkipsPortsInUseForRtpOrRtcp)
{
    RtpPortManager ports;
    {
        std::vector<std::unique_ptr<Holder>> held;
        for (int p = 36000; p <= 36010; p += 2) {
            held.push_back(std::make_unique<Holder>(p));
            ASSERT_TRUE(held.back()->bound());
        }
        Holder rtcp(36015);
        ASSERT_TRUE(rtcp.bound());
        EXPECT_EQ(ports.getFreePort(), 36012);
        EXPECT_EQ(ports.getFreePort(), 36016) << "36014 is free but 36015 is not";
    }
    // A TCP listener on the port does not stop RTP over UDP.
    Holder tcp(36018, SOCK_STREAM);
    ASSERT_TRUE(tcp.bound());
    EXPECT_EQ(ports.getFreePort(), 36018);
}

TEST_F(RtpPortManagerTest, FullRangeGivesZeroAndRestartsAtTheFirstPort)
{
    RtpPortManager ports(36000, 36020);
    EXPECT_EQ(ports.getFreePort(), 36000);
    EXPECT_EQ(ports.getFreePort(), 36002);
    {
        std::vector<std::unique_ptr<Holder>> held;
        for (int p = 36000; p < 36020; p += 2)
            held.push_back(std::make_unique<Holder>(p));
        EXPECT_EQ(ports.getFreePort(), 0);
    }
    EXPECT_EQ(ports.getFreePort(), 36000) << "the cursor went back to the start";
}

// openSession leaves the session bound to the port it returns, skipping taken ports; a range
// without a free pair gives 0 and a closed session.
TEST_F(RtpPortManagerTest, OpenSessionBindsThePortItReturns)
{
    RtpPortManager ports(36000, 36006);
    Holder taken(36001);
    ASSERT_TRUE(taken.bound());
    RtpLayerSession first;
    EXPECT_EQ(ports.openSession(first, 8000, 0.02), 36002);
    EXPECT_TRUE(first.isOpen());
    EXPECT_EQ(first.localPort(), 36002);
    EXPECT_FALSE(Holder(36002).bound());
    EXPECT_FALSE(Holder(36003).bound());
    EXPECT_EQ(first.setClock(48000, 0.02), 0);
    EXPECT_EQ(first.setClock(0, 0.02), -1);

    RtpLayerSession second;
    EXPECT_EQ(ports.openSession(second, 8000, 0.02), 36004);
    RtpLayerSession third;
    EXPECT_EQ(ports.openSession(third, 8000, 0.02), 0) << "36000 is half taken, the rest are open sessions";
    EXPECT_FALSE(third.isOpen());
    EXPECT_EQ(third.localPort(), 0);
}

TEST_F(RtpPortManagerTest, StaticProbes)
{
    EXPECT_TRUE(RtpPortManager::isUdpPortFree(36100));
    EXPECT_TRUE(RtpPortManager::isTcpPortFree(36100));
    {
        Holder udp(36100);
        EXPECT_FALSE(RtpPortManager::isUdpPortFree(36100));
        EXPECT_TRUE(RtpPortManager::isTcpPortFree(36100));
    }
    EXPECT_TRUE(RtpPortManager::isUdpPortFree(36100)) << "the probe leaves nothing bound";
    Holder tcp(36100, SOCK_STREAM);
    EXPECT_FALSE(RtpPortManager::isTcpPortFree(36100));
    EXPECT_FALSE(RtpPortManager::isUdpPortFree(0));
    EXPECT_FALSE(RtpPortManager::isUdpPortFree(70000));
}

TEST_F(RtpPortManagerTest, ManyThreadsNeverGetTheSamePort)
{
    RtpPortManager ports;
    std::mutex mutex;
    std::multiset<int> handed;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            TestNetns::Enter enter(*m_ns);
            ASSERT_TRUE(enter.ok());
            for (int i = 0; i < 50; ++i) {
                const int port = ports.getFreePort();
                std::lock_guard<std::mutex> lock(mutex);
                handed.insert(port);
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    ASSERT_EQ(handed.size(), 400u);
    EXPECT_EQ(handed.count(0), 0u);
    for (int port : handed)
        EXPECT_EQ(handed.count(port), 1u) << port;
    EXPECT_EQ(*handed.begin(), 36000);
    EXPECT_EQ(*handed.rbegin(), 36798);
}

TEST(RtpPortManagerSingletonTest, CreateInstanceDestroy)
{
    EXPECT_EQ(RtpPortManager::instance(), nullptr);
    RtpPortManager::createInstance();
    ASSERT_NE(RtpPortManager::instance(), nullptr);
    RtpPortManager::destroyInstance();
    EXPECT_EQ(RtpPortManager::instance(), nullptr);
}
