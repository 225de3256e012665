#include "SipStackShares.h"
#include "SipStackTestBase.h"
#include "SipTestAgent.h"

#include <arpa/inet.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using Kind = SipStackShares::Kind;

in_addr address(const char* text)
{
    in_addr result{};
    inet_pton(AF_INET, text, &result);
    return result;
}

in_addr address(uint32_t hostOrder)
{
    in_addr result{};
    result.s_addr = htonl(hostOrder);
    return result;
}

// The stack with T1 = 50 ms and peers on 127.0.0.2 (m_peer) and 127.0.0.3.
class SipStackShareTest : public SipStackTestBase
{
protected:
    void SetUp() override
    {
        SipStackTestBase::SetUp();
        m_other = std::make_unique<SipTestPeer>("127.0.0.3");
        ASSERT_TRUE(m_other->isOpen());
    }

    static Dialog dialog(const std::string& name)
    {
        Dialog d;
        d.callId = name + "@share";
        d.fromTag = "t" + name;
        return d;
    }

    // How many datagrams the peer got within ms whose first line starts with prefix.
    static int countStarting(SipTestPeer& peer, const std::string& prefix, int ms)
    {
        int n = 0;
        for (const auto& datagram : peer.collect(ms))
            n += SipTestPeer::firstLine(datagram.text).rfind(prefix, 0) == 0;
        return n;
    }

    std::unique_ptr<SipTestPeer> m_other;
};

} // namespace

// Tickets count against their own address and kind only, and every way a ticket ends (moved
// over, destroyed) gives its place back.
TEST(SipStackSharesTest, TicketsCountTheirAddress)
{
    SipStackShares shares;
    const in_addr a = address("127.0.0.2");
    const in_addr b = address("127.0.0.3");
    std::vector<SipStackShares::Ticket> tickets;
    for (int i = 0; i < SipStackShares::kMaxTransactionsPerAddress; ++i) {
        ASSERT_TRUE(shares.hasRoom(Kind::Transaction, a)) << i;
        tickets.push_back(shares.take(Kind::Transaction, a));
    }
    EXPECT_FALSE(shares.hasRoom(Kind::Transaction, a));
    EXPECT_TRUE(shares.hasRoom(Kind::Transaction, b));
    EXPECT_TRUE(shares.hasRoom(Kind::Call, a));
    EXPECT_EQ(shares.held(Kind::Transaction, a), SipStackShares::kMaxTransactionsPerAddress);

    SipStackShares::Ticket moved = std::move(tickets.back());
    tickets.pop_back();
    EXPECT_FALSE(shares.hasRoom(Kind::Transaction, a)) << "a moved ticket still counts";
    moved = shares.take(Kind::Call, b);
    EXPECT_TRUE(shares.hasRoom(Kind::Transaction, a)) << "the ticket assigned over is given back";
    EXPECT_EQ(shares.held(Kind::Call, b), 1);

    std::vector<SipStackShares::Ticket> calls;
    for (int i = 1; i < SipStackShares::kMaxCallsPerAddress; ++i)
        calls.push_back(shares.take(Kind::Call, b));
    EXPECT_FALSE(shares.hasRoom(Kind::Call, b));
    EXPECT_TRUE(shares.hasRoom(Kind::Transaction, b));

    tickets.clear();
    calls.clear();
    moved = SipStackShares::Ticket();
    EXPECT_EQ(shares.held(Kind::Transaction, a), 0);
    EXPECT_EQ(shares.held(Kind::Call, b), 0);
    EXPECT_EQ(shares.addressCount(), 0u) << "nothing kept for addresses that hold nothing";
}

// Answers outside a transaction: a second's worth per address, refilled as time passes, and a
// second's worth for all addresses together.
TEST(SipStackSharesTest, StatelessBudget)
{
    constexpr int perAddress = SipStackShares::kStatelessPerSecond;
    constexpr int all = SipStackShares::kAllStatelessPerSecond;
    const struct
    {
        const char* what;
        uint32_t firstAddress; // host order; each of `addresses` spends `tries` times
        int addresses;
        int tries;
        int64_t atMs;
        int expectedSpent;
    } steps[] = {
        {"one address, a second's worth", 0x7F000002, 1, perAddress + 5, 0, perAddress},
        {"nothing refilled yet", 0x7F000002, 1, 1, 50, 0},
        {"one refilled after 1/10 s", 0x7F000002, 1, 3, 100, 1},
        {"others have their own, up to what all may have", 0x7F000010, 10, perAddress, 100, all - 1},
        {"all addresses spent theirs", 0x7F000100, 1, 1, 100, 0},
        {"which refills too", 0x7F000100, 1, 1, 110, 1},
        {"whole again after a second", 0x7F000002, 1, perAddress + 5, 2000, perAddress},
    };
    SipStackShares shares;
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        int spent = 0;
        for (int n = 0; n < step.addresses; ++n) {
            for (int i = 0; i < step.tries; ++i)
                spent += shares.spendStateless(address(step.firstAddress + n), step.atMs);
        }
        EXPECT_EQ(spent, step.expectedSpent);
    }
}

