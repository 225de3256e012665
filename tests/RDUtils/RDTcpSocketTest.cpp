#include "RDTcpSocket.h"
#include "RDTcpSocketServer.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

int openDescriptors()
{
    int count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (readdir(dir))
            ++count;
        closedir(dir);
    }
    return count;
}

// A listener on a free loopback port with one connected client and its accepted peer.
struct Pair
{
    RDTcpSocketServer server;
    RDTcpSocket client;
    RDTcpSocket* peer = nullptr;

    Pair()
    {
        EXPECT_GE(server.open(RDSocketAddress("127.0.0.1", 0)), 0);
        EXPECT_GE(client.connect(RDSocketAddress("127.0.0.1", server.address().port())), 0);
        peer = server.accept();
        EXPECT_NE(peer, nullptr);
    }
    ~Pair()
    {
        delete peer;
        server.close();
    }
};

} // namespace

TEST(RDTcpSocket, RoundTripAndPeerAddressInHostOrder)
{
    Pair pair;
    ASSERT_NE(pair.peer, nullptr);
    EXPECT_EQ(pair.client.send("hello", 5), 5);
    char buffer[16] = {};
    EXPECT_EQ(pair.peer->recv(buffer, sizeof(buffer)), 5);
    EXPECT_STREQ(buffer, "hello");
    EXPECT_EQ(pair.peer->send("back", 4), 4);
    EXPECT_EQ(pair.client.recv(buffer, sizeof(buffer)), 4);
    EXPECT_EQ(std::string(buffer, 4), "back");

    EXPECT_EQ(pair.peer->address().host(), "127.0.0.1");
    sockaddr_in local{};
    socklen_t size = sizeof(local);
    ASSERT_EQ(getsockname(pair.client.handle(), reinterpret_cast<sockaddr*>(&local), &size), 0);
    EXPECT_EQ(pair.peer->address().port(), ntohs(local.sin_port));
    EXPECT_EQ(pair.client.address().port(), pair.server.address().port());
}

TEST(RDTcpSocket, AcceptedSocketReportsTheClientsBoundPort)
{
    RDTcpSocketServer server;
    ASSERT_GE(server.open(RDSocketAddress("127.0.0.1", 0)), 0);
    for (int port = 45000; port < 45100; ++port) {
        RDTcpSocket client;
        if (client.bind(RDSocketAddress("127.0.0.1", port)) != 0)
            continue;
        ASSERT_GE(client.connect(RDSocketAddress("127.0.0.1", server.address().port())), 0);
        RDTcpSocket* peer = server.accept();
        ASSERT_NE(peer, nullptr);
        EXPECT_EQ(peer->address().port(), port);
        delete peer;
        break;
    }
    server.close();
}

TEST(RDTcpSocket, PeerCloseThenSendDoesNotKillTheProcess)
{
    Pair pair;
    ASSERT_NE(pair.peer, nullptr);
    pair.client.close();
    char buffer[8];
    EXPECT_EQ(pair.peer->recv(buffer, sizeof(buffer)), 0);
    EXPECT_FALSE(pair.peer->isValid());
    // The descriptor stays until the owner closes it.
    EXPECT_NE(pair.peer->handle(), -1);

    // With SIGPIPE at its default, only MSG_NOSIGNAL keeps the process alive here.
    struct sigaction old{};
    struct sigaction dfl{};
    dfl.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &dfl, &old);
    int results[3];
    for (int& r : results)
        r = pair.peer->send("x", 1);
    // A socket whose peer reset it (its own send ran into the reset).
    Pair second;
    second.client.close();
    for (int i = 0; i < 50 && second.peer->isValid(); ++i) {
        second.peer->send("payload", 7);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    sigaction(SIGPIPE, &old, nullptr);
    for (int r : results)
        EXPECT_EQ(r, -1);
    EXPECT_FALSE(second.peer->isValid());
}

TEST(RDTcpSocket, ZeroLengthSendIsNotAClose)
{
    Pair pair;
    ASSERT_NE(pair.peer, nullptr);
    EXPECT_EQ(pair.client.send("", 0), 0);
    EXPECT_EQ(pair.client.send(nullptr, 0), 0);
    EXPECT_TRUE(pair.client.isValid());
    EXPECT_EQ(pair.client.send("a", 1), 1);
}

