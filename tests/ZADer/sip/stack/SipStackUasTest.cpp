#include "SipStackShares.h"
#include "SipStackTestBase.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

class SipStackUasTest : public SipStackTestBase
{
};

std::string viaOf(const std::string& message)
{
    return SipTestPeer::header(message, "Via");
}

std::string branchOf(const std::string& message)
{
    std::string branch;
    SipTestPeer::headerParam(viaOf(message), "branch", &branch);
    return branch;
}

} // namespace

// A new INVITE gets 100 Trying at once, carrying the To tag the dialog keeps; the event holds the
// INVITE (with rport filled in) and that 100.
TEST_F(SipStackUasTest, InviteGetsTryingWithTagAndEvent)
{
    Dialog dialog;
    SipStackEvent* event = startCall(&dialog, branch());
    ASSERT_NE(event, nullptr);
    EXPECT_GT(event->cid, 0);
    EXPECT_GT(event->did, 0);
    EXPECT_GT(event->tid, 0);
    ASSERT_NE(event->request, nullptr);
    ASSERT_NE(event->response, nullptr);
    EXPECT_EQ(event->response->status_code, 100);
    osip_generic_param_t* tag = nullptr;
    ASSERT_EQ(osip_generic_param_get_byname(&event->response->to->gen_params, const_cast<char*>("tag"), &tag), 0);
    EXPECT_EQ(dialog.toTag, tag->gvalue);
    osip_via_t* via = static_cast<osip_via_t*>(osip_list_get(&event->request->vias, 0));
    osip_generic_param_t* rport = nullptr;
    ASSERT_EQ(osip_via_param_get_byname(via, const_cast<char*>("rport"), &rport), 0);
    EXPECT_EQ(std::string(rport->gvalue), std::to_string(m_peer->port()));
    SipStack::eventFree(event);
}

// Via sent-by names a wrong host and port: the answer still goes to where the request came from,
// and the top Via carries received and rport.
TEST_F(SipStackUasTest, AnswersGoToTheSourceWithReceivedAndRport)
{
    const std::string text = "OPTIONS sip:12@127.0.0.1 SIP/2.0\r\n"
                             "Via: SIP/2.0/UDP 10.9.9.9:9;branch=z9hG4bKnat1;rport\r\n"
                             "From: <sip:caller@10.9.9.9>;tag=n1\r\nTo: <sip:12@127.0.0.1>\r\n"
                             "Call-ID: nat1@x\r\nCSeq: 7 OPTIONS\r\nMax-Forwards: 70\r\nContent-Length: 0\r\n\r\n";
    ASSERT_TRUE(m_peer->send(text, m_port));
    SipStackEvent* event = waitEvent(SipStackEvent::MessageNew, 2000);
    ASSERT_NE(event, nullptr);
    m_stack->lock();
    EXPECT_EQ(m_stack->messageSendAnswer(event->tid, 200, nullptr), 0);
    m_stack->unlock();
    SipStack::eventFree(event);
    const SipTestPeer::Datagram answer = m_peer->receiveStarting("SIP/2.0 200", 2000);
    ASSERT_FALSE(answer.text.empty());
    std::string received, rport;
    EXPECT_TRUE(SipTestPeer::headerParam(viaOf(answer.text), "received", &received));
    EXPECT_EQ(received, "127.0.0.2");
    EXPECT_TRUE(SipTestPeer::headerParam(viaOf(answer.text), "rport", &rport));
    EXPECT_EQ(rport, std::to_string(m_peer->port()));
    EXPECT_FALSE(SipTestPeer::header(answer.text, "Allow").empty());
    EXPECT_FALSE(SipTestPeer::header(answer.text, "User-Agent").empty());
    std::string tag;
    EXPECT_TRUE(SipTestPeer::headerParam(SipTestPeer::header(answer.text, "To"), "tag", &tag));
}

