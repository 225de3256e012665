// The application object in this process: settings, log purge, the start-up questions and the
// start-up and shutdown sequences.
#include "AppHttpClient.h"
#include "AppRtpReceiver.h"
#include "LoopP2pClient.h"
#include "RDHttpStreamServer.h"
#include "RtpEngineHost.h"
#include "RtpManager.h"
#include "RtpPortManager.h"
#include "SingleInstanceLock.h"
#include "Sonaris.h"
#include "SonarisPrompt.h"
#include "SonarisSettings.h"
#include "TUTKClient.h"
#include "TUTKServer.h"
#include "TestSupport.h"
#include "VDB.h"
#include "VexaCode.h"
#include "VexaServerObserver.h"
#include "WSServer.h"
#include "ZvAPI.h"
#include "ZvDB.h"
#include "ZAVeze.h"

#include "../VexaSDK/WS/WSTestPeer.h"

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QCryptographicHash>
#include <QJsonObject>
#include <QThread>

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {

// Answers every question with a set answer and keeps what was asked.
class RecordingPrompt : public SonarisPrompt
{
public:
    struct Question
    {
        Kind kind;
        QString text;
        QString yes;
        QString no;
    };

    int ask(Kind kind, const QString& text, const QString& yesCaption, const QString& noCaption) override
    {
        questions.push_back({kind, text, yesCaption, noCaption});
        return answer;
    }

    int answer = kNo;
    std::vector<Question> questions;
};

// A "StartRtp" request that ZvAPI's request hook holds, on the read thread of the remote client
// that sent it, until the test lets it go. The hook is a plain function, so its state is here.
class HeldRequest
{
public:
    // Bounds every wait of the hold: a shutdown that never lets the request go ends the hold
    // (as a failure) instead of hanging the test.
    static constexpr int kHoldMs = 60000;

    static void reset()
    {
        std::lock_guard<std::mutex> lock(s_lock);
        s_entered = s_released = s_timedOut = s_liveAtRelease = false;
    }

    static void hook(const QJsonObject& request)
    {
        if (request.value(QStringLiteral("method")).toString() != QLatin1String("StartRtp"))
            return;
        std::unique_lock<std::mutex> lock(s_lock);
        s_entered = true;
        s_changed.notify_all();
        s_timedOut = !s_changed.wait_for(lock, std::chrono::milliseconds(kHoldMs), [] { return s_released; });
        s_liveAtRelease = ZvAPI::instance() != nullptr && RtpManager::instance() != nullptr;
    }

    static bool waitEntered()
    {
        std::unique_lock<std::mutex> lock(s_lock);
        return s_changed.wait_for(lock, std::chrono::milliseconds(kHoldMs), [] { return s_entered; });
    }

    static void release()
    {
        std::lock_guard<std::mutex> lock(s_lock);
        s_released = true;
        s_changed.notify_all();
    }

    static bool timedOut()
    {
        std::lock_guard<std::mutex> lock(s_lock);
        return s_timedOut;
    }

    // Whether ZvAPI and the channel manager still existed when the request went on.
    static bool liveAtRelease()
    {
        std::lock_guard<std::mutex> lock(s_lock);
        return s_liveAtRelease;
    }

private:
    static inline std::mutex s_lock;
    static inline std::condition_variable s_changed;
    static inline bool s_entered = false;
    static inline bool s_released = false;
    static inline bool s_timedOut = false;
    static inline bool s_liveAtRelease = false;
};

// Counts the clients a server announced. A server announces a client on its listen thread, under
// the observer lock, after the client's read thread has started: a request held (with that lock)
// before the announcement would keep the listen thread, and so the server's stop, waiting.
class AnnouncedClients : public VexaServerObserver
{
public:
    void onClientConnected(VexaServer*, const std::shared_ptr<VexaClient>&) override
    {
        std::lock_guard<std::mutex> lock(m_lock);
        ++m_count;
        m_changed.notify_all();
    }

    void reset()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_count = 0;
    }

    bool wait(int count, int timeoutMs)
    {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_count >= count; });
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    int m_count = 0;
};

