// The program as a whole: a copy of the binary in a folder of its own, started and ended the way
// a user or a service manager does, with curl, ffmpeg and sqlite3 as its peers.
#include "AppHttpClient.h"
#include "AppRtpReceiver.h"
#include "CrashWriter.h"
#include "SonarisRun.h"
#include "TestAudio.h"
#include "TestSupport.h"
#include "TestTone.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <thread>
#include <vector>

namespace {

constexpr int kChannel = 3;
constexpr int kToneHz = 1000;
constexpr int kPcmu = 0;

// A free UDP port for the program's SIP agent, so that runs side by side do not share one.
int freeUdpPort()
{
    return AppRtpReceiver::freeEvenPort();
}

QByteArray stamp(int daysAgo)
{
    return QDate::currentDate().addDays(-daysAgo).toString(QStringLiteral("yyyyMMdd")).toLatin1() + "120000.log";
}

bool touch(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write("old run\n") > 0;
}

QByteArray curl(int port, const QString& target, int* status = nullptr)
{
    const TestSupport::Result result = TestSupport::run(
        QStringLiteral("curl"),
        {QStringLiteral("-s"), QStringLiteral("-m"), QStringLiteral("20"), QStringLiteral("-w"), QStringLiteral("\n%{http_code}"),
         QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(target)},
        30000);
    const int newline = result.out.lastIndexOf('\n');
    if (status)
        *status = newline >= 0 ? result.out.mid(newline + 1).toInt() : 0;
    return newline >= 0 ? result.out.left(newline) : result.out;
}

class SonarisProcessTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SONARIS_REQUIRE_COMMANDS("sqlite3", "curl");
    }

    // Seeds free ports and starts the run; the HTTP port it listens on.
    int startOn(SonarisRun& run, QList<QPair<QString, QString>> settings = {}, bool seeded = false)
    {
        const int port = TestSupport::freeTcpPort();
        settings.append({QStringLiteral("http port"), QString::number(port)});
        settings.append({QStringLiteral("sip port"), QString::number(freeUdpPort())});
        if (!seeded)
            EXPECT_TRUE(run.seed(settings));
        else
            for (const auto& setting : settings)
                run.sqlite(QStringLiteral("insert or replace into settings(key, value) values('%1', '%2');")
                               .arg(setting.first, setting.second));
        EXPECT_TRUE(run.start());
        const QByteArray listening = "http server listening on 0.0.0.0:" + QByteArray::number(port);
        EXPECT_TRUE(run.waitForOutput(listening)) << run.output().toStdString();
        return port;
    }

    // A tone file for a playlist channel.
    QString toneFile(SonarisRun& run, double seconds)
    {
        const QString path = run.path(QStringLiteral("tone.mp3"));
        EXPECT_TRUE(TestSupport::makeTone(path, kToneHz, seconds, {QStringLiteral("-ar"), QStringLiteral("44100")}));
        return path;
    }
};