// The 200 is sent again after T1, 2T1, 4T1 ... until the ACK; the ACK gives one event 12, and
// an INVITE repeated after the 200 gets the same 200 and no new call.
TEST_F(SipStackUasTest, OkRetransmittedUntilAck)
{
    Dialog dialog;
    const std::string inviteBranch = branch();
    SipStackEvent* incoming = startCall(&dialog, inviteBranch);
    ASSERT_NE(incoming, nullptr);
    const int cid = incoming->cid;
    ASSERT_EQ(answer200(incoming->tid), 0);
    SipStack::eventFree(incoming);

    std::vector<SipTestPeer::Datagram> oks;
    for (int i = 0; i < 5; ++i) {
        SipTestPeer::Datagram ok = m_peer->receiveStarting("SIP/2.0 200", 3000);
        ASSERT_FALSE(ok.text.empty()) << "200 number " << i;
        oks.push_back(ok);
    }
    for (size_t i = 1; i < oks.size(); ++i) {
        EXPECT_EQ(oks[i].text, oks[0].text);
        const int64_t interval = oks[i].atMs - oks[i - 1].atMs;
        const int64_t nominal = kT1 << (i - 1);
        EXPECT_GE(interval, nominal * 8 / 10) << "retransmission " << i;
        EXPECT_LE(interval, nominal * 5 + 100) << "retransmission " << i;
    }
    const std::string& ok = oks[0].text;
    EXPECT_NE(SipTestPeer::header(ok, "Contact").find("127.0.0.1:" + std::to_string(m_port)), std::string::npos) << ok;
    EXPECT_FALSE(SipTestPeer::header(ok, "Allow").empty());
    EXPECT_NE(ok.find("m=audio 40000"), std::string::npos);

    ASSERT_TRUE(m_peer->send(request("ACK", dialog, branch(), 1), m_port));
    SipStackEvent* acked = waitEvent(SipStackEvent::CallAck, 2000);
    ASSERT_NE(acked, nullptr);
    EXPECT_EQ(acked->cid, cid);
    ASSERT_NE(acked->ack, nullptr);
    ASSERT_NE(acked->request, nullptr);
    EXPECT_STREQ(acked->request->sip_method, "INVITE");
    SipStack::eventFree(acked);
    // ACK repeated: nothing new. No more 200s after the ACK.
    m_peer->send(request("ACK", dialog, branch(), 1), m_port);
    const auto late = m_peer->collect(1000);
    for (const auto& datagram : late) {
        EXPECT_NE(SipTestPeer::firstLine(datagram.text), "SIP/2.0 200 OK") << "200 after the ACK";
    }

    // The INVITE repeated (its transaction ended with the 200): the same 200, no second call.
    Dialog repeat = dialog;
    repeat.toTag.clear();
    ASSERT_TRUE(m_peer->send(request("INVITE", repeat, inviteBranch, 1, std::string(), offer()), m_port));
    const SipTestPeer::Datagram again = m_peer->receiveStarting("SIP/2.0 200", 2000);
    EXPECT_EQ(again.text, ok);
    const std::vector<int> types = drainEventTypes(300);
    for (int type : types) {
        EXPECT_NE(type, SipStackEvent::CallAck);
        EXPECT_NE(type, SipStackEvent::CallInvite);
    }
}