// A folder of its own as the application directory, its own runtime directory for the
// single-instance lock, free ports, and a recording prompt.
class SonarisTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(m_runtime.isValid());
        qputenv(Sonaris::kAppDirVariable, m_dir.path().toLocal8Bit());
        m_oldRuntime = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", m_runtime.path().toLocal8Bit());
        SonarisPrompt::setInstance(&m_prompt);
    }

    void TearDown() override
    {
        ZvAPI::setRequestHook(nullptr);
        if (Sonaris::instance()) {
            Sonaris::instance()->shutdown();
            Sonaris::destroyInstance();
        }
        SonarisPrompt::setInstance(nullptr);
        qunsetenv(Sonaris::kAppDirVariable);
        qunsetenv("SONARIS_FAKE_NO_CAPTURE_DRIVER");
        qputenv("XDG_RUNTIME_DIR", m_oldRuntime);
        VDB::setDataRoot(QString());
    }

    QString path(const QString& relative) const { return m_dir.path() + QLatin1Char('/') + relative; }

    // The object with the databases a first start-up makes, without starting anything.
    Sonaris* createWithDatabase()
    {
        Sonaris* sonaris = Sonaris::createInstance();
        ZvDB db;
        db.checkUpgrade();
        db.initDefaults();
        return sonaris;
    }

    // Settings that keep a start-up off the ports of other runs.
    void seedPorts(Sonaris* sonaris)
    {
        m_httpPort = TestSupport::freeTcpPort();
        sonaris->setHttpPort(m_httpPort);
        sonaris->setSipPort(AppRtpReceiver::freeEvenPort());
    }

    QTemporaryDir m_dir;
    QTemporaryDir m_runtime;
    QByteArray m_oldRuntime;
    RecordingPrompt m_prompt;
    int m_httpPort = 0;
    // Outlives every server of the test, whichever way the test ends.
    AnnouncedClients m_announced;
};

TEST_F(SonarisTest, PortSettingsFallBackToTheirDefaults)
{
    Sonaris* sonaris = createWithDatabase();
    const struct
    {
        const char* stored; // null: absent
        int port;
    } rows[] = {{"0", 9012}, {"-5", 9012}, {"abc", 9012}, {"70000", 9012}, {"", 9012}, {nullptr, 9012},
                {"7000", 7000}, {"65535", 65535}, {"1", 1}};
    for (const auto& row : rows) {
        if (row.stored) {
            sonaris->setSetting(QStringLiteral("api port"), QLatin1String(row.stored));
        } else {
            ASSERT_EQ(TestSupport::run(QStringLiteral("sqlite3"), {path(QStringLiteral("database/zv.db")),
                                                                   QStringLiteral("delete from settings where key = 'api port';")})
                          .exitCode,
                      0);
        }
        EXPECT_EQ(sonaris->apiPort(), row.port) << (row.stored ? row.stored : "(absent)");
    }
    // The same rule for the other ports, each with its own default.
    sonaris->setSetting(QStringLiteral("http port"), QStringLiteral("x"));
    sonaris->setSetting(QStringLiteral("sip port"), QStringLiteral("99999"));
    EXPECT_EQ(sonaris->httpPort(), 5262);
    EXPECT_EQ(sonaris->sipPort(), 6832);
}

TEST_F(SonarisTest, FlagSettingsReadAsNumbers)
{
    Sonaris* sonaris = createWithDatabase();
    const struct
    {
        const char* stored;
        int value;
    } rows[] = {{"", 0}, {"1", 1}, {"x", 0}, {"0", 0}, {"2", 2}};
    for (const auto& row : rows) {
        sonaris->setSetting(QStringLiteral("api enable"), QLatin1String(row.stored));
        sonaris->setSetting(QStringLiteral("vexacode enable"), QLatin1String(row.stored));
        EXPECT_EQ(sonaris->apiEnable(), row.value) << row.stored;
        EXPECT_EQ(sonaris->vexaCodeEnable(), row.value) << row.stored;
    }
    EXPECT_EQ(sonaris->authEnable(), 0);
    EXPECT_EQ(sonaris->autoRun(), 0);
}

