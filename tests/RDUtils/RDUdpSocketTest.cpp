#include "RDUdpSocket.h"

#include "TestNetns.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

int boundPort(const RDUdpSocket& socket)
{
    sockaddr_in local{};
    socklen_t size = sizeof(local);
    getsockname(socket.handle(), reinterpret_cast<sockaddr*>(&local), &size);
    return ntohs(local.sin_port);
}

} // namespace

TEST(RDUdpSocket, EmptyDatagramKeepsTheReceiverOpen)
{
    RDUdpSocket receiver;
    ASSERT_EQ(receiver.bind(RDSocketAddress("127.0.0.1", 0)), 0);
    const RDSocketAddress to("127.0.0.1", boundPort(receiver));
    RDUdpSocket sender;
    ASSERT_EQ(sender.bind(RDSocketAddress("127.0.0.1", 0)), 0);
    EXPECT_EQ(sender.sendTo(to, "", 0), 0);
    EXPECT_EQ(sender.sendTo(to, "next", 4), 4);
    EXPECT_TRUE(sender.isValid());

    char buffer[16];
    RDSocketAddress from;
    ASSERT_EQ(receiver.waitReadable(1, 0), 1);
    EXPECT_EQ(receiver.recvFrom(from, buffer, sizeof(buffer)), 0);
    EXPECT_TRUE(receiver.isValid());
    EXPECT_EQ(from.host(), "127.0.0.1");
    EXPECT_EQ(from.port(), boundPort(sender));
    EXPECT_EQ(receiver.recvFrom(from, buffer, sizeof(buffer)), 4);
    EXPECT_EQ(std::string(buffer, 4), "next");
}

TEST(RDUdpSocket, ConnectedSocketSurvivesAnUnreachablePort)
{
    RDUdpSocket closedPeer;
    ASSERT_EQ(closedPeer.bind(RDSocketAddress("127.0.0.1", 0)), 0);
    const int port = boundPort(closedPeer);
    closedPeer.close();

    RDUdpSocket socket;
    ASSERT_GE(socket.connect(RDSocketAddress("127.0.0.1", port)), 0);
    EXPECT_EQ(socket.send("a", 1), 1);
    // The ICMP port-unreachable comes back as ECONNREFUSED on the next call.
    char buffer[4];
    socket.waitReadable(0, 200000);
    EXPECT_EQ(socket.recv(buffer, sizeof(buffer)), -1);
    EXPECT_EQ(socket.lastError(), ECONNREFUSED);
    EXPECT_TRUE(socket.isValid());
    EXPECT_EQ(socket.send("b", 1), 1);
}

TEST(RDUdpSocket, BadDestinationsFailWithoutClosing)
{
    RDUdpSocket socket;
    for (const char* host : {"", "256.1.1.1", "1.2.3", "localhost", "1.2.3.4x"}) {
        EXPECT_EQ(socket.sendTo(RDSocketAddress(host, 9), "x", 1), -1) << host;
        EXPECT_TRUE(socket.isValid());
    }
    RDUdpSocket unresolved;
    EXPECT_EQ(unresolved.connect(RDSocketAddress("no-such-host.invalid", 9)), -1);
    EXPECT_FALSE(unresolved.isValid());
}

TEST(RDUdpSocket, BroadcastWithoutPermissionIsRefusedButNotFatal)
{
    RDUdpSocket socket;
    EXPECT_EQ(socket.sendTo(RDSocketAddress("255.255.255.255", 9), "x", 1), -1);
    EXPECT_EQ(socket.lastError(), EACCES);
    EXPECT_TRUE(socket.isValid());
    EXPECT_EQ(socket.setBroadcast(), 0);
    int on = 0;
    socklen_t size = sizeof(on);
    getsockopt(socket.handle(), SOL_SOCKET, SO_BROADCAST, &on, &size);
    EXPECT_EQ(on, 1);
}

TEST(RDUdpSocket, StopReleasesABlockedReceiveWithin100ms)
{
    RDUdpSocket socket;
    ASSERT_EQ(socket.bind(RDSocketAddress("127.0.0.1", 0)), 0);
    std::atomic<bool> entered{false};
    std::atomic<bool> returned{false};
    std::thread reader([&] {
        char buffer[8];
        RDSocketAddress from;
        entered = true;
        // The loop shape of a discovery thread: an empty datagram alone would not end it.
        while (socket.isValid())
            socket.recvFrom(from, buffer, sizeof(buffer));
        returned = true;
    });
    while (!entered)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto t0 = Clock::now();
    socket.shutdown();
    while (!returned && TestSupport::msSince(t0) < 2000)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    const double ms = TestSupport::msSince(t0);
    reader.join();
    EXPECT_LT(ms, 100);
}

// Namespace A sends to the subnet broadcast address of a veth pair; a socket bound to 0.0.0.0 in
// namespace B receives it.
TEST(RDUdpSocket, BroadcastReachesAnotherNamespace)
{
    SONARIS_REQUIRE_PEER(TestNetns::available(), "network namespaces (root and the ip command)");
    TestNetns a(QStringLiteral("udpa"));
    TestNetns b(QStringLiteral("udpb"));
    ASSERT_TRUE(a.isValid() && b.isValid());
    ASSERT_TRUE(TestNetns::vethPair(a, "va", "10.77.0.1/24", b, "vb", "10.77.0.2/24"));

    RDUdpSocket* receiver = nullptr;
    RDUdpSocket* sender = nullptr;
    {
        TestNetns::Enter enter(b);
        ASSERT_TRUE(enter.ok());
        receiver = new RDUdpSocket;
        ASSERT_EQ(receiver->setReuseAddr(1), 0);
        ASSERT_EQ(receiver->bind(RDSocketAddress("0.0.0.0", 19981)), 0);
    }
    {
        TestNetns::Enter enter(a);
        ASSERT_TRUE(enter.ok());
        sender = new RDUdpSocket;
        ASSERT_EQ(sender->bind(RDSocketAddress("10.77.0.1", 0)), 0);
    }
    const RDSocketAddress broadcast("10.77.0.255", 19981);
    EXPECT_EQ(sender->sendTo(broadcast, "hello", 5), -1); // SO_BROADCAST not yet on
    EXPECT_EQ(sender->lastError(), EACCES);
    ASSERT_EQ(sender->setBroadcast(), 0);

    char buffer[32] = {};
    RDSocketAddress from;
    int received = -1;
    for (int attempt = 0; attempt < 20 && received < 0; ++attempt) {
        ASSERT_EQ(sender->sendTo(broadcast, "hello", 5), 5);
        if (receiver->waitReadable(0, 100000) == 1)
            received = receiver->recvFrom(from, buffer, sizeof(buffer));
    }
    EXPECT_EQ(received, 5);
    EXPECT_STREQ(buffer, "hello");
    EXPECT_EQ(from.host(), "10.77.0.1");
    delete sender;
    delete receiver;
}
