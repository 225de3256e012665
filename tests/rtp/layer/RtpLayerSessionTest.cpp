#include "LayerTestUdp.h"
#include "RtpLayerSession.h"

#include "RDThread.h"
#include "TestNetns.h"

#include <gtest/gtest.h>

#include <QFile>

#include <atomic>

#include <thread>

namespace {

// Opens on a free even port of the test range; the port, or 0.
int openAnywhere(RtpLayerSession& session, int clockRate = 8000, int ttl = 1, const std::string& bindIp = "",
                 const std::string& interfaceIp = "")
{
    for (int i = 0; i < 20; ++i) {
        const int port = LayerTestUdp::freeEvenPair();
        if (port && session.open(bindIp, port, clockRate, ttl, interfaceIp, 0.02) == 0)
            return port;
    }
    return 0;
}

struct Header
{
    uint8_t first, second;
    uint16_t seq;
    uint32_t ts, ssrc;
    size_t size;
};

Header readHeader(const std::vector<uint8_t>& d)
{
    return {d[0], d[1], LayerTestUdp::read16(&d[2]), LayerTestUdp::read32(&d[4]), LayerTestUdp::read32(&d[8]),
            d.size()};
}

// RTCP packet types in a compound datagram.
std::vector<int> rtcpTypes(const std::vector<uint8_t>& d)
{
    std::vector<int> types;
    size_t offset = 0;
    while (offset + 4 <= d.size()) {
        types.push_back(d[offset + 1]);
        offset += (size_t(LayerTestUdp::read16(&d[offset + 2])) + 1) * 4;
    }
    return types;
}

} // namespace

TEST(RtpLayerSessionTest, OpenRefusesBadArgumentsAndTakenPorts)
{
    RtpLayerSession session;
    EXPECT_EQ(session.open("", 20001, 8000), RtpLayerSession::kErrorInvalidPort);
    EXPECT_EQ(session.open("", 0, 8000), RtpLayerSession::kErrorInvalidPort);
    EXPECT_EQ(session.open("", 65535, 8000), RtpLayerSession::kErrorInvalidPort);
    EXPECT_EQ(session.open("", 20000, 0), RtpLayerSession::kErrorInvalidArgument);
    EXPECT_EQ(session.open("", 20000, 8000, 256), RtpLayerSession::kErrorInvalidArgument);
    EXPECT_EQ(session.open("1.2.3", 20000, 8000), RtpLayerSession::kErrorInvalidAddress);
    EXPECT_EQ(session.open("", 20000, 8000, 1, "eth0"), RtpLayerSession::kErrorInvalidAddress);
    EXPECT_EQ(session.open("192.0.2.1", 20000, 8000), RtpLayerSession::kErrorBind) << "not a local address";
    EXPECT_FALSE(session.isOpen());

    // Held RTP port, then held RTCP port.
    const int port = LayerTestUdp::freeEvenPair();
    ASSERT_NE(port, 0);
    {
        LayerTestUdp holder;
        ASSERT_TRUE(holder.bindTo("0.0.0.0", port));
        EXPECT_EQ(session.open("", port, 8000), RtpLayerSession::kErrorAddressInUse);
    }
    {
        LayerTestUdp holder;
        ASSERT_TRUE(holder.bindTo("127.0.0.1", port + 1));
        EXPECT_EQ(session.open("", port, 8000), RtpLayerSession::kErrorAddressInUse);
        EXPECT_TRUE(LayerTestUdp::isFree(port)) << "the RTP socket is closed again";
    }
    ASSERT_EQ(session.open("127.0.0.1", port, 8000), 0);
    EXPECT_TRUE(session.isOpen());
    EXPECT_EQ(session.open("127.0.0.1", port, 8000), RtpLayerSession::kErrorAlreadyOpen);
    session.byeAndClose();
    EXPECT_FALSE(session.isOpen());
    EXPECT_TRUE(LayerTestUdp::isFree(port) && LayerTestUdp::isFree(port + 1));
}