// No ACK within 64 x T1: the stack sends BYE itself and reports event 21; the 200 to that BYE
// gives 16 and the call is released (22).
TEST_F(SipStackUasTest, MissingAckEndsCallWithBye)
{
    Dialog dialog;
    SipStackEvent* incoming = startCall(&dialog, branch());
    ASSERT_NE(incoming, nullptr);
    const int cid = incoming->cid;
    ASSERT_EQ(answer200(incoming->tid), 0);
    SipStack::eventFree(incoming);
    const SipTestPeer::Datagram first = m_peer->receiveStarting("SIP/2.0 200", 2000);
    ASSERT_FALSE(first.text.empty());
    std::vector<SipTestPeer::Datagram> skipped;
    const SipTestPeer::Datagram bye = m_peer->receiveStarting("BYE ", 64 * kT1 + 3000, &skipped);
    ASSERT_FALSE(bye.text.empty()) << "no BYE";
    EXPECT_GE(bye.atMs - first.atMs, 64 * kT1 - 100);
    EXPECT_GE(skipped.size(), 4u) << "too few 200 retransmissions";
    EXPECT_EQ(SipTestPeer::firstLine(bye.text), "BYE sip:caller@127.0.0.2:" + std::to_string(m_peer->port()) + " SIP/2.0");
    EXPECT_EQ(SipTestPeer::header(bye.text, "Call-ID"), dialog.callId);
    std::string tag;
    SipTestPeer::headerParam(SipTestPeer::header(bye.text, "From"), "tag", &tag);
    EXPECT_EQ(tag, dialog.toTag);
    SipTestPeer::headerParam(SipTestPeer::header(bye.text, "To"), "tag", &tag);
    EXPECT_EQ(tag, dialog.fromTag);
    EXPECT_EQ(SipTestPeer::header(bye.text, "Max-Forwards"), "70");
    std::string rport;
    EXPECT_TRUE(SipTestPeer::headerParam(viaOf(bye.text), "rport", &rport));

    SipStackEvent* closed = waitEvent(SipStackEvent::CallClosed, 2000);
    ASSERT_NE(closed, nullptr);
    EXPECT_EQ(closed->cid, cid);
    SipStack::eventFree(closed);
    // Answer the BYE.
    std::string answer = "SIP/2.0 200 OK\r\nVia: " + viaOf(bye.text) + "\r\nFrom: " +
                         SipTestPeer::header(bye.text, "From") + "\r\nTo: " + SipTestPeer::header(bye.text, "To") +
                         "\r\nCall-ID: " + dialog.callId + "\r\nCSeq: " + SipTestPeer::header(bye.text, "CSeq") +
                         "\r\nContent-Length: 0\r\n\r\n";
    m_peer->send(answer, m_port);
    SipStackEvent* answered = waitEvent(SipStackEvent::CallMessageAnswered, 2000);
    ASSERT_NE(answered, nullptr);
    EXPECT_EQ(answered->response->status_code, 200);
    SipStack::eventFree(answered);
    SipStackEvent* released = waitEvent(SipStackEvent::CallReleased, 2000);
    ASSERT_NE(released, nullptr);
    EXPECT_EQ(released->cid, cid);
    SipStack::eventFree(released);
}

// CANCEL before the answer: 200 to the CANCEL, 487 to the INVITE, events 13 and 22; the ACK of
// the 487 stays inside its transaction.
TEST_F(SipStackUasTest, CancelBeforeAnswer)
{
    Dialog dialog;
    const std::string inviteBranch = branch();
    SipStackEvent* incoming = startCall(&dialog, inviteBranch);
    ASSERT_NE(incoming, nullptr);
    const int cid = incoming->cid;
    const int tid = incoming->tid;
    m_stack->lock();
    EXPECT_EQ(m_stack->callSendAnswer(tid, 180, nullptr), 0);
    m_stack->unlock();
    SipStack::eventFree(incoming);
    const SipTestPeer::Datagram ringing = m_peer->receiveStarting("SIP/2.0 180", 2000);
    ASSERT_FALSE(ringing.text.empty());
    EXPECT_FALSE(SipTestPeer::header(ringing.text, "Contact").empty());

    Dialog cancel = dialog;
    cancel.toTag.clear();
    ASSERT_TRUE(m_peer->send(request("CANCEL", cancel, inviteBranch, 1), m_port));
    std::vector<SipTestPeer::Datagram> seen = m_peer->collect(600);
    bool cancelOk = false, terminated = false;
    for (const auto& datagram : seen) {
        const std::string line = SipTestPeer::firstLine(datagram.text);
        const std::string cseq = SipTestPeer::header(datagram.text, "CSeq");
        cancelOk |= line == "SIP/2.0 200 OK" && cseq == "1 CANCEL";
        terminated |= line.rfind("SIP/2.0 487", 0) == 0 && cseq == "1 INVITE";
    }
    EXPECT_TRUE(cancelOk);
    EXPECT_TRUE(terminated);
    SipStackEvent* cancelled = waitEvent(SipStackEvent::CallCancelled, 2000);
    ASSERT_NE(cancelled, nullptr);
    EXPECT_EQ(cancelled->cid, cid);
    EXPECT_EQ(cancelled->tid, tid);
    SipStack::eventFree(cancelled);
    SipStackEvent* released = waitEvent(SipStackEvent::CallReleased, 2000);
    ASSERT_NE(released, nullptr);
    SipStack::eventFree(released);

    ASSERT_TRUE(m_peer->send(request("ACK", dialog, inviteBranch, 1), m_port));
    const auto after = m_peer->collect(800);
    EXPECT_TRUE(after.empty()) << SipTestPeer::firstLine(after.front().text);
    m_stack->lock();
    EXPECT_LT(m_stack->callSendAnswer(tid, 200, nullptr), 0) << "answer after CANCEL";
    EXPECT_LT(m_stack->callTerminate(cid, 0), 0);
    m_stack->unlock();
}

