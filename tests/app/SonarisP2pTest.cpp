// The running program reached over P2P by its connection code: the command-line remote app
// (tools/loopp2p_client.py) against a copy of the binary, the way a user's phone app would.
#include "AppRtpReceiver.h"
#include "SonarisRun.h"
#include "TestSupport.h"
#include "TestTone.h"
#include "VexaCode.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

#include <csignal>
#include <unistd.h>

namespace {

constexpr int kPcmu = 0;
constexpr int kToneHz = 1000;
constexpr int kTalkHz = 700;

QString tool()
{
    return TestSupport::sourceDir() + QStringLiteral("/tools/loopp2p_client.py");
}

// Runs of this test side by side (and other programs) must not share a device name.
QString uniqueUid(const char* what)
{
    return QStringLiteral("LOOPUID-%1-%2").arg(QLatin1String(what)).arg(getpid());
}

// What the tool printed, one JSON object per line.
QList<QJsonObject> messages(const QByteArray& out)
{
    QList<QJsonObject> list;
    for (const QByteArray& line : out.split('\n')) {
        const QJsonDocument document = QJsonDocument::fromJson(line);
        if (document.isObject())
            list.append(document.object());
    }
    return list;
}

int indexOf(const QList<QJsonObject>& list, const QString& method)
{
    for (int i = 0; i < list.size(); ++i)
        if (list[i].value(QStringLiteral("method")).toString() == method)
            return i;
    return -1;
}

// The P2P name a program bound, as /proc lists abstract sockets ("@loopp2p/<uid>").
bool nameBound(const QString& uid)
{
    QFile file(QStringLiteral("/proc/net/unix"));
    return file.open(QIODevice::ReadOnly) && file.readAll().contains("@loopp2p/" + uid.toLatin1());
}

class SonarisP2pTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SONARIS_REQUIRE_COMMANDS("sqlite3", "ffmpeg", "/usr/bin/python3");
        ASSERT_TRUE(run.isValid());
    }

    QList<QPair<QString, QString>> ports()
    {
        return {{QStringLiteral("http port"), QString::number(TestSupport::freeTcpPort())},
                {QStringLiteral("sip port"), QString::number(AppRtpReceiver::freeEvenPort())}};
    }

    SonarisRun run;
};