TEST(RtpLayerSessionTest, HeaderFieldsAdvanceAndWrap)
{
    LayerTestUdp far;
    ASSERT_TRUE(far.bindTo("127.0.0.1", 0));
    RtpLayerSession session;
    ASSERT_NE(openAnywhere(session), 0);
    EXPECT_EQ(session.addDestination("127.0.0.1", far.port()), 0);
    EXPECT_EQ(session.addDestination("127.0.0.1", far.port()), -1) << "no duplicate destination";
    EXPECT_EQ(session.addDestination("localhost", far.port()), -1);
    EXPECT_EQ(session.addDestination("127.0.0.1", 65535), -1);

    const std::vector<uint8_t> payload(1388, 0x55);
    ASSERT_EQ(session.sendPacket(payload.data(), 160, 0, false, 160), 0);
    ASSERT_EQ(session.sendPacket(payload.data(), 160, 8, true, 0x40000000u), 0);
    ASSERT_EQ(session.sendPacket(payload.data(), 1388, 14, false, 0x40000000u), 0) << "1400 bytes in all";
    EXPECT_EQ(session.sendPacket(payload.data(), 1389, 14, false, 1), -1) << "1401 bytes in all";
    EXPECT_EQ(session.sendPacket(payload.data(), 10, 128, false, 1), -1);
    for (int i = 0; i < 4; ++i)
        ASSERT_EQ(session.sendPacket(nullptr, 0, 9, false, 0x40000000u), 0);

    std::vector<Header> h;
    for (int i = 0; i < 7; ++i) {
        const std::vector<uint8_t> d = far.receive(2000);
        ASSERT_GE(d.size(), 12u);
        h.push_back(readHeader(d));
    }
    EXPECT_TRUE(far.receive(100).empty()) << "the refused packets never left";
    EXPECT_EQ(h[0].first, 0x80);
    EXPECT_EQ(h[0].second, 0x00);
    EXPECT_EQ(h[0].size, 172u);
    EXPECT_EQ(h[1].second, 0x88);
    EXPECT_EQ(h[2].second, 14);
    EXPECT_EQ(h[2].size, 1400u);
    EXPECT_EQ(h[3].size, 12u);
    for (size_t i = 1; i < h.size(); ++i) {
        EXPECT_EQ(h[i].ssrc, h[0].ssrc);
        EXPECT_EQ(h[i].seq, uint16_t(h[0].seq + i));
    }
    // Each packet carries the timestamp before its own increment.
    EXPECT_EQ(h[1].ts, h[0].ts + 160);
    uint32_t ts = h[1].ts;
    for (size_t i = 2; i < h.size(); ++i) {
        ts += 0x40000000u; // wraps at 2^32 within these steps
        EXPECT_EQ(h[i].ts, ts);
    }
    session.byeAndClose();
}