// Requests the stack answers by itself, one datagram each.
TEST_F(SipStackUasTest, RequestsAnsweredByTheStack)
{
    const struct
    {
        const char* name;
        std::string method;
        std::string toTag;
        std::string extra;
        int status; // 0 = no answer at all
        const char* header; // a header the answer must carry
    } cases[] = {
        {"BYE in an unknown dialog", "BYE", "unknown", "", 481, nullptr},
        {"BYE out of dialog", "BYE", "", "", 481, nullptr},
        {"INFO in an unknown dialog", "INFO", "unknown", "", 481, nullptr},
        {"stray ACK", "ACK", "unknown", "", 0, nullptr},
        {"stray CANCEL", "CANCEL", "", "", 481, nullptr},
        {"INVITE with Require", "INVITE", "", "Require: 100rel\r\n", 420, "Unsupported"},
        {"SUBSCRIBE", "SUBSCRIBE", "", "Event: presence\r\n", 405, "Allow"},
        {"REFER", "REFER", "", "Refer-To: <sip:x@127.0.0.3>\r\n", 405, "Allow"},
        {"REGISTER", "REGISTER", "", "", 405, "Allow"},
        {"PUBLISH", "PUBLISH", "", "", 405, "Allow"},
        {"UPDATE out of dialog", "UPDATE", "", "", 481, nullptr},
        {"unknown method", "FOO", "", "", 501, "Allow"},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Dialog dialog;
        dialog.callId = "stray" + std::to_string(++n) + "@127.0.0.2";
        dialog.fromTag = "f" + std::to_string(n);
        dialog.toTag = c.toTag;
        ASSERT_TRUE(m_peer->send(request(c.method, dialog, branch(), 1, c.extra), m_port));
        const auto answers = m_peer->collect(300);
        if (c.status == 0) {
            EXPECT_TRUE(answers.empty());
            continue;
        }
        ASSERT_GE(answers.size(), 1u);
        // A final answer to an INVITE is repeated until its ACK; other answers are sent once.
        if (c.method == "INVITE") {
            for (const auto& repeat : answers)
                EXPECT_EQ(repeat.text, answers[0].text);
            m_peer->send(request("ACK", dialog, branchOf(answers[0].text), 1), m_port);
        } else {
            EXPECT_EQ(answers.size(), 1u);
        }
        EXPECT_EQ(SipTestPeer::firstLine(answers[0].text).substr(0, 11), "SIP/2.0 " + std::to_string(c.status));
        if (c.header) {
            EXPECT_FALSE(SipTestPeer::header(answers[0].text, c.header).empty()) << answers[0].text;
        }
        if (c.status == 420) {
            EXPECT_EQ(SipTestPeer::header(answers[0].text, "Unsupported"), "100rel");
        }
    }
    // None of them reached the application.
    for (int type : drainEventTypes(200))
        ADD_FAILURE() << "event " << type;
}

