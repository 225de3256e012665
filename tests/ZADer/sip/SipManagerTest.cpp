#include "RDThread.h"
#include "RtpPortManager.h"
#include "SipChannel.h"
#include "SipStack.h"
#include "SipStackEvent.h"
#include "SipTestManager.h"
#include "SipTestPeer.h"
#include "TestNetns.h"

#include <QDir>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <future>
#include <memory>
#include <thread>

namespace {

// Names of this process's threads (as the kernel keeps them: 15 characters).
int threadsNamed(const QString& prefix)
{
    int count = 0;
    const QStringList tasks = QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& task : tasks) {
        QFile file("/proc/self/task/" + task + "/comm");
        if (file.open(QIODevice::ReadOnly) && QString::fromLatin1(file.readAll()).startsWith(prefix))
            ++count;
    }
    return count;
}

// Threads name themselves once running: wait a moment for the count to settle.
int threadsSettle(const QString& prefix, int expected)
{
    int count = threadsNamed(prefix);
    for (int i = 0; i < 100 && count != expected; ++i) {
        RDThread::msleep(10);
        count = threadsNamed(prefix);
    }
    return count;
}

// A UDP socket holding a port on all interfaces.
class PortHolder
{
public:
    explicit PortHolder(int port)
    {
        m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        if (m_fd >= 0 && bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
            close(m_fd);
            m_fd = -1;
        }
    }
    ~PortHolder()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    bool ok() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

int initOnFreePort(SipManager& manager)
{
    for (int attempt = 0; attempt < 5; ++attempt) {
        const int port = SipTestPeer::freePort("0.0.0.0");
        if (manager.init(port, 0) == 0)
            return port;
    }
    return 0;
}

} // namespace

// A port already taken is reported, leaves no stack and no thread, and a channel added then
// reports its failure instead of crashing; the agent starts on a free port afterwards.
TEST(SipManagerTest, TakenPortAndUnknownTransport)
{
    const int taken = SipTestPeer::freePort("0.0.0.0");
    PortHolder holder(taken);
    ASSERT_TRUE(holder.ok());
    const int before = threadsNamed("SipManagerEvent");
    SipTestManager manager;
    manager.setLocalIp("127.0.0.1");
    EXPECT_LT(manager.init(taken, 0), 0);
    EXPECT_FALSE(manager.isListening());
    EXPECT_EQ(threadsNamed("SipManagerEvent"), before);
    EXPECT_EQ(manager.init(SipTestPeer::freePort("0.0.0.0"), 3), -1);
    EXPECT_FALSE(manager.isListening());
    EXPECT_EQ(manager.init(SipTestPeer::freePort("0.0.0.0"), 1), -1) << "TCP is not offered";
    EXPECT_EQ(threadsNamed("SipManagerEvent"), before);

    SipAccountInfo info = SipTestManager::account(3, "127.0.0.2", 5999);
    auto channel = manager.addChannel(info);
    EXPECT_EQ(channel->state(), SipChannel::Failed);
    EXPECT_EQ(manager.count("register failed", 3), 1);

    // A later start takes the channel along: its retry goes out on the new stack.
    SipTestPeer registrar("127.0.0.2");
    info.serverPort = registrar.port();
    channel->registerServer(info);
    EXPECT_EQ(channel->state(), SipChannel::Failed);
    const int port = initOnFreePort(manager);
    ASSERT_GT(port, 0);
    EXPECT_EQ(threadsSettle("SipManagerEvent", before + 1), before + 1);
    EXPECT_EQ(channel->localPort(), port);
    channel->sendRegister();
    EXPECT_FALSE(registrar.receiveStarting("REGISTER ", 2000).text.empty());
    manager.uninit();
    EXPECT_EQ(threadsSettle("SipManagerEvent", before), before);
    EXPECT_EQ(threadsSettle("SipChannelEvent", 0), 0);
}

