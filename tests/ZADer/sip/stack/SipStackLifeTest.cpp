#include "SipLocalIp.h"
#include "SipStackSdp.h"
#include "SipStackTestBase.h"
#include "TestNetns.h"

#include <QDir>
#include <QFile>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace {

class SipStackLifeTest : public SipStackTestBase
{
};

// Names of this process's threads.
QStringList threadNames()
{
    QStringList names;
    const QDir tasks("/proc/self/task");
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(task + "/comm"));
        if (comm.open(QIODevice::ReadOnly))
            names << QString::fromLatin1(comm.readAll()).trimmed();
    }
    return names;
}

} // namespace

TEST(SipStackStartTest, ListenRefusals)
{
    // Never listening: quit and delete are safe.
    SipStackPtr idle = SipStack::create();
    ASSERT_NE(idle, nullptr);
    idle->quit();
    idle->quit();
    idle.reset();

    SipStackPtr stack = SipStack::create();
    ASSERT_NE(stack, nullptr);
    EXPECT_NE(stack->listen(6, 0), 0) << "TCP is not supported";
    // A port another socket holds.
    const int holder = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    socklen_t length = sizeof(address);
    getsockname(holder, reinterpret_cast<sockaddr*>(&address), &length);
    EXPECT_NE(stack->listen(17, ntohs(address.sin_port)), 0);
    close(holder);
    EXPECT_FALSE(threadNames().contains("SipStackThread"));
    // Sending needs a socket.
    stack->lock();
    osip_message_t* message = nullptr;
    const int rid = stack->registerBuildInitial("sip:a@127.0.0.2", "sip:127.0.0.2:5999", nullptr, 60, &message);
    ASSERT_GT(rid, 0);
    EXPECT_LT(stack->registerSend(rid, message), 0);
    stack->unlock();
    stack.reset();
}

// What is queued just before quit still leaves (a BYE, an Expires 0 REGISTER); the threads end.
TEST_F(SipStackLifeTest, QuitSendsQueuedRequestsAndStopsThreads)
{
    Dialog dialog;
    const int cid = confirmedCall(&dialog);
    ASSERT_GT(cid, 0);
    const std::string registrar = "sip:127.0.0.2:" + std::to_string(m_peer->port());
    m_stack->lock();
    osip_message_t* message = nullptr;
    const int rid = m_stack->registerBuildInitial("sip:a@127.0.0.2", registrar.c_str(), nullptr, 0, &message);
    ASSERT_GT(rid, 0);
    EXPECT_EQ(m_stack->registerSend(rid, message), 0);
    EXPECT_EQ(m_stack->callTerminate(cid, 0), 0);
    m_stack->unlock();
    EXPECT_TRUE(threadNames().contains("SipStackThread"));
    m_stack->quit();
    const auto sent = m_peer->collect(300);
    bool bye = false, unregister = false;
    for (const auto& datagram : sent) {
        bye |= datagram.text.rfind("BYE ", 0) == 0;
        unregister |= datagram.text.rfind("REGISTER ", 0) == 0 && SipTestPeer::header(datagram.text, "Expires") == "0";
    }
    EXPECT_TRUE(bye);
    EXPECT_TRUE(unregister);
    const QStringList names = threadNames();
    EXPECT_FALSE(names.contains("SipStackThread")) << names.join(',').toStdString();
    EXPECT_FALSE(names.contains("SipResolverThre")) << names.join(',').toStdString();
    // After quit the context answers nothing and sends nothing.
    ASSERT_TRUE(m_peer->send(request("OPTIONS", Dialog{"after@x", "t", "", 1}, branch(), 1), m_port));
    EXPECT_TRUE(m_peer->collect(200).empty());
    EXPECT_EQ(m_stack->eventWait(0, 0), nullptr);
}

// Ids stay unique across contexts, so a stale id never names a new object.
TEST_F(SipStackLifeTest, IdsUniqueAcrossRestart)
{
    Dialog first;
    SipStackEvent* a = startCall(&first, branch());
    ASSERT_NE(a, nullptr);
    m_stack = SipStack::create();
    m_stack->setT1(kT1);
    ASSERT_EQ(m_stack->listen(17, 0), 0);
    m_port = m_stack->localPort();
    Dialog second;
    SipStackEvent* b = startCall(&second, branch());
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a->cid, b->cid);
    EXPECT_NE(a->tid, b->tid);
    EXPECT_NE(a->did, b->did);
    m_stack->lock();
    EXPECT_LT(m_stack->callSendAnswer(a->tid, 200, nullptr), 0);
    EXPECT_LT(m_stack->callTerminate(a->cid, a->did), 0);
    m_stack->unlock();
    SipStack::eventFree(a);
    SipStack::eventFree(b);
}