TEST_F(SonarisProcessTest, FreshCopyMakesItsFilesAndPurgesOldLogs)
{
    SonarisRun run;
    ASSERT_TRUE(run.isValid());
    ASSERT_TRUE(QDir().mkpath(run.path(QStringLiteral("log"))));
    const QString old = QString::fromLatin1(stamp(31));
    const QString recent = QString::fromLatin1(stamp(29));
    for (const QString& name : {old, recent, QStringLiteral("notadate.log")})
        ASSERT_TRUE(touch(run.path(QStringLiteral("log/") + name)));

    // No seeding: the defaults of a first run (their ports may be taken on this machine; the
    // program then runs without those servers).
    ASSERT_TRUE(run.start());
    ASSERT_TRUE(run.waitForOutput("Start-up done")) << run.output().toStdString();

    EXPECT_TRUE(QFileInfo(run.databaseFile()).isFile());
    EXPECT_TRUE(QFileInfo(run.path(QStringLiteral("database/zvlog.db"))).isFile());
    EXPECT_TRUE(QFileInfo(run.path(QStringLiteral("crash"))).isDir());
    EXPECT_EQ(run.sqlite(QStringLiteral("select key || '=' || value from settings where key in "
                                        "('auto run', 'sip port', 'http port') order by key;")),
              QByteArray("auto run=0\nhttp port=5262\nsip port=6832\n"));
    const QByteArray id = run.sqlite(QStringLiteral("select value from settings where key = 'installation id';")).trimmed();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9a-f]{8}(-[0-9a-f]{4}){3}-[0-9a-f]{12}$"))
                    .match(QString::fromLatin1(id))
                    .hasMatch())
        << id.toStdString();
    EXPECT_EQ(run.sqlite(QStringLiteral("select address from rtp;")), QByteArray("239.255.0.0:8000\n"));
    // The language tables came along with the binary, and the first run reads English from them.
    const QString languages = QFileInfo(run.path(QStringLiteral("language"))).canonicalFilePath();
    EXPECT_TRUE(run.output().contains("Language English from " + languages.toUtf8())) << run.output().toStdString();

    const QStringList logs = run.logFiles();
    EXPECT_FALSE(logs.contains(old));
    EXPECT_TRUE(logs.contains(recent));
    EXPECT_TRUE(logs.contains(QStringLiteral("notadate.log")));
    EXPECT_EQ(logs.filter(QRegularExpression(QStringLiteral("^\\d{14}\\.log$"))).size(), 2) << logs.join(' ').toStdString();
    EXPECT_TRUE(run.output().contains("remove " + old.toLatin1()));

    run.signal(SIGTERM);
    EXPECT_EQ(run.waitForExit(), 0) << run.output().toStdString();

    // A second run keeps the installation id.
    ASSERT_TRUE(run.start());
    ASSERT_TRUE(run.waitForOutput("Start-up done"));
    run.signal(SIGTERM);
    EXPECT_EQ(run.waitForExit(), 0);
    EXPECT_EQ(run.sqlite(QStringLiteral("select value from settings where key = 'installation id';")).trimmed(), id);
}

TEST_F(SonarisProcessTest, SecondInstanceIsRefusedWithoutLogOrPort)
{
    SonarisRun first;
    ASSERT_TRUE(first.isValid());
    startOn(first);
    const QStringList firstLogs = first.logFiles();

    SonarisRun second(first.runtimeDir());
    const int secondPort = TestSupport::freeTcpPort();
    ASSERT_TRUE(second.seed({{QStringLiteral("http port"), QString::number(secondPort)}}));
    ASSERT_TRUE(second.start());
    EXPECT_EQ(second.waitForExit(), 255) << second.output().toStdString();
    EXPECT_TRUE(second.output().contains("Program already running")) << second.output().toStdString();
    EXPECT_FALSE(second.output().contains("listening"));
    EXPECT_TRUE(second.logFiles().isEmpty());
    EXPECT_FALSE(AppHttpClient::isListening(secondPort));

    // The same folder a second time: refused as well, and the first run's log stays alone.
    QProcess again;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), first.runtimeDir());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    again.setProcessEnvironment(env);
    again.start(first.path(QStringLiteral("sonaris")), QStringList());
    ASSERT_TRUE(again.waitForFinished(30000));
    EXPECT_EQ(again.exitCode(), 255);
    EXPECT_EQ(first.logFiles(), firstLogs);

    first.signal(SIGTERM);
    EXPECT_EQ(first.waitForExit(), 0);
}