TEST_F(SonarisP2pTest, AppWithTheCodeListsStartsHearsRtpStartedAndTalks)
{
    const QString uid = uniqueUid("e2e");
    const QString code = VexaCode::encode(uid);
    AppRtpReceiver tone;
    AppRtpReceiver talk;
    ASSERT_TRUE(tone.start());
    ASSERT_TRUE(talk.start());
    auto settings = ports();
    settings.append({QStringLiteral("vexacode"), code});
    settings.append({QStringLiteral("vexacode enable"), QStringLiteral("1")});
    ASSERT_TRUE(run.seed(settings));
    const QString toneFile = run.path(QStringLiteral("tone.mp3"));
    ASSERT_TRUE(TestSupport::makeTone(toneFile, kToneHz, 30, {QStringLiteral("-ar"), QStringLiteral("44100")}));
    ASSERT_TRUE(run.addChannel(3, QStringLiteral("127.0.0.1:%1").arg(tone.port()), kPcmu, toneFile, false, false));
    ASSERT_TRUE(run.addChannel(4, QStringLiteral("127.0.0.1:%1").arg(talk.port()), kPcmu, toneFile, false, false));
    ASSERT_TRUE(run.start());
    ASSERT_TRUE(run.waitForOutput("P2P device logged in under " + uid.toLatin1())) << run.output().toStdString();
    EXPECT_TRUE(nameBound(uid));

    // Requests, a start and its notification.
    TestSupport::Result result = TestSupport::run(
        QStringLiteral("/usr/bin/python3"),
        {tool(), QStringLiteral("--code"), code,
         QStringLiteral("--json"), QStringLiteral(R"({"id":1,"method":"GetDeviceInfo"})"),
         QStringLiteral("--json"), QStringLiteral(R"({"id":2,"method":"GetRtp"})"),
         QStringLiteral("--json"), QStringLiteral(R"({"id":3,"method":"StartRtp","rtpId":3})"),
         QStringLiteral("--wait"), QStringLiteral("3")},
        60000);
    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
    QList<QJsonObject> got = messages(result.out);
    const int info = indexOf(got, QStringLiteral("GetDeviceInfo"));
    ASSERT_GE(info, 0) << result.out.toStdString();
    EXPECT_EQ(got[info].value(QStringLiteral("id")).toInt(), 1);
    EXPECT_EQ(got[info].value(QStringLiteral("result")).toInt(), 0);
    const int list = indexOf(got, QStringLiteral("GetRtp"));
    ASSERT_GE(list, 0) << result.out.toStdString();
    QList<int> ids;
    for (const QJsonValue& rtp : got[list].value(QStringLiteral("rtps")).toArray())
        ids.append(rtp.toObject().value(QStringLiteral("id")).toInt());
    EXPECT_TRUE(ids.contains(3) && ids.contains(4)) << result.out.toStdString();
    const int start = indexOf(got, QStringLiteral("StartRtp"));
    ASSERT_GE(start, 0) << result.out.toStdString();
    EXPECT_EQ(got[start].value(QStringLiteral("result")).toInt(), 0);
    const int started = indexOf(got, QStringLiteral("RtpStarted"));
    ASSERT_GE(started, 0) << result.out.toStdString();
    EXPECT_EQ(got[started].value(QStringLiteral("rtpId")).toInt(), 3);
    EXPECT_TRUE(tone.waitForPackets(25, 15000)) << tone.packetCount();

    // An app that is killed: its session is closed by the program, and the next app is served.
    QProcess killed;
    killed.start(QStringLiteral("/usr/bin/python3"),
                 {tool(), QStringLiteral("--code"), code, QStringLiteral("--json"),
                  QStringLiteral(R"({"id":5,"method":"GetDeviceInfo"})"), QStringLiteral("--wait"), QStringLiteral("60")});
    ASSERT_TRUE(killed.waitForReadyRead(30000));
    ::kill(static_cast<pid_t>(killed.processId()), SIGKILL);
    ASSERT_TRUE(killed.waitForFinished(10000));
    EXPECT_TRUE(run.waitForOutput("avRecvIOCtrl -1007")) << run.output().toStdString();

    // Talk: a tone from the app plays on channel 4.
    const QString talkFile = run.path(QStringLiteral("talk.ulaw"));
    ASSERT_TRUE(TestSupport::makeTone(talkFile, kTalkHz, 3,
                                      {QStringLiteral("-f"), QStringLiteral("mulaw"), QStringLiteral("-ar"),
                                       QStringLiteral("8000"), QStringLiteral("-ac"), QStringLiteral("1")}));
    result = TestSupport::run(
        QStringLiteral("/usr/bin/python3"),
        {tool(), QStringLiteral("--code"), code,
         QStringLiteral("--json"), QStringLiteral(R"({"id":6,"method":"StartTalkRtp","rtpId":4})"),
         QStringLiteral("--talk"), talkFile, QStringLiteral("--pt"), QStringLiteral("0"),
         QStringLiteral("--rate"), QStringLiteral("8000"), QStringLiteral("--ms"), QStringLiteral("20"),
         QStringLiteral("--wait"), QStringLiteral("0.5")},
        60000);
    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
    got = messages(result.out);
    const int talkStart = indexOf(got, QStringLiteral("StartTalkRtp"));
    ASSERT_GE(talkStart, 0) << result.out.toStdString();
    EXPECT_EQ(got[talkStart].value(QStringLiteral("result")).toInt(), 0);
    ASSERT_TRUE(talk.waitForPackets(50, 15000)) << talk.packetCount();
    const TestTone::Result heard = TestTone::measure(
        talk.payloads(kPcmu), {QStringLiteral("-f"), QStringLiteral("mulaw"), QStringLiteral("-ar"),
                               QStringLiteral("8000"), QStringLiteral("-ac"), QStringLiteral("1")},
        8000, kTalkHz);
    ASSERT_TRUE(heard.decoded);
    EXPECT_NEAR(heard.frequency, kTalkHz, 5.0);
}

TEST_F(SonarisP2pTest, DisabledOrEmptyCodeBindsNoName)
{
    const QString uid = uniqueUid("off");
    auto settings = ports();
    settings.append({QStringLiteral("vexacode"), VexaCode::encode(uid)});
    settings.append({QStringLiteral("vexacode enable"), QStringLiteral("0")});
    ASSERT_TRUE(run.seed(settings));
    ASSERT_TRUE(run.start());
    ASSERT_TRUE(run.waitForOutput("Start-up done")) << run.output().toStdString();
    EXPECT_FALSE(nameBound(uid));
    run.signal(SIGTERM);
    ASSERT_EQ(run.waitForExit(), 0);

    run.sqlite(QStringLiteral("update settings set value='1' where key='vexacode enable';"
                              "update settings set value='' where key='vexacode';"));
    ASSERT_TRUE(run.start());
    ASSERT_TRUE(run.waitForOutput("Start-up done")) << run.output().toStdString();
    EXPECT_TRUE(run.output().contains("carries no P2P UID")) << run.output().toStdString();
    EXPECT_FALSE(nameBound(uid));
}

} // namespace