// A flood from ever new (spoofed) addresses: the budgets kept stay bounded and the flood gets
// no more answers than all addresses together may have; counting tickets never fails. Once the
// budgets have refilled, new addresses are answered again.
TEST(SipStackSharesTest, BudgetsOfManyAddressesBounded)
{
    SipStackShares shares;
    int answered = 0;
    for (uint32_t n = 0; n < 5000; ++n)
        answered += shares.spendStateless(address(0x0A000000 + n), n / 10);
    EXPECT_LE(shares.addressCount(), SipStackShares::kMaxBudgetAddresses);
    EXPECT_LE(answered, SipStackShares::kAllStatelessPerSecond * 2);
    const in_addr late = address("127.0.0.9");
    SipStackShares::Ticket ticket = shares.take(Kind::Transaction, late);
    EXPECT_EQ(shares.held(Kind::Transaction, late), 1);
    EXPECT_TRUE(shares.spendStateless(address("192.0.2.1"), 5000));
}

// 127.0.0.2 leaves 64 requests unanswered: its next one is refused at once with 503 and gets no
// transaction, while 127.0.0.3 is served. Refusals past the stateless budget go unanswered. Once
// the application answers some of the 64, they no longer hold the share and 127.0.0.2 is served.
TEST_F(SipStackShareTest, OneAddressRefusedAtItsShare)
{
    std::vector<int> tids;
    for (int i = 0; i < SipStackShares::kMaxTransactionsPerAddress; ++i) {
        ASSERT_TRUE(m_peer->send(request("OPTIONS", dialog("held" + std::to_string(i)), branch(), 1), m_port));
        SipStackEvent* event = waitEvent(SipStackEvent::MessageNew, 2000);
        ASSERT_NE(event, nullptr) << i;
        tids.push_back(event->tid);
        SipStack::eventFree(event);
    }
    ASSERT_TRUE(m_peer->send(request("OPTIONS", dialog("refused"), branch(), 1), m_port));
    EXPECT_FALSE(m_peer->receiveStarting("SIP/2.0 503", 2000).text.empty());

    ASSERT_TRUE(m_other->send(requestFrom(*m_other, "OPTIONS", dialog("other"), branch(), 1), m_port));
    SipStackEvent* other = waitEvent(SipStackEvent::MessageNew, 2000);
    ASSERT_NE(other, nullptr) << "the other address was refused";
    EXPECT_EQ(other->request->from->url->host, std::string("127.0.0.3"));
    SipStack::eventFree(other);

    constexpr int flood = 40;
    for (int i = 0; i < flood; ++i)
        ASSERT_TRUE(m_peer->send(request("OPTIONS", dialog("flood" + std::to_string(i)), branch(), 1), m_port));
    const int refusals = countStarting(*m_peer, "SIP/2.0 503", 300);
    EXPECT_GE(refusals, 1);
    EXPECT_LT(refusals, flood) << "every refusal answered";
    EXPECT_EQ(waitEvent(SipStackEvent::MessageNew, 50), nullptr) << "a request past the share got a transaction";

    m_stack->lock();
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(m_stack->messageSendAnswer(tids[i], 200, nullptr), 0);
    m_stack->unlock();
    ASSERT_TRUE(m_peer->send(request("OPTIONS", dialog("after"), branch(), 1), m_port));
    SipStackEvent* after = waitEvent(SipStackEvent::MessageNew, 2000);
    EXPECT_NE(after, nullptr) << "answered requests still held the share";
    SipStack::eventFree(after);
}

// Datagrams that do not parse get a 400 only within the same budget: a flood of them is mostly
// dropped without an answer.
TEST_F(SipStackShareTest, MalformedFloodAnsweredWithinBudget)
{
    const std::string noCallId = "OPTIONS sip:12@127.0.0.1 SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.2:" +
                                 std::to_string(m_peer->port()) +
                                 ";branch=z9hG4bKbad\r\nFrom: <sip:a@127.0.0.2>;tag=1\r\nTo: <sip:12@127.0.0.1>\r\n"
                                 "CSeq: 1 OPTIONS\r\nContent-Length: 0\r\n\r\n";
    constexpr int flood = 40;
    for (int i = 0; i < flood; ++i)
        ASSERT_TRUE(m_peer->send(noCallId, m_port));
    const int answers = countStarting(*m_peer, "SIP/2.0 400", 300);
    EXPECT_GE(answers, 1);
    EXPECT_LT(answers, flood) << "every malformed datagram answered";
}