// Port 0 searches upward from 5060: with 5060 taken (here, or already by another program) the
// agent takes the first free port after it.
TEST(SipManagerTest, PortSearchFrom5060)
{
    PortHolder holder(5060);
    ASSERT_FALSE(RtpPortManager::isUdpPortFree(5060));
    int expected = 5061;
    while (!RtpPortManager::isUdpPortFree(expected))
        ++expected;
    SipTestManager manager;
    manager.setLocalIp("127.0.0.1");
    ASSERT_EQ(manager.init(0, 0), 0);
    EXPECT_EQ(manager.port(), expected);
    manager.uninit();
}

// The agent's own address: fixed by setLocalIp, else the interface with the default route, else
// the adapter's address, else 127.0.0.1 - never empty. Run in a namespace without a route.
TEST(SipManagerTest, LocalIpWithoutDefaultRoute)
{
    if (TestNetns::inside()) {
        for (const char* adapter : {"10.9.8.7", ""}) {
            SipTestManager manager;
            manager.setAdapterAddress(adapter);
            ASSERT_EQ(initOnFreePort(manager) > 0, true);
            EXPECT_EQ(manager.localIp(), *adapter ? adapter : "127.0.0.1");
            EXPECT_EQ(manager.localLoopChannel()->localAddress(), manager.localIp());
            manager.uninit();
        }
        return;
    }
    SONARIS_REQUIRE_PEER(TestNetns::available(), "network namespaces (root and the ip command)");
    TestNetns ns("sipip");
    ASSERT_TRUE(ns.isValid());
    EXPECT_TRUE(ns.runSelf("SipManagerTest.LocalIpWithoutDefaultRoute"));

    // In a namespace with a default route, its interface's address is taken over the adapter's.
    TestNetns routed("sipgw");
    ASSERT_TRUE(routed.isValid());
    ASSERT_TRUE(TestNetns::vethPair(routed, "sg0", "10.78.0.1/24", routed, "sg1", "10.78.0.2/24"));
    ASSERT_TRUE(routed.ip({"route", "add", "default", "via", "10.78.0.2", "dev", "sg0"}));
    TestNetns::Enter inside(routed);
    ASSERT_TRUE(inside.ok());
    SipTestManager manager;
    manager.setAdapterAddress("10.9.8.7");
    ASSERT_GT(initOnFreePort(manager), 0);
    EXPECT_EQ(manager.localIp(), "10.78.0.1");
    manager.uninit();
    manager.setLocalIp("127.0.0.1");
    ASSERT_GT(initOnFreePort(manager), 0);
    EXPECT_EQ(manager.localIp(), "127.0.0.1");
}

namespace {

// INVITEs sent by a raw peer on 127.0.0.2 to a stack of the test's own, whose events are handed
// to the manager's lookup; the manager's channels are registration-off accounts, so they send
// nothing.
class SipInviteRoutingTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_manager.setLocalIp("127.0.0.1");
        m_port = initOnFreePort(m_manager);
        ASSERT_GT(m_port, 0);
        m_stack = SipStack::create();
        ASSERT_NE(m_stack, nullptr);
        ASSERT_EQ(m_stack->listen(17, 0), 0);
        m_peer = std::make_unique<SipTestPeer>("127.0.0.2");
        ASSERT_TRUE(m_peer->isOpen());
    }

    void TearDown() override
    {
        m_stack.reset();
        m_manager.uninit();
    }

    std::shared_ptr<SipChannel> add(int id, const std::string& server, int port, const std::string& username,
                                    const std::string& authId)
    {
        SipAccountInfo info = SipTestManager::account(id, server, port, username);
        info.mode = SipAccountInfo::kModeRegistrationOff;
        info.authId = authId;
        return m_manager.addChannel(info);
    }

    // The lookup's answer for an INVITE with that Request-URI and To user.
    std::shared_ptr<SipChannel> route(const std::string& uri, const std::string& toUser)
    {
        static int n = 0;
        ++n;
        const std::string invite = "INVITE " + uri + " SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.2:" +
                                   std::to_string(m_peer->port()) + ";branch=z9hG4bKroute" + std::to_string(n) +
                                   ";rport\r\nFrom: <sip:caller@127.0.0.2>;tag=f" + std::to_string(n) +
                                   "\r\nTo: <sip:" + toUser + "@127.0.0.1>\r\nCall-ID: route" + std::to_string(n) +
                                   "@127.0.0.2\r\nCSeq: 1 INVITE\r\nContact: <sip:caller@127.0.0.2>\r\n"
                                   "Max-Forwards: 70\r\nContent-Length: 0\r\n\r\n";
        EXPECT_TRUE(m_peer->send(invite, m_stack->localPort()));
        std::shared_ptr<SipChannel> found;
        for (;;) {
            SipStackEvent* event = m_stack->eventWait(2, 0);
            if (!event) {
                ADD_FAILURE() << "no INVITE event for " << uri;
                return nullptr;
            }
            const bool invited = event->type == SipStackEvent::CallInvite;
            if (invited) {
                found = m_manager.findInviteChannel(event);
                m_stack->lock();
                m_stack->callTerminate(event->cid, event->did);
                m_stack->unlock();
            }
            SipStack::eventFree(event);
            if (invited)
                return found;
        }
    }

    SipTestManager m_manager;
    int m_port = 0;
    SipStackPtr m_stack;
    std::unique_ptr<SipTestPeer> m_peer;
};

} // namespace