TEST_F(SonarisTest, SettingWrittenOnGuiThreadIsReadOnWorker)
{
    Sonaris* sonaris = createWithDatabase();
    sonaris->setHttpPort(6000);
    sonaris->setAuthUsername(QStringLiteral("operator"));
    int workerPort = 0;
    QString workerUser;
    // A std::thread, whose join ThreadSanitizer sees (a QThread wait it does not).
    std::thread worker([&] {
        workerPort = sonaris->httpPort();
        workerUser = sonaris->authUsername();
        // A write from the worker, read back on the GUI thread below.
        sonaris->setLanguage(QStringLiteral("Deutsch"));
    });
    worker.join();
    EXPECT_EQ(workerPort, 6000);
    EXPECT_EQ(workerUser, QStringLiteral("operator"));
    EXPECT_EQ(sonaris->language(), QStringLiteral("Deutsch"));
    // The stored text, as sqlite3 sees it.
    const TestSupport::Result stored = TestSupport::run(
        QStringLiteral("sqlite3"), {path(QStringLiteral("database/zv.db")), QStringLiteral("select value from settings where key = 'http port';")});
    EXPECT_EQ(stored.out, QByteArray("6000\n"));
}

// An import replaces the database file under the object's own connection: it closes the
// connection before and opens it again after, and reads and writes go on through it.
TEST_F(SonarisTest, ImportReopensTheOwnConnection)
{
    Sonaris* sonaris = createWithDatabase();
    sonaris->setHttpPort(6001);
    const QString exported = path(QStringLiteral("export.db"));
    ASSERT_TRUE(ZvDB::exportTo(exported));
    sonaris->setHttpPort(7002);
    ASSERT_EQ(sonaris->httpPort(), 7002);

    ASSERT_TRUE(ZvDB::importFrom(exported));
    EXPECT_EQ(sonaris->httpPort(), 6001);
    sonaris->setHttpPort(6003);
    const TestSupport::Result stored = TestSupport::run(
        QStringLiteral("sqlite3"), {path(QStringLiteral("database/zv.db")), QStringLiteral("select value from settings where key = 'http port';")});
    EXPECT_EQ(stored.out, QByteArray("6003\n"));
}

TEST_F(SonarisTest, PurgeRemovesOnlyLogsOlderThanThirtyDays)
{
    const QString folder = path(QStringLiteral("log"));
    ASSERT_TRUE(QDir().mkpath(folder));
    const QStringList names = {QStringLiteral("20250101000000.log"), QStringLiteral("20250102235959.log"),
                               QStringLiteral("notadate.log"), QStringLiteral("20251301000000.log"),
                               QStringLiteral("20250101000000.txt"), QStringLiteral("2025010100000.log"),
                               QStringLiteral("20250101000000-1.log"), QStringLiteral("20250101000000-x.log")};
    for (const QString& name : names) {
        QFile file(folder + QLatin1Char('/') + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    // 31 days after 1 January: that file and its roll-over go; 2 January is 30 days back and stays.
    EXPECT_EQ(Sonaris::purgeLogFolder(folder, QDate(2025, 2, 1)), 2);
    QStringList left = QDir(folder).entryList(QDir::Files, QDir::Name);
    EXPECT_EQ(left, (QStringList{QStringLiteral("2025010100000.log"), QStringLiteral("20250101000000-x.log"),
                                 QStringLiteral("20250101000000.txt"),
                                 QStringLiteral("20250102235959.log"), QStringLiteral("20251301000000.log"),
                                 QStringLiteral("notadate.log")}));
    EXPECT_EQ(Sonaris::purgeLogFolder(folder, QDate(2025, 2, 2)), 1);
    EXPECT_FALSE(QFileInfo::exists(folder + QStringLiteral("/20250102235959.log")));
}

TEST_F(SonarisTest, SecondInstanceStopsBeforeAnythingStarts)
{
    SingleInstanceLock other(Sonaris::kApplicationName);
    ASSERT_EQ(other.acquire(), SingleInstanceLock::Acquired);
    qputenv("SONARIS_FAKE_NO_CAPTURE_DRIVER", "1");

    Sonaris* sonaris = createWithDatabase();
    EXPECT_EQ(sonaris->init(0, nullptr), -1);
    ASSERT_EQ(m_prompt.questions.size(), 1u) << "the driver question comes after the lock";
    EXPECT_EQ(m_prompt.questions[0].kind, SonarisPrompt::kWarning);
    EXPECT_EQ(m_prompt.questions[0].text, QStringLiteral("Program already running"));
    EXPECT_EQ(m_prompt.questions[0].yes, QStringLiteral("OK"));
    EXPECT_EQ(m_prompt.questions[0].no, QStringLiteral("Cancel"));
    EXPECT_FALSE(sonaris->httpServer());
    EXPECT_EQ(sonaris->deviceTool(), nullptr);
    EXPECT_EQ(RtpManager::instance(), nullptr);
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("log"))));
    sonaris->shutdown();
    Sonaris::destroyInstance();
}

