#include "TestNetns.h"
#include "TestSupport.h"
#include "VexaCode.h"
#include "VexaDiscovery.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

namespace {

VexaDiscoveryInfo sampleInfo()
{
    VexaDiscoveryInfo info;
    info.ip = QStringLiteral("192.168.1.20");
    info.apiPort = 9012;
    info.uid = QStringLiteral("6f1c2a9e-uid");
    info.name = QStringLiteral("Quorvel Sonaris");
    info.version = QStringLiteral("3.2.9");
    return info;
}

// A UDP socket on 0.0.0.0 that reports each datagram's destination address (IP_PKTINFO), so a
// test sees where a reply was sent, not only that it came.
class ReplyReceiver
{
public:
    struct Datagram
    {
        std::string data;
        std::string destination;
    };

    ReplyReceiver()
    {
        m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        setsockopt(m_fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof(on));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        if (bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) {
            socklen_t size = sizeof(address);
            getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &size);
            m_port = ntohs(address.sin_port);
        }
    }
    ~ReplyReceiver() { close(m_fd); }
    int port() const { return m_port; }

    // The next datagram within timeoutMs; false when none came.
    bool receive(Datagram* datagram, int timeoutMs)
    {
        pollfd p{m_fd, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) != 1)
            return false;
        std::vector<char> buffer(70000);
        char control[256];
        iovec io{buffer.data(), buffer.size()};
        msghdr message{};
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof(control);
        const ssize_t n = recvmsg(m_fd, &message, 0);
        if (n < 0)
            return false;
        datagram->data.assign(buffer.data(), static_cast<size_t>(n));
        datagram->destination.clear();
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                const in_pktinfo* info = reinterpret_cast<const in_pktinfo*>(CMSG_DATA(c));
                char text[INET_ADDRSTRLEN];
                inet_ntop(AF_INET, &info->ipi_addr, text, sizeof(text));
                datagram->destination = text;
            }
        }
        return true;
    }

private:
    int m_fd = -1;
    int m_port = 0;
};

int freeUdpPort()
{
    ReplyReceiver probe;
    return probe.port();
}

void sendTo(const std::string& host, int port, const std::string& data)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, host.c_str(), &address.sin_addr);
    sendto(fd, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    close(fd);
}

// {} is answered at the subnet's broadcast address; [] and broken text get nothing; a
// 2,000-byte request and one near the largest datagram are answered whole, and so is an object
// with repeated keys.
void checkAnswersAtBroadcast(const std::string& address, const std::string& netmask, const std::string& expected)
{
    ReplyReceiver receiver;
    ASSERT_GT(receiver.port(), 0);
    const int requestPort = freeUdpPort();
    VexaDiscovery discovery([]() { return sampleInfo(); }, requestPort, receiver.port());
    discovery.setAddress(address, netmask);
    ASSERT_TRUE(discovery.start());

    ReplyReceiver::Datagram reply;
    for (const std::string& ignored : {std::string("[]"), std::string("{\"broken\":"), std::string("hello")})
        sendTo(address, requestPort, ignored);
    sendTo(address, requestPort, "{}");
    ASSERT_TRUE(receiver.receive(&reply, 5000));
    EXPECT_EQ(reply.destination, expected);
    const QJsonObject object = QJsonDocument::fromJson(QByteArray::fromStdString(reply.data)).object();
    EXPECT_EQ(object.value("type").toString(), "Zv");
    EXPECT_EQ(object.value("uid").toString(), "6f1c2a9e-uid");
    // The count follows the send that the datagram came from.
    EXPECT_TRUE(TestSupport::waitUntil([&]() { return discovery.replies() == 1; }, 5000));

    for (int size : {2000, 65000}) {
        const std::string big = "{\"pad\":\"" + std::string(static_cast<size_t>(size - 10), 'p') + "\"}";
        ASSERT_EQ(big.size(), static_cast<size_t>(size));
        sendTo(address, requestPort, big);
        ASSERT_TRUE(receiver.receive(&reply, 5000)) << size;
        EXPECT_EQ(reply.destination, expected);
    }
    EXPECT_TRUE(TestSupport::waitUntil([&]() { return discovery.replies() == 3; }, 5000));
    // Repeated keys, whatever their earlier values, still make an object.
    sendTo(address, requestPort, R"({"a":{"b":[1,2]},"a":7,"c":[{}],"c":null})");
    ASSERT_TRUE(receiver.receive(&reply, 5000));
    EXPECT_TRUE(TestSupport::waitUntil([&]() { return discovery.replies() == 4; }, 5000));
    discovery.stop();
    EXPECT_FALSE(discovery.isRunning());
}

} // namespace