TEST(RtpLayerSessionTest, SequenceNumberWrapsAfter65536Packets)
{
    LayerTestUdp far;
    ASSERT_TRUE(far.bindTo("127.0.0.1", 0));
    const int buffer = 4 << 20;
    setsockopt(far.fd(), SOL_SOCKET, SO_RCVBUF, &buffer, sizeof(buffer));
    RtpLayerSession session;
    ASSERT_NE(openAnywhere(session), 0);
    ASSERT_EQ(session.addDestination("127.0.0.1", far.port()), 0);
    // Each payload carries the packet's index, so a datagram the kernel drops hides nothing.
    std::vector<std::pair<uint32_t, uint16_t>> seen; // index, sequence number
    std::atomic<uint32_t> latest{0};
    std::thread reader([&] {
        for (;;) {
            const std::vector<uint8_t> d = far.receive(1000);
            if (d.size() != 16)
                return;
            const uint32_t index = LayerTestUdp::read32(&d[12]);
            seen.emplace_back(index, LayerTestUdp::read16(&d[2]));
            latest.store(index);
            if (index == 65536)
                return;
        }
    });
    for (uint32_t i = 0; i <= 65536; ++i) {
        const uint8_t index[4] = {uint8_t(i >> 24), uint8_t(i >> 16), uint8_t(i >> 8), uint8_t(i)};
        ASSERT_EQ(session.sendPacket(index, sizeof(index), 0, false, 1), 0);
        // Keep within what the socket buffer holds, also when the reader is slow (sanitizers).
        for (int wait = 0; wait < 100 && i > latest.load() + 2000; ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    reader.join();
    ASSERT_GT(seen.size(), 60000u) << "loopback dropped too much to tell";
    ASSERT_EQ(seen.back().first, 65536u);
    const uint16_t first = uint16_t(seen.front().second - seen.front().first);
    bool crossed = false;
    for (size_t i = 0; i < seen.size(); ++i) {
        ASSERT_EQ(seen[i].second, uint16_t(first + seen[i].first)) << "packet " << seen[i].first;
        crossed = crossed || (i > 0 && seen[i].second < seen[i - 1].second);
    }
    EXPECT_TRUE(crossed) << "the run passed 65535 -> 0";
    EXPECT_EQ(seen.back().second, first) << "packet 65536 repeats the first number";
    session.byeAndClose();
}

TEST(RtpLayerSessionTest, ReceiveGivesFieldsAndSourceAddress)
{
    RtpLayerSession sender, receiver;
    const int senderPort = openAnywhere(sender, 8000, 1, "127.0.0.1");
    const int receiverPort = openAnywhere(receiver, 8000, 1, "127.0.0.1");
    ASSERT_NE(senderPort, 0);
    ASSERT_NE(receiverPort, 0);
    ASSERT_EQ(sender.addDestination("127.0.0.1", receiverPort), 0);

    RtpLayerPacket packets[10];
    EXPECT_EQ(receiver.receive(packets, 10), 0) << "nothing waiting";
    EXPECT_EQ(receiver.waitReadable(20), 0);

    // Junk and RTCP-looking datagrams on the RTP port are dropped, valid ones kept in order.
    LayerTestUdp junk;
    ASSERT_TRUE(junk.bindTo("127.0.0.1", 0));
    ASSERT_TRUE(junk.sendTo("127.0.0.1", receiverPort, {0x80, 0x00, 0x00}));
    ASSERT_TRUE(junk.sendTo("127.0.0.1", receiverPort, {0x80, 200, 0, 6, 0, 0, 0, 1, 0, 0, 0, 0}));
    const uint8_t payload[3] = {1, 2, 3};
    for (int i = 0; i < 12; ++i)
        ASSERT_EQ(sender.sendPacket(payload, sizeof(payload), 8, i == 0, 160), 0);
    ASSERT_GT(receiver.waitReadable(1000), 0);
    RDThread::msleep(50);

    const int first = receiver.receive(packets, 10);
    ASSERT_EQ(first, 10) << "at most max per call";
    const int second = receiver.receive(packets, 10);
    ASSERT_EQ(second, 2);
    // The last two packets of the run.
    ASSERT_EQ(packets[1].sequenceNumber, uint16_t(packets[0].sequenceNumber + 1));
    EXPECT_EQ(packets[1].payloadType, 8);
    EXPECT_FALSE(packets[1].marker);
    EXPECT_EQ(packets[1].timestamp, packets[0].timestamp + 160);
    EXPECT_EQ(packets[0].ssrc, packets[1].ssrc);
    EXPECT_EQ(packets[1].payloadLength, 3u);
    EXPECT_EQ(packets[1].payloadOffset, 12u);
    EXPECT_EQ(packets[1].data.size(), 15u);
    EXPECT_EQ(std::vector<uint8_t>(packets[1].payload(), packets[1].payload() + 3), std::vector<uint8_t>({1, 2, 3}));
    EXPECT_EQ(packets[1].sourceIp(), "127.0.0.1");
    EXPECT_EQ(packets[1].sourcePort, senderPort);
    RtpLayerSession closed;
    EXPECT_EQ(closed.receive(packets, 10), 0) << "a closed session gives nothing";
    EXPECT_EQ(closed.waitReadable(1), -1);

    // Own packets come back when a session sends to itself.
    ASSERT_EQ(receiver.addDestination("127.0.0.1", receiverPort), 0);
    ASSERT_EQ(receiver.sendPacket(payload, 1, 0, true, 1), 0);
    ASSERT_GT(receiver.waitReadable(1000), 0);
    ASSERT_EQ(receiver.receive(packets, 10), 1);
    EXPECT_TRUE(packets[0].marker);
    EXPECT_EQ(packets[0].sourcePort, receiverPort);
    sender.byeAndClose();
    receiver.byeAndClose();
}

TEST(RtpLayerSessionTest, ByeOnCloseOnlyAfterSending)
{
    const int farPort = LayerTestUdp::freeEvenPair();
    ASSERT_NE(farPort, 0);
    LayerTestUdp farRtp, farRtcp;
    ASSERT_TRUE(farRtp.bindTo("127.0.0.1", farPort));
    ASSERT_TRUE(farRtcp.bindTo("127.0.0.1", farPort + 1));

    {
        RtpLayerSession silent;
        ASSERT_NE(openAnywhere(silent), 0);
        ASSERT_EQ(silent.addDestination("127.0.0.1", farPort), 0);
        silent.byeAndClose();
        EXPECT_TRUE(farRtcp.receive(300).empty()) << "no BYE when nothing was sent";
    }
    {
        RtpLayerSession nowhere;
        ASSERT_NE(openAnywhere(nowhere), 0);
        ASSERT_EQ(nowhere.sendPacket("x", 1, 0, false, 1), 0);
        nowhere.byeAndClose();
        EXPECT_TRUE(farRtcp.receive(300).empty());
    }

    RtpLayerSession session;
    ASSERT_NE(openAnywhere(session), 0);
    ASSERT_EQ(session.addDestination("127.0.0.1", farPort), 0);
    const uint8_t payload[160] = {};
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(session.sendPacket(payload, sizeof(payload), 0, false, 160), 0);
    uint32_t ssrc = 0;
    for (int i = 0; i < 5; ++i) {
        const std::vector<uint8_t> d = farRtp.receive(1000);
        ASSERT_EQ(d.size(), 172u);
        ssrc = LayerTestUdp::read32(&d[8]);
    }
    session.byeAndClose();
    const std::vector<uint8_t> bye = farRtcp.receive(1000);
    ASSERT_FALSE(bye.empty());
    EXPECT_EQ(rtcpTypes(bye), std::vector<int>({200, 202, 203}));
    EXPECT_EQ(LayerTestUdp::read32(&bye[4]), ssrc);
    EXPECT_EQ(LayerTestUdp::read32(&bye[20]), 5u) << "packet count";
    EXPECT_EQ(LayerTestUdp::read32(&bye[24]), 800u) << "payload octets";
    EXPECT_EQ(LayerTestUdp::read32(&bye[bye.size() - 4]), ssrc) << "BYE names the own SSRC";
    EXPECT_EQ(bye.size() % 4, 0u);
}

TEST(RtpLayerSessionTest, JoinGroupRefusesUnicastWithoutSystemCall)
{
    RtpLayerSession closed;
    EXPECT_EQ(closed.joinGroup("239.255.0.1"), -1) << "not open";
    RtpLayerSession session;
    ASSERT_NE(openAnywhere(session), 0);
    EXPECT_EQ(session.joinGroup("127.0.0.1"), -1);
    EXPECT_EQ(session.joinGroup("not an address"), -1);
    EXPECT_EQ(session.joinGroup("0.0.0.0"), -1);
    session.leaveAllGroups();
    session.byeAndClose();
}

namespace {

// Group 239.255.0.1 as /proc/net/igmp prints it (the address bytes read as a little-endian word).
const char kIgmpGroup[] = "0100FFEF";

bool igmpShows(const char* group)
{
    QFile file(QStringLiteral("/proc/thread-self/net/igmp"));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    return file.readAll().contains(group);
}

} // namespace

TEST(RtpLayerSessionTest, MulticastReachesAMemberInsideANamespace)
{
    SONARIS_REQUIRE_PEER(TestNetns::available(), "network namespaces (root and the ip command)");
    TestNetns ns(QStringLiteral("rtpmc"));
    ASSERT_TRUE(ns.isValid());
    TestNetns::Enter enter(ns);
    ASSERT_TRUE(enter.ok());

    RtpLayerSession sender, member;
    ASSERT_EQ(sender.open("", 36000, 8000, 255, "", 0.02), 0);
    ASSERT_EQ(member.open("", 40000, 8000), 0);
    ASSERT_EQ(member.joinGroup("239.255.0.1"), 0);
    ASSERT_EQ(member.joinGroup("239.255.0.1"), 0) << "a second join is harmless";
    ASSERT_EQ(sender.joinGroup("239.255.0.1"), 0);
    EXPECT_TRUE(igmpShows(kIgmpGroup));

    // A plain member that reads the TTL each datagram arrived with.
    LayerTestUdp plain;
    ASSERT_TRUE(plain.bindTo("0.0.0.0", 40010));
    ip_mreq request;
    inet_pton(AF_INET, "239.255.0.1", &request.imr_multiaddr);
    request.imr_interface.s_addr = htonl(INADDR_ANY);
    ASSERT_EQ(setsockopt(plain.fd(), IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof(request)), 0);
    const int on = 1;
    ASSERT_EQ(setsockopt(plain.fd(), IPPROTO_IP, IP_RECVTTL, &on, sizeof(on)), 0);

    ASSERT_EQ(sender.addDestination("239.255.0.1", 40000), 0);
    ASSERT_EQ(sender.addDestination("239.255.0.1", 40010), 0);
    const uint8_t payload[160] = {0x7F};
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(sender.sendPacket(payload, sizeof(payload), 0, false, 160), 0);

    ASSERT_GT(member.waitReadable(2000), 0);
    RDThread::msleep(20);
    RtpLayerPacket packets[10];
    ASSERT_EQ(member.receive(packets, 10), 5);
    EXPECT_EQ(packets[4].payloadLength, 160u);
    EXPECT_EQ(packets[4].sourcePort, 36000);

    for (int i = 0; i < 5; ++i) {
        pollfd p{plain.fd(), POLLIN, 0};
        ASSERT_EQ(poll(&p, 1, 2000), 1);
        uint8_t data[2048];
        char control[256];
        iovec io{data, sizeof(data)};
        msghdr message{};
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof(control);
        ASSERT_EQ(recvmsg(plain.fd(), &message, 0), 172);
        int ttl = -1;
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_TTL)
                std::memcpy(&ttl, CMSG_DATA(c), sizeof(ttl));
        }
        EXPECT_EQ(ttl, 255);
    }

    setsockopt(plain.fd(), IPPROTO_IP, IP_DROP_MEMBERSHIP, &request, sizeof(request));
    member.leaveAllGroups();
    sender.leaveAllGroups();
    EXPECT_FALSE(igmpShows(kIgmpGroup)) << "every membership dropped";
    sender.byeAndClose();
    member.byeAndClose();
}