TEST(RDTcpSocket, ReceiveTimeoutLeavesTheSocketOpen)
{
    Pair pair;
    ASSERT_NE(pair.peer, nullptr);
    pair.peer->setTimeout(500, 0);
    EXPECT_TRUE(pair.peer->hasTimeout());
    timeval tv{};
    socklen_t size = sizeof(tv);
    getsockopt(pair.peer->handle(), SOL_SOCKET, SO_RCVTIMEO, &tv, &size);
    EXPECT_EQ(tv.tv_sec * 1000 + tv.tv_usec / 1000, 500);
    getsockopt(pair.peer->handle(), SOL_SOCKET, SO_SNDTIMEO, &tv, &size);
    EXPECT_EQ(tv.tv_sec * 1000 + tv.tv_usec / 1000, 0);

    char buffer[8];
    const auto t0 = Clock::now();
    EXPECT_EQ(pair.peer->recv(buffer, sizeof(buffer)), -1);
    const double ms = TestSupport::msSince(t0);
    EXPECT_GE(ms, 450);
    EXPECT_LT(ms, 2500);
    EXPECT_TRUE(pair.peer->isValid());
    EXPECT_TRUE(pair.peer->lastError() == EAGAIN || pair.peer->lastError() == EWOULDBLOCK);
}

TEST(RDTcpSocket, TimeoutsStoredBeforeConnectApplyAfterIt)
{
    RDTcpSocketServer server;
    ASSERT_GE(server.open(RDSocketAddress("127.0.0.1", 0)), 0);
    RDTcpSocket client;
    client.setTimeout(0, 0);
    EXPECT_FALSE(client.hasTimeout());
    client.setTimeout(0, 700);
    ASSERT_GE(client.connect(RDSocketAddress("127.0.0.1", server.address().port())), 0);
    timeval tv{};
    socklen_t size = sizeof(tv);
    getsockopt(client.handle(), SOL_SOCKET, SO_SNDTIMEO, &tv, &size);
    EXPECT_EQ(tv.tv_sec * 1000 + tv.tv_usec / 1000, 700);
    delete server.accept();
    server.close();
}

TEST(RDTcpSocket, WaitReadableTimesOutAfterAboutAMillisecond)
{
    Pair pair;
    ASSERT_NE(pair.peer, nullptr);
    auto t0 = Clock::now();
    EXPECT_EQ(pair.peer->waitReadable(0, 1000), 0);
    EXPECT_LT(TestSupport::msSince(t0), 50);
    EXPECT_GE(TestSupport::msSince(t0), 0.9);

    // A descriptor number above FD_SETSIZE works as well.
    const int high = dup2(pair.peer->handle(), 1500);
    ASSERT_EQ(high, 1500);
    RDTcpSocket highSocket(high, RDSocketAddress("127.0.0.1", 1));
    t0 = Clock::now();
    EXPECT_EQ(highSocket.waitReadable(0, 1000), 0);
    EXPECT_LT(TestSupport::msSince(t0), 50);
    pair.client.send("z", 1);
    EXPECT_EQ(highSocket.waitReadable(1, 0), 1);

    RDTcpSocket closed;
    closed.close();
    t0 = Clock::now();
    EXPECT_EQ(closed.waitReadable(1, 0), -1);
    EXPECT_LT(TestSupport::msSince(t0), 50);
}

TEST(RDTcpSocket, CloseClearsTheAddressAndCloseSocketKeepsIt)
{
    Pair pair;
    ASSERT_NE(pair.peer, nullptr);
    const int port = pair.peer->address().port();
    pair.peer->closeSocket();
    EXPECT_FALSE(pair.peer->isValid());
    EXPECT_EQ(pair.peer->handle(), -1);
    EXPECT_EQ(pair.peer->address().port(), port);
    pair.peer->close();
    EXPECT_TRUE(pair.peer->address().isEmpty());
    pair.peer->close();
    EXPECT_EQ(pair.peer->handle(), -1);
    // A closed socket stays closed.
    EXPECT_EQ(pair.peer->connect(RDSocketAddress("127.0.0.1", pair.server.address().port())), -1);
}

TEST(RDTcpSocket, DatagramCallsDoNothingOnAStream)
{
    Pair pair;
    RDSocketAddress from;
    char buffer[4];
    EXPECT_EQ(pair.client.sendTo(RDSocketAddress("127.0.0.1", 9), "x", 1), 0);
    EXPECT_EQ(pair.client.recvFrom(from, buffer, sizeof(buffer)), 0);
    EXPECT_TRUE(from.isEmpty());
    EXPECT_TRUE(pair.client.isValid());
}

TEST(RDTcpSocket, BindWithEmptyHostTakesEveryAddress)
{
    RDTcpSocket socket;
    ASSERT_EQ(socket.bind(RDSocketAddress("", 0)), 0);
    sockaddr_in local{};
    socklen_t size = sizeof(local);
    ASSERT_EQ(getsockname(socket.handle(), reinterpret_cast<sockaddr*>(&local), &size), 0);
    EXPECT_EQ(local.sin_addr.s_addr, htonl(INADDR_ANY));
    // Not changed by bind.
    EXPECT_TRUE(socket.address().isEmpty());
}