// Datagrams that are not SIP, or miss a required header, are dropped; 400 when a Via is usable.
TEST_F(SipStackUasTest, MalformedDatagrams)
{
    const std::string noCallId = "OPTIONS sip:12@127.0.0.1 SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.2:" +
                                 std::to_string(m_peer->port()) +
                                 ";branch=z9hG4bKbad1\r\nFrom: <sip:a@127.0.0.2>;tag=1\r\nTo: <sip:12@127.0.0.1>\r\n"
                                 "CSeq: 1 OPTIONS\r\nContent-Length: 0\r\n\r\n";
    const std::string wrongCseq = "OPTIONS sip:12@127.0.0.1 SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.2:" +
                                  std::to_string(m_peer->port()) +
                                  ";branch=z9hG4bKbad2\r\nFrom: <sip:a@127.0.0.2>;tag=1\r\nTo: <sip:12@127.0.0.1>\r\n"
                                  "Call-ID: c@x\r\nCSeq: 1 INFO\r\nContent-Length: 0\r\n\r\n";
    const std::string noVia = "OPTIONS sip:12@127.0.0.1 SIP/2.0\r\nFrom: <sip:a@127.0.0.2>;tag=1\r\n"
                              "To: <sip:12@127.0.0.1>\r\nCall-ID: c@x\r\nCSeq: 1 OPTIONS\r\n\r\n";
    const struct
    {
        std::string text;
        bool answered;
    } cases[] = {
        {"\r\n\r\n", false},
        {"\r\n", false},
        {"hello world", false},
        {std::string("\0\1\2\3", 4), false},
        {noVia, false},
        {noCallId, true},
        {wrongCseq, true},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(m_peer->send(c.text, m_port));
        const auto answers = m_peer->collect(250);
        if (!c.answered) {
            EXPECT_TRUE(answers.empty()) << c.text;
            continue;
        }
        ASSERT_EQ(answers.size(), 1u) << c.text;
        EXPECT_EQ(SipTestPeer::firstLine(answers[0].text).substr(0, 11), "SIP/2.0 400");
    }
    for (int type : drainEventTypes(100))
        ADD_FAILURE() << "event " << type;
}

// In a confirmed call: INFO reaches the application (14) and gets its answer; a second re-INVITE
// while the first is unanswered gets 500 with Retry-After; BYE gets 200 and events 21, 22; after
// that the dialog is unknown (481).
TEST_F(SipStackUasTest, InDialogRequests)
{
    Dialog dialog;
    const int cid = confirmedCall(&dialog);
    ASSERT_GT(cid, 0);

    ASSERT_TRUE(m_peer->send(request("INFO", dialog, branch(), 2, "Content-Type: application/dtmf-relay\r\n",
                                     "Signal=1\r\nDuration=100\r\n"),
                             m_port));
    SipStackEvent* info = waitEvent(SipStackEvent::CallMessageNew, 2000);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->cid, cid);
    m_stack->lock();
    EXPECT_LT(m_stack->messageSendAnswer(info->tid, 200, nullptr), 0) << "in-dialog answers go through call calls";
    EXPECT_EQ(m_stack->callSendAnswer(info->tid, 200, nullptr), 0);
    m_stack->unlock();
    SipStack::eventFree(info);
    const auto infoOk = m_peer->receiveStarting("SIP/2.0 200", 2000);
    EXPECT_EQ(SipTestPeer::header(infoOk.text, "CSeq"), "2 INFO");

    ASSERT_TRUE(m_peer->send(request("INVITE", dialog, branch(), 3, std::string(), offer()), m_port));
    SipStackEvent* reinvite = waitEvent(SipStackEvent::CallReinvite, 2000);
    ASSERT_NE(reinvite, nullptr);
    ASSERT_TRUE(m_peer->send(request("INVITE", dialog, branch(), 4, std::string(), offer()), m_port));
    const auto busy = m_peer->receiveStarting("SIP/2.0 500", 2000);
    ASSERT_FALSE(busy.text.empty());
    EXPECT_FALSE(SipTestPeer::header(busy.text, "Retry-After").empty());
    // The first re-INVITE answered and acknowledged: event 12 for it.
    EXPECT_EQ(answer200(reinvite->tid), 0);
    SipStack::eventFree(reinvite);
    EXPECT_FALSE(m_peer->receiveStarting("SIP/2.0 200", 2000).text.empty());
    ASSERT_TRUE(m_peer->send(request("ACK", dialog, branch(), 3), m_port));
    SipStackEvent* acked = waitEvent(SipStackEvent::CallAck, 2000);
    ASSERT_NE(acked, nullptr);
    SipStack::eventFree(acked);

    ASSERT_TRUE(m_peer->send(request("BYE", dialog, branch(), 5), m_port));
    const auto byeOk = m_peer->receiveStarting("SIP/2.0 200", 2000);
    EXPECT_EQ(SipTestPeer::header(byeOk.text, "CSeq"), "5 BYE");
    SipStackEvent* closed = waitEvent(SipStackEvent::CallClosed, 2000);
    ASSERT_NE(closed, nullptr);
    EXPECT_EQ(closed->cid, cid);
    SipStack::eventFree(closed);
    SipStackEvent* released = waitEvent(SipStackEvent::CallReleased, 2000);
    ASSERT_NE(released, nullptr);
    SipStack::eventFree(released);

    ASSERT_TRUE(m_peer->send(request("INFO", dialog, branch(), 6), m_port));
    EXPECT_FALSE(m_peer->receiveStarting("SIP/2.0 481", 2000).text.empty());
}