// 127.0.0.2 keeps its share of calls unanswered: its next INVITE gets 503 while 127.0.0.3's is
// taken; when one of the first calls ends, 127.0.0.2 is taken again.
TEST_F(SipStackShareTest, OneAddressHoldsAtMostItsShareOfCalls)
{
    std::vector<SipStackEvent*> calls;
    for (int i = 0; i < SipStackShares::kMaxCallsPerAddress; ++i) {
        Dialog d = dialog("call" + std::to_string(i));
        calls.push_back(startCall(&d, branch()));
        ASSERT_NE(calls.back(), nullptr) << i;
    }
    ASSERT_TRUE(m_peer->send(request("INVITE", dialog("one-too-many"), branch(), 1, std::string(), offer()), m_port));
    EXPECT_FALSE(m_peer->receiveStarting("SIP/2.0 503", 2000).text.empty());

    ASSERT_TRUE(m_other->send(requestFrom(*m_other, "INVITE", dialog("other"), branch(), 1, std::string(), offer()), m_port));
    EXPECT_FALSE(m_other->receiveStarting("SIP/2.0 100", 2000).text.empty());
    SipStackEvent* other = waitEvent(SipStackEvent::CallInvite, 2000);
    ASSERT_NE(other, nullptr) << "the other address's call was refused";
    SipStack::eventFree(other);

    m_stack->lock();
    EXPECT_EQ(m_stack->callTerminate(calls[0]->cid, calls[0]->did), 0);
    m_stack->unlock();
    EXPECT_FALSE(m_peer->receiveStarting("SIP/2.0 603", 2000).text.empty());
    Dialog again = dialog("again");
    SipStackEvent* taken = startCall(&again, branch());
    EXPECT_NE(taken, nullptr);
    SipStack::eventFree(taken);
    for (SipStackEvent* event : calls)
        SipStack::eventFree(event);
}

// INVITEs from 127.0.0.2 that are declined (or refused for its share of calls) and never
// acknowledged hold their transactions until Timer H (64 x T1): 127.0.0.2 gets no more than its
// share taken, the rest refused at once, and 127.0.0.3 is answered meanwhile; once Timer H has
// passed, 127.0.0.2 is taken again.
TEST_F(SipStackShareTest, NeverAcknowledgedInvitesHoldTheShareUntilTimerH)
{
    SipTestAgent agent(m_stack.get());
    agent.setCallMode(SipTestAgent::Decline);
    constexpr int burst = 200;
    for (int i = 0; i < burst; ++i)
        ASSERT_TRUE(m_peer->send(request("INVITE", dialog("burst" + std::to_string(i)), branch(), 1, std::string(), offer()), m_port));
    const int64_t burstSent = SipTestPeer::nowMs();
    // Sent after the burst into the same socket: answered once all of it was read and the
    // application has seen every INVITE taken.
    ASSERT_TRUE(m_other->send(requestFrom(*m_other, "OPTIONS", dialog("meanwhile"), branch(), 1), m_port));
    EXPECT_FALSE(m_other->receiveStarting("SIP/2.0 200", 2000).text.empty()) << "the other address was refused";
    const int taken = agent.count(SipStackEvent::CallInvite);
    EXPECT_GE(taken, 1);
    EXPECT_LE(taken, SipStackShares::kMaxTransactionsPerAddress);
    EXPECT_GE(countStarting(*m_peer, "SIP/2.0 503", 100), 1) << "the burst was not refused at once";

    // Timer H is 3.2 s here; asking every 200 ms, 127.0.0.2 is taken again soon after.
    int64_t takenAt = 0;
    for (int i = 0; i < 100 && !takenAt; ++i) {
        ASSERT_TRUE(m_peer->send(request("INVITE", dialog("later" + std::to_string(i)), branch(), 1, std::string(), offer()), m_port));
        if (agent.waitFor(SipStackEvent::CallInvite, taken + 1, 200))
            takenAt = SipTestPeer::nowMs();
    }
    ASSERT_GT(takenAt, 0) << "127.0.0.2 stayed refused";
    EXPECT_GE(takenAt - burstSent, 64 * kT1 - 200) << "taken again before its transactions ended";
}