TEST(RtpLayerSessionTest, MulticastLeavesByTheChosenInterface)
{
    SONARIS_REQUIRE_PEER(TestNetns::available(), "network namespaces (root and the ip command)");
    TestNetns ns(QStringLiteral("rtpif"));
    ASSERT_TRUE(ns.isValid());
    // No IPv6 chatter, so the interface counters only count what the test sends.
    ns.exec({"sysctl", "-q", "-w", "net.ipv6.conf.all.disable_ipv6=1", "net.ipv6.conf.default.disable_ipv6=1"});
    ASSERT_TRUE(TestNetns::vethPair(ns, "va0", "10.71.1.1/24", ns, "va1", "10.71.1.2/24"));
    ASSERT_TRUE(TestNetns::vethPair(ns, "vb0", "10.71.2.1/24", ns, "vb1", "10.71.2.2/24"));
    auto txPackets = [&](const char* iface) {
        const TestSupport::Result r =
            ns.exec({"cat", QStringLiteral("/sys/class/net/%1/statistics/tx_packets").arg(iface)});
        return r.out.trimmed().toLongLong();
    };

    TestNetns::Enter enter(ns);
    ASSERT_TRUE(enter.ok());
    RtpLayerSession session;
    ASSERT_EQ(session.open("10.71.2.1", 36000, 8000, 255, "10.71.2.1", 0.02), 0);
    ASSERT_EQ(session.joinGroup("239.255.0.1"), 0);
    ASSERT_EQ(session.addDestination("239.255.0.1", 40000), 0);
    const long long a0 = txPackets("va0"), b0 = txPackets("vb0");
    const uint8_t payload[160] = {};
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(session.sendPacket(payload, sizeof(payload), 0, false, 160), 0);
    RDThread::msleep(50);
    EXPECT_GE(txPackets("vb0") - b0, 20);
    EXPECT_LT(txPackets("va0") - a0, 3);
    session.byeAndClose();
}