// A fatal signal in the running program leaves one report in its crash folder.
TEST_F(SonarisProcessTest, FatalSignalLeavesOneCrashReport)
{
    if (CrashWriter::underSanitizer())
        GTEST_SKIP() << "the sanitizer owns the fatal signals in this build";
    SonarisRun run;
    ASSERT_TRUE(run.isValid());
    startOn(run);
    run.signal(SIGSEGV);
    EXPECT_EQ(run.waitForExit(), -1000) << "ended by the signal";
    const QStringList reports = QDir(run.path(QStringLiteral("crash"))).entryList({QStringLiteral("*.dmp")}, QDir::Files);
    ASSERT_EQ(reports.size(), 1);
    QFile report(run.path(QStringLiteral("crash/")) + reports[0]);
    ASSERT_TRUE(report.open(QIODevice::ReadOnly));
    const QByteArray text = report.readAll();
    EXPECT_TRUE(text.startsWith("Quorvel Sonaris 3.2.9 crash report\ndump id: " + reports[0].chopped(4).toLatin1()));
    EXPECT_TRUE(text.contains("(SIGSEGV)"));
    EXPECT_TRUE(text.contains("maps:\n"));
    EXPECT_TRUE(run.output().contains("Succeed to write minidump, dump path: " + run.path(QStringLiteral("crash/")).toLocal8Bit() +
                                      reports[0].chopped(4).toLatin1()))
        << run.output().right(3000).toStdString();
}

class SonarisSignalTest : public SonarisProcessTest, public ::testing::WithParamInterface<int>
{
};