TEST(RDTcpSocket, StopReleasesABlockedAcceptWithin100ms)
{
    RDTcpSocketServer server;
    ASSERT_GE(server.open(RDSocketAddress("127.0.0.1", 0)), 0);
    std::atomic<bool> entered{false};
    std::atomic<bool> returned{false};
    RDTcpSocket* accepted = reinterpret_cast<RDTcpSocket*>(1);
    std::thread acceptor([&] {
        entered = true;
        accepted = server.accept();
        returned = true;
    });
    while (!entered)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(returned);
    const auto t0 = Clock::now();
    server.shutdown();
    while (!returned && TestSupport::msSince(t0) < 2000)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    const double ms = TestSupport::msSince(t0);
    acceptor.join();
    EXPECT_LT(ms, 100);
    EXPECT_EQ(accepted, nullptr);
    EXPECT_FALSE(server.isValid());
    EXPECT_EQ(server.waitReadable(0, 0), 1); // still allocated, reports its end
    server.close();
    EXPECT_EQ(server.handle(), -1);
}

TEST(RDTcpSocket, StopReleasesABlockedRecvWithin100ms)
{
    Pair pair;
    ASSERT_NE(pair.peer, nullptr);
    std::atomic<bool> entered{false};
    std::atomic<int> result{99};
    std::thread reader([&] {
        char buffer[8];
        entered = true;
        result = pair.peer->recv(buffer, sizeof(buffer));
    });
    while (!entered)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(result, 99);
    const auto t0 = Clock::now();
    pair.peer->shutdown();
    while (result == 99 && TestSupport::msSince(t0) < 2000)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    const double ms = TestSupport::msSince(t0);
    reader.join();
    EXPECT_LT(ms, 100);
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(pair.peer->isValid());
    // The client sees the end as well.
    char buffer[8];
    EXPECT_EQ(pair.client.recv(buffer, sizeof(buffer)), 0);
}

TEST(RDTcpSocket, ListenerFailuresLeakNoDescriptor)
{
    RDTcpSocketServer first;
    ASSERT_GE(first.open(RDSocketAddress("127.0.0.1", 0)), 0);
    const int before = openDescriptors();
    for (int i = 0; i < 20; ++i) {
        RDTcpSocketServer second;
        EXPECT_EQ(second.open(first.address()), -1);
        EXPECT_EQ(second.lastError(), EADDRINUSE);
        EXPECT_EQ(second.handle(), -1);
        auto* third = new RDTcpSocketServer;
        EXPECT_EQ(third->open(RDSocketAddress("1.2.3", 0)), -1);
        delete third;
    }
    {
        // Deleting a listener that its owner forgot to close releases it as well.
        RDTcpSocketServer forgotten;
        forgotten.open(RDSocketAddress("127.0.0.1", 0));
    }
    EXPECT_EQ(openDescriptors(), before);
    first.close();
}

TEST(RDTcpSocket, ConnectionRefusedClosesAndReportsTheError)
{
    RDTcpSocketServer server;
    ASSERT_GE(server.open(RDSocketAddress("127.0.0.1", 0)), 0);
    const int port = server.address().port();
    server.close();
    RDTcpSocket socket;
    EXPECT_EQ(socket.connect(RDSocketAddress("127.0.0.1", port)), -1);
    EXPECT_EQ(socket.lastError(), ECONNREFUSED);
    EXPECT_FALSE(socket.isValid());
}

TEST(RDTcpSocket, ListenAndAcceptOnAStreamSocket)
{
    RDTcpSocket listener;
    ASSERT_EQ(listener.setReuseAddr(1), 0);
    ASSERT_EQ(listener.bind(RDSocketAddress("127.0.0.1", 0)), 0);
    ASSERT_EQ(listener.listen(0), 0);
    sockaddr_in local{};
    socklen_t size = sizeof(local);
    getsockname(listener.handle(), reinterpret_cast<sockaddr*>(&local), &size);
    RDTcpSocket client;
    ASSERT_GE(client.connect(RDSocketAddress("localhost", ntohs(local.sin_port))), 0);
    EXPECT_EQ(client.address().host(), "localhost");
    RDTcpSocket* peer = listener.accept();
    ASSERT_NE(peer, nullptr);
    EXPECT_FALSE(peer->hasTimeout());
    EXPECT_EQ(peer->send("ok", 2), 2);
    delete peer;
}