TEST_F(SonarisTest, StartsAndShutsDownInOrder)
{
    Sonaris* sonaris = createWithDatabase();
    seedPorts(sonaris);
    ASSERT_EQ(sonaris->init(0, nullptr), 0);
    EXPECT_EQ(QCoreApplication::organizationName(), QStringLiteral("Quorvel"));
    EXPECT_EQ(QCoreApplication::applicationName(), QStringLiteral("Quorvel Sonaris"));
    EXPECT_TRUE(QFileInfo(path(QStringLiteral("crash"))).isDir());
    EXPECT_EQ(QDir(path(QStringLiteral("log"))).entryList(QDir::Files).size(), 1);
    EXPECT_FALSE(sonaris->installationId().isEmpty());
    ASSERT_NE(RtpManager::instance(), nullptr);
    EXPECT_NE(RtpPortManager::instance(), nullptr);
    // The channels' streams reach the one server through the host.
    EXPECT_EQ(RtpEngineHost::currentHttpStreamServer(), sonaris->httpServer());
    EXPECT_EQ(RtpEngineHost::currentSipPort(), sonaris->sipPort());
    // The device tool runs on the chosen adapter.
    ASSERT_NE(sonaris->deviceTool(), nullptr);
    EXPECT_TRUE(sonaris->deviceTool()->isRunning());
    EXPECT_EQ(sonaris->deviceTool()->network().name(), sonaris->network().name());

    const auto t0 = std::chrono::steady_clock::now();
    while (!AppHttpClient::isListening(m_httpPort) && TestSupport::msSince(t0) < 10000)
        QThread::msleep(5);
    const AppHttpClient::Reply reply = AppHttpClient::get(m_httpPort, "/api?action=stop&id=1");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, QByteArray(R"({"result":-1,"error":"rtp http api not enabled"})"));

    const QString id = sonaris->installationId();
    sonaris->shutdown();
    EXPECT_EQ(RtpManager::instance(), nullptr);
    EXPECT_EQ(RtpPortManager::instance(), nullptr);
    EXPECT_EQ(RtpEngineHost::currentHttpStreamServer(), nullptr);
    EXPECT_FALSE(sonaris->httpServer());
    EXPECT_EQ(sonaris->deviceTool(), nullptr);
    EXPECT_FALSE(AppHttpClient::isListening(m_httpPort));
    // The lock is free again: a new start-up succeeds and keeps the installation id.
    Sonaris::destroyInstance();
    sonaris = createWithDatabase();
    ASSERT_EQ(sonaris->init(0, nullptr), 0);
    EXPECT_EQ(sonaris->installationId(), id);
}