// Clients keep asking "/api" and "/stream/<id>" through start-up and the signal: the program
// must end in order, with exit code 0, whatever is in flight.
TEST_P(SonarisSignalTest, SignalShutsDownInOrderUnderLoad)
{
    SonarisRun run;
    ASSERT_TRUE(run.isValid());
    AppRtpReceiver sink;
    ASSERT_TRUE(sink.start());
    ASSERT_TRUE(run.seed({}));
    ASSERT_TRUE(run.addChannel(kChannel, QStringLiteral("127.0.0.1:%1").arg(sink.port()), kPcmu, toneFile(run, 30), true, true));

    std::atomic<bool> stop{false};
    std::atomic<int> port{0};
    std::atomic<int> apiAnswers{0};
    std::atomic<int> streamBytes{0};
    std::vector<std::thread> clients;
    // Bounded loops: they end on their own after at most this many rounds.
    constexpr int kRounds = 5000;
    clients.emplace_back([&] {
        for (int i = 0; i < kRounds && !stop; ++i) {
            if (port == 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                continue;
            }
            // Mostly starts (answered "rtp has been started" while it runs), now and then a stop.
            const char* action = i % 50 == 49 ? "stop" : "start";
            const AppHttpClient::Reply reply =
                AppHttpClient::get(port, "/api?action=" + QByteArray(action) + "&id=" + QByteArray::number(kChannel), 2000);
            if (reply.status == 200)
                ++apiAnswers;
        }
    });
    for (int c = 0; c < 2; ++c) {
        clients.emplace_back([&] {
            for (int i = 0; i < kRounds && !stop; ++i) {
                if (port == 0) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                    continue;
                }
                const AppHttpClient::Reply reply =
                    AppHttpClient::get(port, "/stream/" + QByteArray::number(kChannel), 1000, 8192);
                streamBytes += reply.body.size();
                if (reply.status != 200)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
    }

    port = startOn(run, {}, true);
    const auto t0 = std::chrono::steady_clock::now();
    while ((apiAnswers < 100 || streamBytes < 16384) && TestSupport::msSince(t0) < 30000)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_GE(apiAnswers.load(), 100);
    EXPECT_GE(streamBytes.load(), 16384);

    run.signal(GetParam());
    const int code = run.waitForExit(60000);
    stop = true;
    for (std::thread& client : clients)
        client.join();
    EXPECT_EQ(code, 0) << run.output().right(4000).toStdString();
    const QByteArray output = run.output();
    EXPECT_TRUE(output.contains("Signal " + QByteArray::number(GetParam()) + ": quitting"));
    EXPECT_TRUE(output.contains("http server stopped listening"));
    EXPECT_TRUE(output.contains("Shutdown done"));
    EXPECT_FALSE(output.contains("ERROR: AddressSanitizer"));
    EXPECT_FALSE(output.contains("WARNING: ThreadSanitizer"));
}

INSTANTIATE_TEST_SUITE_P(Signals, SonarisSignalTest, ::testing::Values(SIGTERM, SIGINT));

// A channel seeded with sqlite3 is started over "/api": its RTP carries the source's tone, the
// HTTP stream plays it in ffmpeg, and "/api" stop ends both.
TEST_F(SonarisProcessTest, ChannelStartedByApiSendsRtpAndStream)
{
    SONARIS_REQUIRE_COMMANDS("ffmpeg");
    SonarisRun run;
    ASSERT_TRUE(run.isValid());
    AppRtpReceiver receiver;
    ASSERT_TRUE(receiver.start());
    ASSERT_TRUE(run.seed({}));
    ASSERT_TRUE(run.addChannel(kChannel, QStringLiteral("127.0.0.1:%1").arg(receiver.port()), kPcmu, toneFile(run, 30), true, true));
    const int port = startOn(run, {}, true);

    EXPECT_EQ(curl(port, QStringLiteral("/api?action=start&id=%1").arg(kChannel)), QByteArray("{\"result\":0}"));
    ASSERT_TRUE(receiver.waitForPackets(50, 15000)) << receiver.packetCount();

    // ffmpeg listens to the stream until it ends.
    const QString wav = run.path(QStringLiteral("stream.wav"));
    QProcess player;
    player.setProcessChannelMode(QProcess::MergedChannels);
    player.start(QStringLiteral("ffmpeg"), {QStringLiteral("-nostdin"), QStringLiteral("-loglevel"), QStringLiteral("error"),
                                            QStringLiteral("-f"), QStringLiteral("mp3"), QStringLiteral("-i"), QStringLiteral("http://127.0.0.1:%1/stream/%2").arg(port).arg(kChannel),
                                            QStringLiteral("-ac"), QStringLiteral("1"), QStringLiteral("-ar"), QStringLiteral("16000"),
                                            QStringLiteral("-flush_packets"), QStringLiteral("1"), QStringLiteral("-y"), wav});
    ASSERT_TRUE(player.waitForStarted(10000));
    const auto t0 = std::chrono::steady_clock::now();
    while (QFileInfo(wav).size() < 16000 * 2 * 2 && player.state() != QProcess::NotRunning && TestSupport::msSince(t0) < 20000)
        player.waitForFinished(50);
    ASSERT_GE(QFileInfo(wav).size(), 16000 * 2 * 2) << player.readAll().toStdString();

    const int packetsBeforeStop = receiver.packetCount();
    EXPECT_EQ(curl(port, QStringLiteral("/api?action=stop&id=%1").arg(kChannel)), QByteArray("{\"result\":0}"));
    EXPECT_TRUE(player.waitForFinished(15000)) << "the stream did not end";
    EXPECT_TRUE(receiver.waitForBye(5000)) << "no RTCP BYE after the stop";
    EXPECT_GE(receiver.packetCount(), packetsBeforeStop);

    const TestTone::Result rtp = TestTone::measure(receiver.payloads(0), {QStringLiteral("-f"), QStringLiteral("mulaw"),
                                                                          QStringLiteral("-ar"), QStringLiteral("8000"),
                                                                          QStringLiteral("-ac"), QStringLiteral("1")},
                                                   8000, kToneHz);
    ASSERT_TRUE(rtp.decoded);
    EXPECT_NEAR(rtp.frequency, kToneHz, 5.0);
    EXPECT_GT(rtp.rms, 0.05);

    const QVector<float> played = TestAudio::trimSilence(TestAudio::decode(wav, 16000));
    ASSERT_GT(played.size(), 16000);
    EXPECT_NEAR(TestAudio::toneFrequency(played, 16000), kToneHz, 5.0);
    EXPECT_GT(TestAudio::rms(played), 0.05);
}

// "/api" answers with these exact bodies, in this order (each row may change the channel).
TEST_F(SonarisProcessTest, ApiAnswersTheCurlTable)
{
    SonarisRun run;
    ASSERT_TRUE(run.isValid());
    AppRtpReceiver sink;
    ASSERT_TRUE(sink.start());
    ASSERT_TRUE(run.seed({}));
    const QString tone = toneFile(run, 30);
    const QString address = QStringLiteral("127.0.0.1:%1").arg(sink.port());
    ASSERT_TRUE(run.addChannel(3, address, kPcmu, tone, true, true));
    ASSERT_TRUE(run.addChannel(4, address, kPcmu, tone, false, true));
    // A channel that cannot start: its stored source kind is none the program knows.
    ASSERT_TRUE(run.addChannel(5, address, kPcmu, tone, true, false));
    ASSERT_FALSE(run.sqlite(QStringLiteral("update rtp set source = 99 where id = 5;")).isNull());
    const int port = startOn(run, {}, true);

    const struct
    {
        const char* target;
        int status;
        const char* body;
    } rows[] = {
        {"/api?id=3", 200, R"({"result":-1,"error":"invalid action"})"},
        {"/api?id=3&action=pause", 200, R"({"result":-1,"error":"invalid action"})"},
        {"/api?id=4", 200, R"({"result":-1,"error":"rtp http api not enabled"})"},
        {"/api?action=start&id=4", 200, R"({"result":-1,"error":"rtp http api not enabled"})"},
        {"/api?action=start&id=abc", 200, R"({"result":-1,"error":"invalid id"})"},
        {"/api?action=start&id=999", 200, R"({"result":-1,"error":"invalid id"})"},
        {"/api?action=start&id=99999999999", 200, R"({"result":-1,"error":"invalid id"})"},
        {"/api?action=start&id=-3", 200, R"({"result":-1,"error":"invalid id"})"},
        {"/api?action=start", 200, R"({"result":-1,"error":"invalid id"})"},
        {"/api?action=stop&id=3", 200, R"({"result":-1,"error":"rtp not started"})"},
        {"/apis?id=3&action=start", 404, ""},
        {"/stream/3", 404, nullptr},
        {"/api?action=START&id=3", 200, R"({"result":0})"},
        {"/api?action=start&id=3", 200, R"({"result":-1,"error":"rtp has been started"})"},
        {"/api?action=Stop&id=3", 200, R"({"result":0})"},
        {"/api?action=stop&id=3", 200, R"({"result":-1,"error":"rtp not started"})"},
        {"/api?action=start&id=5", 200, R"({"result":-1,"error":"rtp start failed"})"},
    };
    for (const auto& row : rows) {
        int status = 0;
        const QByteArray body = curl(port, QLatin1String(row.target), &status);
        EXPECT_EQ(status, row.status) << row.target;
        if (row.body) {
            EXPECT_EQ(body, QByteArray(row.body)) << row.target;
        }
    }

    // The JSON content type and the open CORS headers of every answer.
    const TestSupport::Result head = TestSupport::run(
        QStringLiteral("curl"), {QStringLiteral("-s"), QStringLiteral("-i"), QStringLiteral("http://127.0.0.1:%1/api?id=3").arg(port)});
    EXPECT_TRUE(head.out.contains("Content-Type: application/json;charset=UTF-8")) << head.out.toStdString();
    EXPECT_TRUE(head.out.contains("Access-Control-Allow-Origin: *")) << head.out.toStdString();

    // The action log holds the one start and the one stop, both by HTTP (trigger 2).
    run.signal(SIGTERM);
    EXPECT_EQ(run.waitForExit(), 0);
    const TestSupport::Result log = TestSupport::run(
        QStringLiteral("sqlite3"), {run.path(QStringLiteral("database/zvlog.db")), QStringLiteral("select action, source, type from alog order by id;")});
    EXPECT_TRUE(log.out.startsWith("0|1|2\n1|247|2\n")) << log.out.toStdString();
}

} // namespace