// Ending a call from the application: unanswered → 603 and 22; answered but not acknowledged →
// the BYE waits for the ACK; confirmed → BYE at once; a second terminate is refused.
TEST_F(SipStackUasTest, TerminateFromTheApplication)
{
    {
        Dialog dialog;
        SipStackEvent* incoming = startCall(&dialog, branch());
        ASSERT_NE(incoming, nullptr);
        m_stack->lock();
        EXPECT_EQ(m_stack->callTerminate(incoming->cid, incoming->did), 0);
        EXPECT_LT(m_stack->callTerminate(incoming->cid, incoming->did), 0);
        m_stack->unlock();
        EXPECT_FALSE(m_peer->receiveStarting("SIP/2.0 603", 2000).text.empty());
        SipStackEvent* released = waitEvent(SipStackEvent::CallReleased, 2000);
        ASSERT_NE(released, nullptr);
        EXPECT_EQ(released->cid, incoming->cid);
        SipStack::eventFree(released);
        SipStack::eventFree(incoming);
    }
    {
        Dialog dialog;
        SipStackEvent* incoming = startCall(&dialog, branch());
        ASSERT_NE(incoming, nullptr);
        ASSERT_EQ(answer200(incoming->tid), 0);
        m_stack->lock();
        EXPECT_EQ(m_stack->callTerminate(incoming->cid, incoming->did), 0);
        EXPECT_LT(m_stack->callTerminate(incoming->cid, incoming->did), 0);
        m_stack->unlock();
        SipStack::eventFree(incoming);
        std::vector<SipTestPeer::Datagram> before;
        EXPECT_TRUE(m_peer->receiveStarting("BYE ", 300, &before).text.empty()) << "BYE before the ACK";
        m_peer->send(request("ACK", dialog, branch(), 1), m_port);
        EXPECT_FALSE(m_peer->receiveStarting("BYE ", 2000).text.empty());
    }
    {
        Dialog dialog;
        const int cid = confirmedCall(&dialog);
        ASSERT_GT(cid, 0);
        m_stack->lock();
        EXPECT_EQ(m_stack->callTerminate(cid, 0), 0);
        m_stack->unlock();
        const auto bye = m_peer->receiveStarting("BYE ", 2000);
        ASSERT_FALSE(bye.text.empty());
        EXPECT_EQ(SipTestPeer::header(bye.text, "CSeq"), "1 BYE");
    }
}