// Through the running server: an id that is not a whole decimal number names no channel, where
// a lenient reading would have found channel 1 (its HTTP API switch is off after a first run).
TEST_F(SonarisTest, ApiIdsMustBeWholeDecimalNumbers)
{
    Sonaris* sonaris = createWithDatabase();
    seedPorts(sonaris);
    ASSERT_EQ(sonaris->init(0, nullptr), 0);
    ASSERT_TRUE(TestSupport::waitUntil([&] { return AppHttpClient::isListening(m_httpPort); }, 10000));
    const struct
    {
        const char* id;
        const char* body;
    } rows[] = {
        {"1", R"({"result":-1,"error":"rtp http api not enabled"})"},
        {"01", R"({"result":-1,"error":"rtp http api not enabled"})"},
        {"1abc", R"({"result":-1,"error":"invalid id"})"},
        {"1.0", R"({"result":-1,"error":"invalid id"})"},
        {"+1", R"({"result":-1,"error":"invalid id"})"},
        {"%201", R"({"result":-1,"error":"invalid id"})"},
        {"1e0", R"({"result":-1,"error":"invalid id"})"},
    };
    for (const auto& row : rows) {
        const QByteArray target = QByteArray("/api?action=stop&id=") + row.id;
        const AppHttpClient::Reply reply = AppHttpClient::get(m_httpPort, target);
        EXPECT_EQ(reply.status, 200) << target.constData();
        EXPECT_EQ(reply.body, QByteArray(row.body)) << target.constData();
    }
}

