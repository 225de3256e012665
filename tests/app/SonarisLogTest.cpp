// The log of the running program (a copy of the built binary) under what peers on the LAN can
// do: a flood of junk datagrams at its SIP port, an app that polls the channel list over
// WebSocket, and a log folder that earlier runs have filled.
#include "AppRtpReceiver.h"
#include "RDLog.h"
#include "Sonaris.h"
#include "SonarisRun.h"
#include "TestSupport.h"
#include "../VexaSDK/WS/WSTestPeer.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kChannels = 16;
// Datagrams sent at a time before the program must have read them all: well within the
// default receive buffer, so that none is lost and each is handled.
constexpr int kBurst = 50;

const QRegularExpression kStamp(QStringLiteral("^\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] "));

// The lines of the files in the log folder but those named in except, by name.
QStringList logLines(const SonarisRun& run, const QStringList& except = QStringList())
{
    QStringList lines;
    for (const QString& name : run.logFiles()) {
        if (except.contains(name))
            continue;
        QFile file(run.path(QStringLiteral("log/") + name));
        if (file.open(QIODevice::ReadOnly))
            lines += QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    return lines;
}

qint64 logBytes(const SonarisRun& run)
{
    qint64 bytes = 0;
    for (const QString& name : run.logFiles())
        bytes += QFileInfo(run.path(QStringLiteral("log/") + name)).size();
    return bytes;
}

// The sum of N over the "N similar lines suppressed" lines at the site, e.g. "ZvAPI.cpp:117".
long long counted(const QStringList& lines, const QString& site)
{
    const QRegularExpression count(kStamp.pattern() + QRegularExpression::escape(site) + " (\\d+) similar lines suppressed$");
    long long sum = 0;
    for (const QString& line : lines) {
        const QRegularExpressionMatch match = count.match(line);
        if (match.hasMatch())
            sum += match.captured(1).toLongLong();
    }
    return sum;
}

// The site ("file.cpp:line") of the first line holding text.
QString siteOf(const QStringList& lines, const QString& text)
{
    for (const QString& line : lines) {
        if (!line.contains(text))
            continue;
        const QRegularExpressionMatch match = QRegularExpression(kStamp.pattern() + "(\\S+:\\d+) ").match(line);
        if (match.hasMatch())
            return match.captured(1);
    }
    return QString();
}

// Windows a call site may have had in ms: each may write its lines.
int windowsIn(double ms)
{
    return int(ms / RDLog::kSiteWindowMs) + 2;
}

class SonarisLogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SONARIS_REQUIRE_COMMANDS("sqlite3");
        ASSERT_TRUE(m_run.isValid());
        m_sipPort = AppRtpReceiver::freeEvenPort();
        m_apiPort = TestSupport::freeTcpPort();
    }

    void start()
    {
        ASSERT_TRUE(m_run.seed({{QStringLiteral("http port"), QString::number(TestSupport::freeTcpPort())},
                                {QStringLiteral("sip port"), QString::number(m_sipPort)},
                                {QStringLiteral("api enable"), QStringLiteral("1")},
                                {QStringLiteral("api port"), QString::number(m_apiPort)}}));
        // The first run's default channel makes way for the app's sixteen.
        ASSERT_FALSE(m_run.sqlite(QStringLiteral("delete from rtp;")).isNull());
        for (int id = 1; id <= kChannels; ++id)
            ASSERT_TRUE(m_run.addChannel(id, QStringLiteral("239.255.0.%1:8000").arg(id), 0,
                                         m_run.path(QStringLiteral("sounds/announcement %1.mp3").arg(id)), true, true));
        ASSERT_TRUE(m_run.start());
        ASSERT_TRUE(m_run.waitForOutput("Start-up done")) << m_run.output().toStdString();
        ASSERT_TRUE(m_run.waitForOutput("WebSocket server listens on 0.0.0.0:" + QByteArray::number(m_apiPort)))
            << m_run.output().toStdString();
    }

    // Reads the next frame while taking in what the program prints, since a full pipe would
    // stop its logging threads.
    bool readReply(WSTestPeer& app, WSFrameHeader* frame, std::string* payload)
    {
        const auto t0 = std::chrono::steady_clock::now();
        while (TestSupport::msSince(t0) < 20000) {
            if (app.readFrame(frame, payload, nullptr, 20))
                return true;
            m_run.waitForOutput("\n(never printed)\n", 20);
        }
        return false;
    }

    void stop()
    {
        m_run.signal(SIGTERM);
        EXPECT_EQ(m_run.waitForExit(), 0) << m_run.output().toStdString();
    }

    SonarisRun m_run;
    int m_sipPort = 0;
    int m_apiPort = 0;
};

} // namespace