TEST(RtpLayerSessionTest, SendErrorsNeitherStopNorSkipTheStream)
{
    SONARIS_REQUIRE_PEER(TestNetns::available(), "network namespaces (root and the ip command)");
    // Inside a namespace with nothing but loopback, 10.99.0.1 is unreachable.
    TestNetns ns(QStringLiteral("rtperr"));
    ASSERT_TRUE(ns.isValid());
    TestNetns::Enter enter(ns);
    ASSERT_TRUE(enter.ok());
    LayerTestUdp far;
    ASSERT_TRUE(far.bindTo("127.0.0.1", 40000));
    RtpLayerSession session;
    ASSERT_EQ(session.open("", 36000, 8000), 0);
    ASSERT_EQ(session.addDestination("10.99.0.1", 40000), 0);
    const uint8_t payload[4] = {};
    EXPECT_EQ(session.sendPacket(payload, 4, 0, false, 160), -1);
    EXPECT_EQ(session.sendPacket(payload, 4, 0, false, 160), -1);
    session.clearDestinations();
    ASSERT_EQ(session.addDestination("127.0.0.1", 40000), 0);
    EXPECT_EQ(session.sendPacket(payload, 4, 0, false, 160), 0);
    EXPECT_EQ(session.sendPacket(payload, 4, 0, false, 160), 0);
    const std::vector<uint8_t> a = far.receive(1000), b = far.receive(1000);
    ASSERT_EQ(a.size(), 16u);
    ASSERT_EQ(b.size(), 16u);
    EXPECT_EQ(LayerTestUdp::read16(&b[2]), uint16_t(LayerTestUdp::read16(&a[2]) + 1));
    EXPECT_EQ(LayerTestUdp::read32(&b[4]), LayerTestUdp::read32(&a[4]) + 160);
    session.byeAndClose();
}