TEST_F(SonarisTest, MissingDriverQuestionAndItsAnswers)
{
    qputenv("SONARIS_FAKE_NO_CAPTURE_DRIVER", "1");
    const QString marker = path(QStringLiteral("installer-ran"));
    const struct
    {
        int answer;
        bool installer;
        bool runs;
    } rows[] = {{SonarisPrompt::kYes, true, true}, {SonarisPrompt::kNo, true, false},
                {SonarisPrompt::kCancel, true, false}, {SonarisPrompt::kYes, false, false}};
    for (const auto& row : rows) {
        QFile::remove(marker);
        QDir(path(QStringLiteral("winpcap"))).removeRecursively();
        if (row.installer) {
            ASSERT_TRUE(QDir().mkpath(path(QStringLiteral("winpcap"))));
            QFile script(path(QStringLiteral("winpcap/npcap-1.75.exe")));
            ASSERT_TRUE(script.open(QIODevice::WriteOnly));
            script.write("#!/bin/sh\n[ $# -eq 0 ] && touch '" + marker.toLocal8Bit() + "'\n");
            script.close();
            script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        m_prompt.questions.clear();
        m_prompt.answer = row.answer;
        Sonaris* sonaris = createWithDatabase();
        seedPorts(sonaris);
        // Start-up goes on whatever the answer.
        EXPECT_EQ(sonaris->init(0, nullptr), 0);
        ASSERT_EQ(m_prompt.questions.size(), 1u);
        EXPECT_EQ(m_prompt.questions[0].kind, SonarisPrompt::kInformation);
        EXPECT_EQ(m_prompt.questions[0].text, QStringLiteral("Please install npcap first"));
        EXPECT_EQ(m_prompt.questions[0].yes, QStringLiteral("Install"));
        EXPECT_EQ(m_prompt.questions[0].no, QStringLiteral("Cancel"));
        // The installer has ended by the time start-up goes on.
        EXPECT_EQ(QFileInfo::exists(marker), row.runs) << row.answer << " " << row.installer;
        sonaris->shutdown();
        Sonaris::destroyInstance();
    }
}

TEST_F(SonarisTest, DefaultAnswersLetTheProgramGoOnOrEnd)
{
    SonarisPrompt::setInstance(nullptr);
    EXPECT_EQ(SonarisPrompt::show(SonarisPrompt::kWarning, QStringLiteral("Program already running"), QStringLiteral("OK"),
                                  QStringLiteral("Cancel")),
              SonarisPrompt::kNo);
    EXPECT_EQ(SonarisPrompt::show(SonarisPrompt::kInformation, QStringLiteral("Please install npcap first"),
                                  QStringLiteral("Install"), QStringLiteral("Cancel")),
              SonarisPrompt::kNo);
    EXPECT_EQ(SonarisPrompt::show(SonarisPrompt::kInformation, QStringLiteral("Done"), QStringLiteral("OK"), QString()),
              SonarisPrompt::kYes);
}

TEST_F(SonarisTest, RestartMovesTheOneHttpServerToTheNewPort)
{
    Sonaris* sonaris = createWithDatabase();
    seedPorts(sonaris);
    ASSERT_EQ(sonaris->init(0, nullptr), 0);
    const std::shared_ptr<RDHttpStreamServer> server = sonaris->httpServer();
    const auto listening = [](int port) {
        const auto t0 = std::chrono::steady_clock::now();
        while (!AppHttpClient::isListening(port) && TestSupport::msSince(t0) < 10000)
            QThread::msleep(5);
        return AppHttpClient::isListening(port);
    };
    ASSERT_TRUE(listening(m_httpPort));

    sonaris->stopHttpServer();
    EXPECT_FALSE(AppHttpClient::isListening(m_httpPort));
    EXPECT_EQ(sonaris->httpServer(), server) << "stopped, the server stays for the channels' streams";
    const int newPort = TestSupport::freeTcpPort();
    sonaris->setHttpPort(newPort);
    EXPECT_EQ(sonaris->restartHttpServer(), 0);
    EXPECT_EQ(sonaris->httpServer(), server);
    EXPECT_TRUE(listening(newPort));
    EXPECT_FALSE(AppHttpClient::isListening(m_httpPort));
}

// The UID an enabled code starts the P2P server under is written to the log, at start-up as on
// a later change; a code that starts nothing writes none.
TEST_F(SonarisTest, EnabledCodeLogsTheUidItStartsUnder)
{
    const QString uid = QStringLiteral("LOGUID-%1").arg(getpid());
    const QString line = QStringLiteral("tutkCode = ") + uid;
    const auto logged = [this, &line] {
        int count = 0;
        const QDir folder(path(QStringLiteral("log")));
        for (const QString& name : folder.entryList({QStringLiteral("*.log")}, QDir::Files)) {
            QFile file(folder.filePath(name));
            if (file.open(QIODevice::ReadOnly))
                count += QString::fromUtf8(file.readAll()).count(line);
        }
        return count;
    };
    Sonaris* sonaris = createWithDatabase();
    seedPorts(sonaris);
    sonaris->setSetting(QStringLiteral("vexacode"), VexaCode::encode(uid));
    sonaris->setSetting(QStringLiteral("vexacode enable"), QStringLiteral("1"));
    ASSERT_EQ(sonaris->init(0, nullptr), 0);
    EXPECT_EQ(logged(), 1);

    const struct
    {
        const char* what;
        bool enable;
        QString code;
        int lines;
    } cases[] = {
        {"enabled", true, VexaCode::encode(uid), 1},
        {"disabled", false, VexaCode::encode(uid), 0},
        {"empty", true, QString(), 0},
        {"not a code", true, QStringLiteral("0101zz"), 0},
    };
    for (const auto& c : cases) {
        const int before = logged();
        sonaris->updateVexaCode(c.enable, c.code);
        EXPECT_EQ(logged() - before, c.lines) << c.what;
    }
}

// A request inside ZvAPI when shutdown begins: the remote servers stop first, and stopping waits
// for their clients' read threads, so the request goes on with ZvAPI and the channel manager
// still there (its channel starts and is logged), and only then do those go. The request is let
// go once its server closes the app's connection, which the server does as it stops; a shutdown
// that destroyed ZvAPI or the manager first would have the request go on in freed objects.
// Held once on each remote server: WebSocket (stopped first) and P2P (stopped after it).
TEST_F(SonarisTest, ShutdownWaitsForARequestInsideZvAPI)
{
    SONARIS_REQUIRE_COMMANDS("ffmpeg", "sqlite3");
    AppRtpReceiver receiver;
    ASSERT_TRUE(receiver.start());
    const QString tone = path(QStringLiteral("tone.wav"));
    ASSERT_TRUE(TestSupport::makeTone(tone, 440, 30));
    // Runs side by side must not share a P2P device name.
    const std::string uid = "SHUTDOWN-" + std::to_string(getpid());
    constexpr int kWaitMs = 20000;

    enum class Server
    {
        WebSocket,
        P2p
    };
    for (const Server server : {Server::WebSocket, Server::P2p}) {
        SCOPED_TRACE(server == Server::WebSocket ? "WebSocket" : "P2P");
        Sonaris* sonaris = createWithDatabase();
        seedPorts(sonaris);
        const int apiPort = TestSupport::freeTcpPort();
        sonaris->setApiEnable(1);
        sonaris->setApiPort(apiPort);
        sonaris->setVexaCode(VexaCode::encode(QString::fromStdString(uid)));
        sonaris->setVexaCodeEnable(1);
        ASSERT_EQ(sonaris->init(0, nullptr), 0);

        RtpInfo channel;
        channel.name = QStringLiteral("held");
        channel.address = QStringLiteral("127.0.0.1:%1").arg(receiver.port());
        channel.codec = 0;
        channel.volume = 80;
        channel.source = RtpInfo::kSourcePlaylist;
        channel.playlist = {tone};
        channel.id = RtpManager::instance()->addRtpInfo(channel);
        ASSERT_GT(channel.id, 0);
        const std::string start = R"({"id":1,"method":"StartRtp","rtpId":)" + std::to_string(channel.id) + "}";

        m_announced.reset();
        if (server == Server::WebSocket)
            sonaris->webSocketServer()->addObserver(&m_announced);
        else
            sonaris->p2pServer()->addObserver(&m_announced);
        HeldRequest::reset();
        ZvAPI::setRequestHook(&HeldRequest::hook);
        WSTestPeer ws;
        LoopP2pClient p2p;
        if (server == Server::WebSocket) {
            ASSERT_TRUE(ws.connect(apiPort) && ws.handshake());
            ASSERT_TRUE(m_announced.wait(1, kWaitMs));
            ASSERT_TRUE(ws.sendFrame(WSOpcode::Text, start));
        } else {
            ASSERT_EQ(p2p.connect(uid, kWaitMs), 0);
            ASSERT_EQ(p2p.startAv("admin", "", kWaitMs), 0);
            ASSERT_TRUE(m_announced.wait(1, kWaitMs));
            ASSERT_EQ(p2p.sendIoCtrl(TUTKIoCtrlMessage, start), 0);
        }
        ASSERT_TRUE(HeldRequest::waitEntered());

        std::thread releaser([&] {
            if (server == Server::WebSocket) {
                ws.waitClosed(HeldRequest::kHoldMs);
            } else {
                uint32_t type = 0;
                std::string data;
                const auto t0 = std::chrono::steady_clock::now();
                while (p2p.recvIoCtrl(1000, type, data) != LoopP2pPeerClosed &&
                       TestSupport::msSince(t0) < HeldRequest::kHoldMs) {
                }
            }
            HeldRequest::release();
        });
        sonaris->shutdown();
        releaser.join();
        ZvAPI::setRequestHook(nullptr);

        EXPECT_FALSE(HeldRequest::timedOut()) << "the server never closed the connection while stopping";
        EXPECT_TRUE(HeldRequest::liveAtRelease()) << "ZvAPI or the channel manager went before the servers stopped";
        EXPECT_EQ(ZvAPI::instance(), nullptr);
        EXPECT_EQ(RtpManager::instance(), nullptr);
        // The request reached the manager: the channel's start is in the action log.
        const TestSupport::Result started = TestSupport::run(
            QStringLiteral("sqlite3"),
            {path(QStringLiteral("database/zvlog.db")),
             QStringLiteral("select count(*) from alog where rtpId = %1 and action = 0;").arg(channel.id)});
        EXPECT_EQ(started.out.trimmed(), QByteArray("1"));
        Sonaris::destroyInstance();
    }
}

TEST_F(SonarisTest, AuthDigestIsLowerCaseHexMd5OfUtf8)
{
    EXPECT_EQ(Sonaris::authDigest(QString()), QStringLiteral("d41d8cd98f00b204e9800998ecf8427e"));
    EXPECT_EQ(Sonaris::authDigest(QStringLiteral("admin")), QStringLiteral("21232f297a57a5a743894a0e4a801fc3"));
    EXPECT_EQ(Sonaris::authDigest(QString::fromUtf8("p\xc3\xa4ss")),
              QString::fromLatin1(QCryptographicHash::hash("p\xc3\xa4ss", QCryptographicHash::Md5).toHex()));
}

} // namespace