// Every datagram that is not SIP is logged or counted, but the log and the program's output
// take a few lines a window, not one line each.
TEST_F(SonarisLogTest, JunkDatagramsAtTheSipPortAreCountedNotWrittenEach)
{
    constexpr int kDatagrams = 20000;
    ASSERT_NO_FATAL_FAILURE(start());
    const qint64 before = logBytes(m_run);
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(uint16_t(m_sipPort));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const std::string junk(200, 'j');
    const auto t0 = std::chrono::steady_clock::now();
    for (int sent = 0; sent < kDatagrams;) {
        for (int i = 0; i < kBurst; ++i, ++sent)
            ASSERT_EQ(sendto(fd, junk.data(), junk.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to), ssize_t(junk.size()));
        // Without a limit the program prints a line a datagram and would stop on a full pipe:
        // its output is taken in while a burst is slow to go.
        const auto burst = std::chrono::steady_clock::now();
        while (TestSupport::udpQueued(m_sipPort) != 0) {
            ASSERT_LT(TestSupport::msSince(burst), 10000) << "sent " << sent;
            if (TestSupport::msSince(burst) > 2)
                m_run.waitForOutput("\n(never printed)\n", 1);
            else
                usleep(100);
        }
    }
    const double ms = TestSupport::msSince(t0);
    close(fd);
    stop();
    const QByteArray output = m_run.output();

    const QString dropped = QStringLiteral("that is not a SIP message");
    const QStringList lines = logLines(m_run);
    const QString site = siteOf(lines, dropped);
    ASSERT_FALSE(site.isEmpty());
    const int written = lines.filter(dropped).size();
    EXPECT_LE(written, RDLog::kSiteLines * windowsIn(ms)) << ms << " ms";
    EXPECT_LE(output.count(dropped.toUtf8()), RDLog::kSiteLines * windowsIn(ms));
    EXPECT_EQ(written + counted(lines, site), kDatagrams) << "every datagram is written or counted";
    // About 110 bytes a written line: the rest of the log is start-up and shutdown.
    EXPECT_LT(logBytes(m_run) - before, 200 * RDLog::kSiteLines * windowsIn(ms) + 8192);
}