// Out-of-dialog requests the application must answer: unanswered ones get 500 after 64 x T1.
TEST_F(SipStackUasTest, UnansweredRequestGets500)
{
    Dialog dialog;
    dialog.callId = "unanswered@127.0.0.2";
    dialog.fromTag = "u1";
    // Timed from before the send: the stack's clock starts when the request arrives, which a
    // loaded machine may delay, but never before.
    const int64_t start = SipTestPeer::nowMs();
    ASSERT_TRUE(m_peer->send(request("MESSAGE", dialog, branch(), 1, "Content-Type: text/plain\r\n", "hi"), m_port));
    SipStackEvent* event = waitEvent(SipStackEvent::MessageNew, 2000);
    ASSERT_NE(event, nullptr);
    const auto answer = m_peer->receiveStarting("SIP/2.0 500", 64 * kT1 + 3000);
    ASSERT_FALSE(answer.text.empty());
    EXPECT_GE(answer.atMs - start, 64 * kT1 - 5);
    m_stack->lock();
    EXPECT_LT(m_stack->messageSendAnswer(event->tid, 202, nullptr), 0);
    m_stack->unlock();
    SipStack::eventFree(event);
}

// Answers the application cannot give.
TEST_F(SipStackUasTest, AnswerCallsRefuseWrongTransactions)
{
    Dialog dialog;
    SipStackEvent* incoming = startCall(&dialog, branch());
    ASSERT_NE(incoming, nullptr);
    m_stack->lock();
    osip_message_t* answer = nullptr;
    EXPECT_LT(m_stack->messageBuildAnswer(incoming->tid, 200, &answer), 0);
    EXPECT_EQ(answer, nullptr);
    EXPECT_LT(m_stack->callBuildAnswer(999999, 200, &answer), 0);
    EXPECT_LT(m_stack->callBuildAnswer(incoming->tid, 99, &answer), 0);
    EXPECT_LT(m_stack->callTerminate(999999, 0), 0);
    EXPECT_EQ(m_stack->callSendAnswer(incoming->tid, 486, nullptr), 0);
    EXPECT_LT(m_stack->callSendAnswer(incoming->tid, 200, nullptr), 0);
    m_stack->unlock();
    EXPECT_FALSE(m_peer->receiveStarting("SIP/2.0 486", 2000).text.empty());
    SipStackEvent* released = waitEvent(SipStackEvent::CallReleased, 2000);
    ASSERT_NE(released, nullptr);
    SipStack::eventFree(released);
    SipStack::eventFree(incoming);
}

// At most kMaxCalls calls at once, from any addresses; the next INVITE gets 503.
TEST_F(SipStackUasTest, CallLimit)
{
    static_assert(SipStack::kMaxCalls % 2 == 0 && SipStack::kMaxCalls / 2 <= SipStackShares::kMaxCallsPerAddress,
                  "two addresses fill the table");
    SipTestPeer second("127.0.0.3");
    for (int i = 0; i < SipStack::kMaxCalls; ++i) {
        SipTestPeer& peer = i % 2 ? second : *m_peer;
        Dialog dialog;
        dialog.callId = "many" + std::to_string(i) + "@127.0.0.2";
        dialog.fromTag = "m" + std::to_string(i);
        ASSERT_TRUE(peer.send(requestFrom(peer, "INVITE", dialog, branch(), 1, std::string(), offer()), m_port));
        ASSERT_FALSE(peer.receiveStarting("SIP/2.0 100", 2000).text.empty()) << i;
    }
    SipTestPeer third("127.0.0.4");
    Dialog extra;
    extra.callId = "one-too-many@127.0.0.4";
    extra.fromTag = "x";
    ASSERT_TRUE(third.send(requestFrom(third, "INVITE", extra, branch(), 1, std::string(), offer()), m_port));
    EXPECT_FALSE(third.receiveStarting("SIP/2.0 503", 2000).text.empty());
}