TEST(VexaDiscovery, BroadcastAddressTable)
{
    const struct
    {
        const char* address;
        const char* netmask;
        const char* broadcast;
    } cases[] = {
        {"192.168.1.23", "255.255.255.0", "192.168.1.255"},
        {"10.77.1.1", "255.255.0.0", "10.77.255.255"},
        {"172.16.5.9", "255.240.0.0", "172.31.255.255"},
        {"127.0.0.1", "255.0.0.0", "127.255.255.255"},
        {"192.168.1.23", "", "192.168.1.255"},
        {"192.168.1.23", "junk", "192.168.1.255"},
        {"", "", "255.255.255.255"},
        {"1.2.3", "255.255.255.0", "255.255.255.255"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(VexaDiscovery::broadcastAddress(c.address, c.netmask), c.broadcast) << c.address << "/" << c.netmask;
}

TEST(VexaDiscovery, RequestTable)
{
    const struct
    {
        QByteArray datagram;
        bool request;
    } cases[] = {
        {"{}", true},
        {R"({"search":1})", true},
        {R"({"a":{"b":[]},"a":7})", true},
        {"[]", false},
        {"hello", false},
        {"", false},
        {R"({"broken":)", false},
        {QByteArray("{}\0", 3), false},
        {"{\"a\":" + QByteArray(1024, '[') + QByteArray(1024, ']') + "}", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(VexaDiscovery::isRequest(c.datagram.constData(), c.datagram.size()), c.request)
            << c.datagram.left(40).constData();
}

TEST(VexaDiscovery, ReplyCodeTable)
{
    const QString apiCode = VexaCode::encode(QStringLiteral("192.168.1.20:9012"));
    ASSERT_EQ(apiCode, "010111192.168.1.20:9012P048");
    const struct
    {
        const char* name;
        bool api;
        int port;
        bool vexa;
        const char* stored;
        QString code; // null: no "code" key
    } cases[] = {
        {"api and vexacode", true, 9012, true, "0101stored", apiCode},
        {"api port unset", true, 0, false, "", apiCode},
        {"api port -5", true, -5, false, "", apiCode},
        {"api on another port", true, 7000, false, "", VexaCode::encode("192.168.1.20:7000")},
        {"stored code", false, 9012, true, "0101stored", QStringLiteral("0101stored")},
        {"stored code empty", false, 9012, true, "", QString()},
        {"stored code not enabled", false, 9012, false, "0101stored", QString()},
    };
    for (const auto& c : cases) {
        VexaDiscoveryInfo info = sampleInfo();
        info.apiEnable = c.api;
        info.apiPort = c.port;
        info.vexaCodeEnable = c.vexa;
        info.vexaCode = QString::fromLatin1(c.stored);
        const QJsonObject object = QJsonDocument::fromJson(VexaDiscovery::reply(info)).object();
        EXPECT_EQ(object.contains("code"), !c.code.isNull()) << c.name;
        EXPECT_EQ(object.value("code").toString(), c.code) << c.name;
    }
    VexaDiscoveryInfo info = sampleInfo();
    info.apiEnable = true;
    EXPECT_EQ(VexaDiscovery::reply(info),
              "{\"code\":\"010111192.168.1.20:9012P048\",\"name\":\"Quorvel Sonaris\",\"result\":0,\"type\":\"Zv\","
              "\"uid\":\"6f1c2a9e-uid\",\"version\":\"3.2.9\"}");
}

// lo delivers 127.255.255.255 to a socket bound to 0.0.0.0.
TEST(VexaDiscovery, AnswersObjectsAtTheLoopbackBroadcast)
{
    checkAnswersAtBroadcast("127.0.0.1", "255.0.0.0", "127.255.255.255");
}

// A /16 inside a namespace of the test's own: the reply goes to 10.77.255.255, not to the .255
// of a /24.
TEST(VexaDiscovery, AnswersAtTheBroadcastOfASixteenBitSubnet)
{
    if (TestNetns::inside()) {
        checkAnswersAtBroadcast("10.77.1.1", "255.255.0.0", "10.77.255.255");
        return;
    }
    SONARIS_REQUIRE_PEER(TestNetns::available(), "network namespaces (root and the ip command)");
    TestNetns ns("disc");
    ASSERT_TRUE(ns.isValid());
    ASSERT_TRUE(TestNetns::vethPair(ns, "vd0", "10.77.1.1/16", ns, "vd1", "10.77.2.1/16"));
    EXPECT_TRUE(ns.runSelf("VexaDiscovery.AnswersAtTheBroadcastOfASixteenBitSubnet"));
}

// A burst of requests costs one reply per window, and the last request is still answered.
TEST(VexaDiscovery, BurstsShareRepliesAndTheLastIsAnswered)
{
    ReplyReceiver receiver;
    const int requestPort = freeUdpPort();
    int infoReads = 0;
    VexaDiscovery discovery(
        [&infoReads]() {
            ++infoReads;
            return sampleInfo();
        },
        requestPort, receiver.port());
    discovery.setAddress("127.0.0.1", "255.0.0.0");
    ASSERT_TRUE(discovery.start());
    const auto t0 = std::chrono::steady_clock::now();
    constexpr int kBurst = 1000;
    for (int i = 0; i < kBurst; ++i)
        sendTo("127.0.0.1", requestPort, "{}");
    const double burstMs = TestSupport::msSince(t0);
    // The replies of the burst; the last comes at most one window after the burst ended.
    int received = 0;
    ReplyReceiver::Datagram reply;
    while (receiver.receive(&reply, 5 * VexaDiscovery::kReplyIntervalMs + 500))
        ++received;
    const double totalMs = TestSupport::msSince(t0);
    TestSupport::waitUntil([&]() { return discovery.replies() == received; }, 5000);
    discovery.stop();
    EXPECT_GE(received, 2) << "the first request at once, the rest at the window's end";
    EXPECT_LE(received, static_cast<int>(totalMs / VexaDiscovery::kReplyIntervalMs) + 2)
        << "burst " << burstMs << " ms, all " << totalMs << " ms";
    EXPECT_EQ(received, discovery.replies());
    EXPECT_EQ(infoReads, discovery.replies());
}

TEST(VexaDiscovery, BusyPortFailsStartAndStopIsQuick)
{
    ReplyReceiver holder; // bound without address reuse
    VexaDiscovery discovery([]() { return sampleInfo(); }, holder.port(), freeUdpPort());
    EXPECT_FALSE(discovery.start());
    EXPECT_FALSE(discovery.isRunning());

    VexaDiscovery running([]() { return sampleInfo(); }, freeUdpPort(), freeUdpPort());
    ASSERT_TRUE(running.start());
    const auto t0 = std::chrono::steady_clock::now();
    running.stop();
    EXPECT_LT(TestSupport::msSince(t0), 2500.0);
}
