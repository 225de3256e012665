#include "SipStack.h"
#include "SipTestAgent.h"
#include "SipTestPeer.h"
#include "TestSupport.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <thread>

namespace {

// SIPp as the peer, on 127.0.0.2, against the stack on 0.0.0.0 (reached as 127.0.0.1), with the
// test agent answering events as the SIP agent does. Every SIPp run is bounded.
class SipStackSippTest : public ::testing::Test
{
protected:
    struct Run
    {
        int exitCode = -1;
        QString output;
        QString messages; // -trace_msg
        QString errors;   // -trace_err
        QString logs;     // <log> actions
    };

    void SetUp() override
    {
        SONARIS_REQUIRE_COMMANDS("sipp");
        ASSERT_TRUE(m_dir.isValid());
        m_stack = SipStack::create();
        ASSERT_NE(m_stack, nullptr);
        m_stack->setT1(50);
        ASSERT_EQ(m_stack->listen(17, 0), 0);
        m_agent = std::make_unique<SipTestAgent>(m_stack.get());
    }

    void TearDown() override
    {
        m_agent.reset();
        m_stack.reset();
    }

    static QString scenario(const char* name)
    {
        return QStringLiteral(SIPSTACK_TEST_DIR "/sipp/") + QString::fromLatin1(name);
    }

    // Runs sipp with the common bounds and trace files; extra arguments first.
    Run sipp(const QStringList& arguments, int localPort = 0)
    {
        static int runs = 0;
        const QString tag = QString::number(++runs);
        const QString messages = m_dir.filePath("messages" + tag + ".log");
        const QString errors = m_dir.filePath("errors" + tag + ".log");
        const QString logs = m_dir.filePath("logs" + tag + ".log");
        QStringList all = arguments;
        all << "-i" << "127.0.0.2"
            << "-p" << QString::number(localPort > 0 ? localPort : SipTestPeer::freePort("127.0.0.2"))
            << "-mp" << QString::number(SipTestPeer::freePort("127.0.0.2"))
            << "-m" << "1" << "-timeout" << "30s" << "-timeout_error" << "-nostdin"
            << "-trace_msg" << "-message_file" << messages
            << "-trace_err" << "-error_file" << errors
            << "-trace_logs" << "-log_file" << logs;
        const TestSupport::Result result = TestSupport::run("sipp", all, 45000);
        Run run;
        run.exitCode = result.exitCode;
        run.output = QString::fromLocal8Bit(result.out + result.err);
        run.messages = readFile(messages);
        run.errors = readFile(errors);
        run.logs = readFile(logs);
        return run;
    }

    static QString readFile(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()) : QString();
    }

    QString target() const { return "127.0.0.1:" + QString::number(m_stack->localPort()); }

    std::vector<int> types() const
    {
        std::vector<int> all;
        for (const auto& record : m_agent->records())
            all.push_back(record.type);
        return all;
    }

    static std::string describe(const Run& run)
    {
        return (run.output + "\n--- errors\n" + run.errors + "\n--- messages\n" + run.messages).toStdString();
    }

    QTemporaryDir m_dir;
    SipStackPtr m_stack;
    std::unique_ptr<SipTestAgent> m_agent;
};

// SIPp's verifyauth reads only the Authorization header, so SIPp checks the answers to 401
// challenges; the answers to 407 (Proxy-Authorization) are checked against a raw peer in
// SipStackRegisterTest.DigestAnswers. The parameter is the qop text of the challenge.
class SipStackSippRegisterTest : public SipStackSippTest, public ::testing::WithParamInterface<const char*>
{
protected:
    // SIPp plays the registrar; the agent registers alice with that password.
    Run registerWith(const char* password)
    {
        const int port = SipTestPeer::freePort("127.0.0.2");
        m_agent->setCredentials("alice", password);
        Run run;
        std::thread registrar([&] { run = sipp({"-sf", scenario("reg_auth.xml"), "-key", "qop", GetParam()}, port); });
        EXPECT_TRUE(SipTestPeer::waitBound("127.0.0.2", port, 10000)) << "SIPp did not bind its port";
        const std::string registrar_ = "sip:127.0.0.2:" + std::to_string(port);
        const std::string from = "sip:alice@127.0.0.2:" + std::to_string(port);
        EXPECT_GT(m_agent->registerAccount(from, registrar_, 60), 0);
        registrar.join();
        return run;
    }
};

} // namespace