// The offer of a call's INVITE, its first audio m-line and the connection that applies.
TEST_F(SipStackLifeTest, RemoteSdp)
{
    const std::string sdp = "v=0\r\no=p 1 1 IN IP4 127.0.0.2\r\ns=-\r\nc=IN IP4 127.0.0.2\r\nt=0 0\r\n"
                            "m=video 7000 RTP/AVP 96\r\nc=IN IP4 127.0.0.7\r\na=rtpmap:96 H264/90000\r\n"
                            "m=audio 6000 RTP/AVP 0\r\n";
    const struct
    {
        const char* name;
        std::string extra;
        std::string body;
        bool parsed;
    } cases[] = {
        {"sdp", "", sdp, true},
        {"sdp in upper case", "Content-Type: APPLICATION/SDP\r\n", sdp, true},
        // libosip2 alone reads past the end of such a text (ASan shows it).
        {"last line without line end", "", sdp.substr(0, sdp.size() - 2), true},
        {"no body", "", "", false},
        {"not sdp", "Content-Type: text/plain\r\n", sdp, false},
        {"broken sdp", "", "this is not sdp\r\n", false},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Dialog dialog{"sdp" + std::to_string(++n) + "@x", "s" + std::to_string(n), "", 1};
        ASSERT_TRUE(m_peer->send(request("INVITE", dialog, branch(), 1, c.extra, c.body), m_port));
        SipStackEvent* event = waitEvent(SipStackEvent::CallInvite, 2000);
        ASSERT_NE(event, nullptr);
        m_stack->lock();
        sdp_message_t* offer = m_stack->remoteSdp(event->tid);
        m_stack->unlock();
        EXPECT_EQ(offer != nullptr, c.parsed);
        if (offer) {
            sdp_media_t* audio = SipStackSdp::firstMedia(offer, "audio");
            sdp_media_t* video = SipStackSdp::firstMedia(offer, "video");
            ASSERT_NE(audio, nullptr);
            ASSERT_NE(video, nullptr);
            EXPECT_STREQ(audio->m_port, "6000");
            EXPECT_STREQ(SipStackSdp::connectionOf(offer, audio)->c_addr, "127.0.0.2");
            EXPECT_STREQ(SipStackSdp::connectionOf(offer, video)->c_addr, "127.0.0.7");
            EXPECT_EQ(SipStackSdp::firstMedia(offer, "application"), nullptr);
            sdp_message_free(offer);
        }
        SipStack::eventFree(event);
    }
    m_stack->lock();
    EXPECT_EQ(m_stack->remoteSdp(987654321), nullptr);
    m_stack->unlock();
    EXPECT_EQ(SipStackSdp::firstMedia(nullptr, "audio"), nullptr);
}

// A registrar name that does not resolve ends the attempt like a time-out.
TEST_F(SipStackLifeTest, UnresolvableRegistrar)
{
    m_stack->lock();
    osip_message_t* message = nullptr;
    const int rid = m_stack->registerBuildInitial("sip:a@nowhere.invalid", "sip:nowhere.invalid", nullptr, 60, &message);
    ASSERT_GT(rid, 0);
    EXPECT_EQ(m_stack->registerSend(rid, message), 0);
    m_stack->unlock();
    SipStackEvent* failed = waitEvent(SipStackEvent::RegistrationFailure, 15000);
    ASSERT_NE(failed, nullptr);
    EXPECT_EQ(failed->rid, rid);
    EXPECT_EQ(failed->response, nullptr);
    SipStack::eventFree(failed);
}

// A protocol call without the stack lock is a fault in the caller: it stops the process with a
// line naming the call.
TEST(SipStackLockDeathTest, CallWithoutLockAborts)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            SipStackPtr stack = SipStack::create();
            stack->registerRemove(1);
        },
        "registerRemove called without the stack lock");
}

TEST(SipLocalIpTest, DefaultRouteInterface)
{
    const std::string table =
        "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
        "eth1\t00000000\t0101A8C0\t0003\t0\t0\t200\t00000000\t0\t0\t0\n"
        "eth0\t0001A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n"
        "eth0\t00000000\t0100000A\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
        "eth2\t00000000\t0100000A\t0002\t0\t0\t1\t00000000\t0\t0\t0\n";
    EXPECT_EQ(SipLocalIp::defaultRouteInterface(table), "eth0");
    EXPECT_EQ(SipLocalIp::defaultRouteInterface("Iface\n"), "");
}

// In a network namespace of the test's own: the address of the interface with the default
// route; without a default route a failure.
TEST(SipLocalIpTest, GuessInNamespace)
{
    SONARIS_REQUIRE_PEER(TestNetns::available(), "network namespaces (root and the ip command)");
    TestNetns ns("sipip");
    ASSERT_TRUE(ns.isValid());
    ASSERT_TRUE(TestNetns::vethPair(ns, "sv0", "10.77.0.1/24", ns, "sv1", "10.77.0.2/24"));
    char address[32] = "x";
    {
        TestNetns::Enter inside(ns);
        ASSERT_TRUE(inside.ok());
        EXPECT_NE(SipStack::guessLocalIp(address, sizeof(address)), 0);
    }
    ASSERT_TRUE(ns.ip({"route", "add", "default", "via", "10.77.0.2", "dev", "sv0"}));
    {
        TestNetns::Enter inside(ns);
        ASSERT_TRUE(inside.ok());
        EXPECT_EQ(SipStack::guessLocalIp(address, sizeof(address)), 0);
        EXPECT_STREQ(address, "10.77.0.1");
        char tiny[4];
        EXPECT_NE(SipStack::guessLocalIp(tiny, sizeof(tiny)), 0);
    }
}