// An app polling the channel list: each reply is logged cut to a line that says its length, and
// the polls beyond a few a window are counted.
TEST_F(SonarisLogTest, PolledChannelListIsLoggedCutAndCounted)
{
    constexpr int kPolls = 60;
    ASSERT_NO_FATAL_FAILURE(start());
    WSTestPeer app;
    ASSERT_TRUE(app.connect(m_apiPort));
    ASSERT_TRUE(app.handshake());
    std::string reply;
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 1; i <= kPolls; ++i) {
        ASSERT_TRUE(app.sendFrame(WSOpcode::Text, R"({"id":)" + std::to_string(i) + R"(,"method":"GetRtp"})"));
        WSFrameHeader frame;
        reply.clear();
        ASSERT_TRUE(readReply(app, &frame, &reply)) << "poll " << i;
        ASSERT_TRUE(frame.fin);
        const QJsonObject object = QJsonDocument::fromJson(QByteArray::fromStdString(reply)).object();
        ASSERT_EQ(object.value(QStringLiteral("id")).toInt(), i);
        ASSERT_EQ(object.value(QStringLiteral("rtps")).toArray().size(), kChannels) << reply;
    }
    const double ms = TestSupport::msSince(t0);
    app.close();
    stop();

    // The reply is longer than a line: 16 channels with their playlists and settings.
    const QString sent = QStringLiteral("Send CMD ");
    ASSERT_GT(int(sent.size() + reply.size()), RDLog::kLineBytes) << reply;
    const QStringList lines = logLines(m_run);
    const QStringList replies = lines.filter(QRegularExpression(QStringLiteral("GetRtp.*\"rtps\"|\"rtps\".*GetRtp")));
    ASSERT_FALSE(replies.isEmpty());
    EXPECT_LE(replies.size(), RDLog::kSiteLines * windowsIn(ms));
    // The length is the whole message's: "Send CMD " and the reply as logged (passwords
    // masked, so within a few bytes a channel of the reply as sent).
    const QRegularExpression mark(QStringLiteral("\\.\\.\\. \\((\\d+) bytes\\)$"));
    for (const QString& line : replies) {
        EXPECT_LE(line.toUtf8().size() + 1, RDLog::kLineBytes - 1);
        const QRegularExpressionMatch match = mark.match(line);
        ASSERT_TRUE(match.hasMatch()) << line.right(80).toStdString();
        EXPECT_NEAR(match.captured(1).toDouble(), double(sent.size() + reply.size()), 8.0 * kChannels) << line.right(80).toStdString();
    }
    const QString site = siteOf(lines, sent);
    EXPECT_EQ(replies.size() + counted(lines, site), kPolls) << "every reply is written or counted";
    const QString readSite = siteOf(lines, QStringLiteral("Read CMD "));
    EXPECT_EQ(lines.filter(QStringLiteral("Read CMD ")).size() + counted(lines, readSite), kPolls);
}

// Earlier runs' files beyond the folder cap go at the start, oldest first; this run's file and
// files the logger did not name stay.
TEST_F(SonarisLogTest, LogFolderOverItsCapLosesItsOldestFilesAtStart)
{
    const QString folder = m_run.path(QStringLiteral("log"));
    ASSERT_TRUE(QDir().mkpath(folder));
    // Three days of earlier runs, 3/8 of the cap each (sparse files: no disk is used).
    const qint64 size = Sonaris::kLogFolderBytes * 3 / 8;
    QStringList old;
    for (int daysAgo = 3; daysAgo >= 1; --daysAgo) {
        const QDateTime when(QDate::currentDate().addDays(-daysAgo), QTime(12, 0));
        old.append(when.toString(QStringLiteral("yyyyMMddHHmmss")) + QStringLiteral(".log"));
        QFile file(folder + QLatin1Char('/') + old.last());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(size));
        ASSERT_TRUE(file.setFileTime(when, QFileDevice::FileModificationTime));
    }
    {
        QFile notes(folder + QStringLiteral("/notes.log"));
        ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
        ASSERT_TRUE(notes.resize(Sonaris::kLogFolderBytes));
    }
    ASSERT_NO_FATAL_FAILURE(start());
    stop();
    const QStringList files = m_run.logFiles();
    EXPECT_FALSE(files.contains(old[0])) << files.join(' ').toStdString();
    EXPECT_TRUE(files.contains(old[1]));
    EXPECT_TRUE(files.contains(old[2]));
    EXPECT_TRUE(files.contains(QStringLiteral("notes.log")));
    qint64 ours = 0;
    int runs = 0;
    for (const QString& name : files) {
        if (!RDLog::isLogFileName(name.toStdString()))
            continue;
        ours += QFileInfo(folder + QLatin1Char('/') + name).size();
        runs += old.contains(name) ? 0 : 1;
    }
    EXPECT_EQ(runs, 1);
    EXPECT_LE(ours, Sonaris::kLogFolderBytes);
    const QStringList lines = logLines(m_run, old + QStringList{QStringLiteral("notes.log")});
    EXPECT_FALSE(lines.filter(QStringLiteral("removed %1 (%2 bytes)").arg(old[0]).arg(size)).isEmpty());
}