TEST_P(SipStackSippRegisterTest, RightPasswordRegisters)
{
    const Run run = registerWith("s3cret");
    EXPECT_EQ(run.exitCode, 0) << describe(run);
    EXPECT_TRUE(run.logs.contains("auth valid")) << run.logs.toStdString();
    EXPECT_FALSE(run.logs.contains("auth invalid")) << run.logs.toStdString();
    ASSERT_TRUE(m_agent->waitFor(SipStackEvent::RegistrationSuccess, 1, 5000));
    EXPECT_EQ(m_agent->count(SipStackEvent::RegistrationFailure), 1); // the challenge
    int granted = -1;
    for (const auto& record : m_agent->records()) {
        if (record.type == SipStackEvent::RegistrationSuccess)
            granted = record.status;
    }
    EXPECT_EQ(granted, 200);
}

TEST_P(SipStackSippRegisterTest, WrongPasswordFailsAfterThreeAnswers)
{
    const Run run = registerWith("wrong");
    EXPECT_EQ(run.exitCode, 0) << describe(run);
    EXPECT_EQ(run.logs.count("auth invalid"), 3) << run.logs.toStdString();
    EXPECT_FALSE(run.logs.contains("auth valid")) << run.logs.toStdString();
    EXPECT_TRUE(m_agent->waitFor(SipStackEvent::RegistrationFailure, 4, 5000));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(m_agent->count(SipStackEvent::RegistrationFailure), 4);
    EXPECT_EQ(m_agent->count(SipStackEvent::RegistrationSuccess), 0);
    EXPECT_EQ(m_agent->authAnswers(), 3);
}

INSTANTIATE_TEST_SUITE_P(Challenges, SipStackSippRegisterTest,
                         ::testing::Values(", qop=\"auth\"", ""),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(*info.param ? "Qop" : "NoQop");
                         });

// SIPp's built-in caller: INVITE with SDP, answered 180 and 200 with SDP, ACK, then BYE.
TEST_F(SipStackSippTest, IncomingCallAnsweredAckedAndHungUp)
{
    const Run run = sipp({"-sn", "uac", "-s", "12", "-d", "500", target()});
    EXPECT_EQ(run.exitCode, 0) << describe(run);
    ASSERT_TRUE(m_agent->waitFor(SipStackEvent::CallReleased, 1, 5000));
    const std::vector<int> expected{SipStackEvent::CallInvite, SipStackEvent::CallAck, SipStackEvent::CallClosed,
                                    SipStackEvent::CallReleased};
    EXPECT_EQ(types(), expected);
    // What SIPp got: 100 with a tag, 180, 200 with our SDP; its BYE answered 200.
    EXPECT_TRUE(run.messages.contains("SIP/2.0 100 Trying")) << run.messages.toStdString();
    EXPECT_TRUE(run.messages.contains("SIP/2.0 180 Ringing"));
    EXPECT_TRUE(run.messages.contains("m=audio 40000 RTP/AVP 0"));
    EXPECT_TRUE(run.errors.trimmed().isEmpty()) << run.errors.toStdString();
}

// A caller that cancels while it rings.
TEST_F(SipStackSippTest, CancelBeforeAnswer)
{
    m_agent->setCallMode(SipTestAgent::RingOnly);
    const Run run = sipp({"-sf", scenario("uac_cancel.xml"), "-s", "12", target()});
    EXPECT_EQ(run.exitCode, 0) << describe(run);
    ASSERT_TRUE(m_agent->waitFor(SipStackEvent::CallReleased, 1, 5000));
    const std::vector<int> expected{SipStackEvent::CallInvite, SipStackEvent::CallCancelled,
                                    SipStackEvent::CallReleased};
    EXPECT_EQ(types(), expected);
    EXPECT_TRUE(run.errors.trimmed().isEmpty()) << run.errors.toStdString();
}

// OPTIONS and MESSAGE out of dialog reach the application and get its answers; SUBSCRIBE and a
// BYE without dialog are answered by the stack.
TEST_F(SipStackSippTest, OutOfDialogRequests)
{
    const Run run = sipp({"-sf", scenario("ood.xml"), "-s", "12", target()});
    EXPECT_EQ(run.exitCode, 0) << describe(run);
    ASSERT_TRUE(m_agent->waitFor(SipStackEvent::MessageNew, 2, 2000));
    const auto records = m_agent->records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].method, "OPTIONS");
    EXPECT_EQ(records[1].method, "MESSAGE");
    EXPECT_TRUE(run.errors.trimmed().isEmpty()) << run.errors.toStdString();
}