TEST_F(SipInviteRoutingTest, FindInviteChannelSteps)
{
    const std::string peerPort = std::to_string(m_peer->port());
    auto a = add(5, "127.0.0.5", 5070, "alice", "a1");
    auto b = add(6, "127.0.0.5", 5070, "bob", "");
    auto c = add(7, "127.0.0.2", m_peer->port(), "carol", "c7");
    auto g = add(9, "127.0.0.5", 5070, "shared", "g9");
    auto h = add(10, "127.0.0.5", 5070, "h10", "shared");
    auto e = add(8, "127.0.0.6", 5060, "lucy", "l8");
    auto d = add(12, "127.0.0.6", 5060, "zed", "zid");
    const auto loop = m_manager.localLoopChannel();
    ASSERT_TRUE(loop);
    const std::string own = "127.0.0.1:" + std::to_string(m_port);

    struct Row
    {
        std::string uri;
        std::string to;
        std::shared_ptr<SipChannel> expected;
        const char* why;
    };
    const Row rows[] = {
        {"sip:a1@127.0.0.5:5070", "a1", a, "1: server and authId of the URI"},
        {"sip:alice@127.0.0.5:5070", "alice", a, "2: server and username of the URI"},
        {"sip:bob@127.0.0.5:5070", "bob", b, "1: authId defaults to the username"},
        {"sip:shared@127.0.0.5:5070", "shared", h, "1 before 2, whatever the list order"},
        {"sip:a1@127.0.0.5", "a1", nullptr, "no port is 5060"},
        {"sip:c7@127.0.0.99:5080", "c7", c, "3: Via host and port with the To user as authId"},
        {"sip:carol@127.0.0.99:5080", "carol", c, "4: Via host and port with the To user as username"},
        {"sip:l8@" + own, "l8", e, "5: own address, To user as authId"},
        {"sip:lucy@" + own, "lucy", e, "6: own address, To user as username"},
        {"sip:12@" + own, "12", d, "7: own address, To user as account id"},
        {"sip:12@" + own, "12abc", d, "7: a number at the start is enough"},
        {"sip:abc@" + own, "abc", loop, "8: own address, nothing else: local loop"},
        {"sip:0@" + own, "0", loop, "8: id 0 is the local loop's"},
        {"sip:12@127.0.0.77:" + std::to_string(m_port), "12", nullptr, "another host"},
        {"sip:12@127.0.0.1:" + std::to_string(m_port + 1), "12", nullptr, "another port"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(route(row.uri, row.to), row.expected) << row.why << " (" << row.uri << ", To " << row.to << ")";
    (void)peerPort;
}

// While uninit waits for unregistering channels, their outcome is still handled; an INVITE that
// arrives meanwhile is ignored; uninit returns as soon as nobody is left unregistering.
TEST(SipManagerTest, UninitWaitsForUnregistering)
{
    SipTestPeer registrar("127.0.0.2");
    SipTestManager manager;
    manager.setLocalIp("127.0.0.1");
    manager.setT1(50);
    const int port = initOnFreePort(manager);
    ASSERT_GT(port, 0);
    const SipAccountInfo info = SipTestManager::account(21, "127.0.0.2", registrar.port());
    auto channel = manager.addChannel(info);
    const SipTestPeer::Datagram first = registrar.receiveStarting("REGISTER ", 2000);
    ASSERT_FALSE(first.text.empty());
    registrar.send(SipTestPeer::answerTo(first.text, 200, "OK"), port);
    ASSERT_TRUE(SipTestManager::waitState(channel, SipChannel::Registered, 3000));

    manager.unregisterAll();
    EXPECT_EQ(manager.channels().size(), 1u) << "listed until its answer";
    const SipTestPeer::Datagram removal = registrar.receiveStarting("REGISTER ", 2000);
    ASSERT_FALSE(removal.text.empty());

    const double started = RDThread::tickTime();
    auto stopping = std::async(std::launch::async, [&] { manager.uninit(); });
    RDThread::msleep(200);
    EXPECT_FALSE(manager.isRunning());
    const std::string invite = "INVITE sip:abc@127.0.0.1:" + std::to_string(port) +
                               " SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.2:" + std::to_string(registrar.port()) +
                               ";branch=z9hG4bKlate\r\nFrom: <sip:x@127.0.0.2>;tag=1\r\nTo: <sip:abc@127.0.0.1>\r\n"
                               "Call-ID: late@127.0.0.2\r\nCSeq: 1 INVITE\r\nContact: <sip:x@127.0.0.2>\r\n"
                               "Max-Forwards: 70\r\nContent-Length: 0\r\n\r\n";
    registrar.send(invite, port);
    std::vector<SipTestPeer::Datagram> skipped;
    EXPECT_TRUE(registrar.receiveStarting("SIP/2.0 100", 1000, &skipped).text.size() > 0);
    registrar.send(SipTestPeer::answerTo(removal.text, 200, "OK"), port);
    stopping.wait();
    EXPECT_LT(RDThread::tickTime() - started, 1.9) << "uninit waited although nobody was unregistering";
    EXPECT_EQ(manager.count("unregistered", 21), 1);
    EXPECT_EQ(channel->state(), SipChannel::Unregistered);
    // Nothing but the stack's own 100 answered the INVITE.
    for (const SipTestPeer::Datagram& datagram : registrar.collect(300))
        EXPECT_EQ(SipTestPeer::firstLine(datagram.text).find("SIP/2.0 5"), std::string::npos) << datagram.text;
    for (const SipTestPeer::Datagram& datagram : skipped)
        EXPECT_EQ(SipTestPeer::firstLine(datagram.text).find("SIP/2.0 6"), std::string::npos) << datagram.text;
}

// A restart empties the list and leaves channels that someone still holds without the old
// stack: using them afterwards is safe (run under ASan to see a use after free).
TEST(SipManagerTest, RestartDetachesOldChannels)
{
    SipTestPeer registrar("127.0.0.2");
    SipTestManager manager;
    manager.setLocalIp("127.0.0.1");
    const int port = initOnFreePort(manager);
    ASSERT_GT(port, 0);
    const SipAccountInfo info = SipTestManager::account(31, "127.0.0.2", registrar.port());
    auto old = manager.addChannel(info);
    ASSERT_FALSE(registrar.receiveStarting("REGISTER ", 2000).text.empty());
    auto removed = manager.addChannel(info);
    ASSERT_FALSE(registrar.receiveStarting("REGISTER ", 2000).text.empty());
    manager.removeChannel(removed); // no longer listed, still wired to the stack

    manager.uninit();
    EXPECT_TRUE(manager.channels().empty());
    ASSERT_GT(initOnFreePort(manager), 0);
    for (const auto& stale : {old, removed}) {
        stale->keepalive();
        stale->sendRegister();
        stale->removeRegistration();
        stale->unregister();
        EXPECT_EQ(stale->registerServer(info), -1);
        EXPECT_EQ(stale->state(), SipChannel::Failed);
        stale->terminateAllCalls();
    }
    EXPECT_TRUE(registrar.collect(200).empty()) << "a stale channel sent something";
    EXPECT_TRUE(manager.channels().empty());
    manager.uninit();
}