// The transaction table is bounded: requests the application has not answered, from as many
// addresses as fill it at their shares, take it whole and the next request gets 503; answered
// ones make room for new requests.
TEST_F(SipStackUasTest, TransactionTableBounded)
{
    constexpr int addresses = SipStack::kMaxTransactions / SipStackShares::kMaxTransactionsPerAddress;
    static_assert(addresses * SipStackShares::kMaxTransactionsPerAddress == SipStack::kMaxTransactions,
                  "whole shares fill the table");
    std::vector<std::unique_ptr<SipTestPeer>> peers;
    for (int i = 0; i <= addresses; ++i) {
        peers.push_back(std::make_unique<SipTestPeer>(("127.0.0." + std::to_string(10 + i)).c_str()));
        ASSERT_TRUE(peers.back()->isOpen());
    }
    const auto options = [&](const SipTestPeer& peer, int n) {
        Dialog dialog;
        dialog.callId = "table" + std::to_string(n) + "@" + peer.ip();
        dialog.fromTag = "t" + std::to_string(n);
        return requestFrom(peer, "OPTIONS", dialog, branch(), 1);
    };
    std::vector<int> tids;
    for (int i = 0; i < SipStack::kMaxTransactions; ++i) {
        SipTestPeer& peer = *peers[i % addresses];
        ASSERT_TRUE(peer.send(options(peer, i), m_port));
        SipStackEvent* event = waitEvent(SipStackEvent::MessageNew, 2000);
        ASSERT_NE(event, nullptr) << i;
        tids.push_back(event->tid);
        SipStack::eventFree(event);
    }
    SipTestPeer& last = *peers.back();
    ASSERT_TRUE(last.send(options(last, -1), m_port));
    EXPECT_FALSE(last.receiveStarting("SIP/2.0 503", 2000).text.empty());
    m_stack->lock();
    for (int tid : tids)
        EXPECT_EQ(m_stack->messageSendAnswer(tid, 200, nullptr), 0);
    m_stack->unlock();
    // Each peer's socket buffer takes its 64 answers.
    size_t answers = 0;
    const int64_t deadline = SipTestPeer::nowMs() + 5000;
    while (answers < tids.size() && SipTestPeer::nowMs() < deadline) {
        for (int p = 0; p < addresses; ++p)
            answers += !peers[p]->receive(5).text.empty();
    }
    EXPECT_EQ(answers, tids.size());
    ASSERT_TRUE(last.send(options(last, -2), m_port));
    SipStackEvent* event = waitEvent(SipStackEvent::MessageNew, 2000);
    ASSERT_NE(event, nullptr);
    SipStack::eventFree(event);
}

// Behind a proxy that records its route: the 200 carries the Record-Route, and our BYE goes to
// the proxy with a Route header and the caller's Contact as Request-URI.
TEST_F(SipStackUasTest, ByeFollowsTheRouteSet)
{
    SipTestPeer proxy("127.0.0.3");
    ASSERT_TRUE(proxy.isOpen());
    const std::string route = "<sip:127.0.0.3:" + std::to_string(proxy.port()) + ";lr>";
    Dialog dialog{"routed@127.0.0.2", "r1", "", 1};
    ASSERT_TRUE(m_peer->send(request("INVITE", dialog, branch(), 1, "Record-Route: " + route + "\r\n", offer()), m_port));
    const auto trying = m_peer->receiveStarting("SIP/2.0 100", 2000);
    SipTestPeer::headerParam(SipTestPeer::header(trying.text, "To"), "tag", &dialog.toTag);
    SipStackEvent* incoming = waitEvent(SipStackEvent::CallInvite, 2000);
    ASSERT_NE(incoming, nullptr);
    ASSERT_EQ(answer200(incoming->tid), 0);
    const auto ok = m_peer->receiveStarting("SIP/2.0 200", 2000);
    EXPECT_EQ(SipTestPeer::header(ok.text, "Record-Route"), route);
    ASSERT_TRUE(m_peer->send(request("ACK", dialog, branch(), 1), m_port));
    SipStack::eventFree(waitEvent(SipStackEvent::CallAck, 2000));
    m_stack->lock();
    EXPECT_EQ(m_stack->callTerminate(incoming->cid, incoming->did), 0);
    m_stack->unlock();
    SipStack::eventFree(incoming);
    const auto bye = proxy.receiveStarting("BYE ", 2000);
    ASSERT_FALSE(bye.text.empty()) << "BYE not sent to the first route";
    EXPECT_EQ(SipTestPeer::firstLine(bye.text), "BYE sip:caller@127.0.0.2:" + std::to_string(m_peer->port()) + " SIP/2.0");
    EXPECT_EQ(SipTestPeer::header(bye.text, "Route"), route);
}
