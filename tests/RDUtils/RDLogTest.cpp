#include "RDLog.h"
#include "RDThread.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>

#include <atomic>
#include <memory>
#include <vector>

#include <sys/stat.h>

namespace {

QMutex g_echoMutex;
QStringList g_echoes;

void captureEcho(QtMsgType, const QMessageLogContext&, const QString& text)
{
    QMutexLocker lock(&g_echoMutex);
    g_echoes.append(text);
}

int echoCount(const QString& needle)
{
    QMutexLocker lock(&g_echoMutex);
    int n = 0;
    for (const QString& echo : g_echoes)
        n += echo.contains(needle) ? 1 : 0;
    return n;
}

// The time the call-site windows see, moved by the test.
std::atomic<int64_t> g_now{1000000};

class RDLogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        {
            QMutexLocker lock(&g_echoMutex);
            g_echoes.clear();
        }
        previous = qInstallMessageHandler(captureEcho);
        RDLog::instance()->setClock([] { return g_now.load(); });
    }
    void TearDown() override
    {
        RDLog::instance()->close();
        RDLog::instance()->setClock({});
        RDLog::instance()->setSiteLimit(RDLog::kSiteLines, RDLog::kSiteWindowMs);
        qInstallMessageHandler(previous);
    }
    QByteArray fileText(const QString& path)
    {
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
        return f.readAll();
    }
    QStringList fileLines(const QString& path)
    {
        QString text = QString::fromUtf8(fileText(path));
        EXPECT_TRUE(text.isEmpty() || text.endsWith('\n')) << "file ends in a partial line";
        QStringList lines = text.split('\n');
        lines.removeLast();
        return lines;
    }
    QStringList currentLines() { return fileLines(QString::fromStdString(RDLog::instance()->currentPath())); }
    QStringList logFiles()
    {
        return QDir(dir.path()).entryList(QStringList{"*.log"}, QDir::Files, QDir::Name);
    }

    QTemporaryDir dir;
    QtMessageHandler previous = nullptr;
};

const QRegularExpression kStamp("^\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] ");

class LogThread : public RDThread
{
public:
    explicit LogThread(int n) : m_n(n) {}

protected:
    void run() override
    {
        for (int i = 0; i < 1000; ++i) {
            RDLog::instance()->log("src/w.cpp", "W::run", 10, 5, "printf thread %d line %d end", m_n, i);
            RDLog::instance()->beginLine("src/w.cpp", "W::run", 11)
                << "stream thread " << std::to_string(m_n) << " line " << QString::number(i)
                << " end" << "\n";
        }
    }

private:
    int m_n;
};

enum class Style
{
    Printf,
    Stream
};

// One line of message at foo.cpp:line in either call style; the printf style's result.
int writeLine(Style style, int line, const std::string& message)
{
    if (style == Style::Printf)
        return RDLog::instance()->log("src/foo.cpp", "C::f", line, 5, "%s", message.c_str());
    RDLog::instance()->beginLine("src/foo.cpp", "C::f", line) << message << "\n";
    return 0;
}

// The number N of every "N similar lines suppressed" in lines that stands at file:line.
long long countedAt(const QStringList& lines, const QString& site)
{
    const QRegularExpression counted(kStamp.pattern() + QRegularExpression::escape(site) + " (\\d+) similar lines suppressed$");
    long long sum = 0;
    for (const QString& line : lines) {
        const QRegularExpressionMatch match = counted.match(line);
        if (match.hasMatch())
            sum += match.captured(1).toLongLong();
    }
    return sum;
}

bool setModified(const QString& path, const QDateTime& when)
{
    QFile file(path);
    return file.open(QIODevice::ReadWrite) && file.setFileTime(when, QFileDevice::FileModificationTime);
}

} // namespace

TEST_F(RDLogTest, LinesCarryTimeBaseNameAndLine)
{
    RDLog::instance()->init(dir.path().toStdString(), 0);
    const QStringList files = logFiles();
    ASSERT_EQ(files.size(), 1);
    EXPECT_TRUE(QRegularExpression("^\\d{14}(-\\d+)?\\.log$").match(files[0]).hasMatch()) << files[0].toStdString();

    struct Case
    {
        const char* path;
        const char* shown;
    };
    const Case cases[] = {{"a/b/c.cpp", "c.cpp"}, {"a\\b.cpp", "b.cpp"}, {"x.cpp", "x.cpp"}, {"dir/", "dir/"}};
    for (const Case& c : cases)
        EXPECT_GT(RDLog::instance()->log(c.path, "C::f", 42, 5, "hello %d", 7), 0);
    EXPECT_EQ(RDLog::instance()->log("foo.cpp", "C::f", 1, 1, "dropped"), 0);
    EXPECT_GT(RDLog::instance()->log("foo.cpp", "C::f", 2, 2, "level two"), 0);

    const QStringList lines = fileLines(dir.filePath(files[0]));
    ASSERT_EQ(lines.size(), 5);
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(QRegularExpression(kStamp.pattern() + QRegularExpression::escape(QString(cases[i].shown) + ":42 hello 7") + "$")
                        .match(lines[i])
                        .hasMatch())
            << lines[i].toStdString();
    }
    EXPECT_TRUE(lines[4].endsWith("foo.cpp:2 level two"));
    QMutexLocker lock(&g_echoMutex);
    EXPECT_EQ(g_echoes.size(), 5);
    EXPECT_EQ(g_echoes.value(0), lines[0]);
}

// Both call styles cut a long message the same way: on a character boundary, marked with the
// message's whole length, within one line of the file that ends with its "\n".
TEST_F(RDLogTest, LongMessagesAreCutSayingHowLongTheyWere)
{
    RDLog::instance()->init(dir.path().toStdString(), 0);
    // What a message may hold at foo.cpp:7 before it is cut: the line's bytes less the prefix
    // "[YYYY-MM-DD hh:mm:ss.mmm] foo.cpp:7 " and the "\n".
    const int prefix = 25 + 1 + int(strlen("foo.cpp:7 "));
    const int room = RDLog::kLineBytes - 2 - prefix;
    const std::string accent = "\xc3\xa9";
    struct Case
    {
        std::string message;
        bool cut;
    };
    std::string accents;
    for (int i = 0; i < 3000; ++i)
        accents += accent;
    const Case cases[] = {
        {std::string(size_t(room), 'f'), false},
        {std::string(size_t(room) + 1, 'o'), true},
        {std::string(5000, 'x'), true},
        {accents, true},                               // 6000 bytes of two-byte characters
        {std::string(1 << 20, 'y'), true},             // a megabyte in one piece
    };
    for (Style style : {Style::Printf, Style::Stream}) {
        for (const Case& c : cases) {
            g_now += RDLog::kSiteWindowMs;
            const int n = writeLine(style, 7, c.message);
            RDLog::instance()->log("src/foo.cpp", "C::f", 8, 5, "next");
            const QByteArray text = fileText(QString::fromStdString(RDLog::instance()->currentPath()));
            QList<QByteArray> lines = text.split('\n');
            ASSERT_GE(lines.size(), 3);
            const QByteArray line = lines[lines.size() - 3];
            const std::string what = (style == Style::Printf ? "printf " : "stream ") + std::to_string(c.message.size());
            EXPECT_LE(line.size() + 1, RDLog::kLineBytes - 1) << what;
            if (style == Style::Printf) {
                EXPECT_EQ(n, line.size() + 1) << what;
            }
            const QByteArray mark = "... (" + QByteArray::number(qlonglong(c.message.size())) + " bytes)";
            EXPECT_EQ(line.endsWith(mark), c.cut) << what;
            if (!c.cut) {
                EXPECT_TRUE(line.endsWith(QByteArray::fromStdString(c.message))) << what;
            } else {
                EXPECT_GT(line.size(), RDLog::kLineBytes - 64) << what;
            }
            // Nothing split: the text reads back as UTF-8 without a replacement character.
            EXPECT_FALSE(QString::fromUtf8(line).contains(QChar(QChar::ReplacementCharacter))) << what;
            EXPECT_TRUE(kStamp.match(QString::fromUtf8(lines[lines.size() - 2])).hasMatch()) << what;
            EXPECT_TRUE(lines[lines.size() - 2].endsWith("foo.cpp:8 next")) << what;
        }
    }
}

TEST_F(RDLogTest, StreamStyleWritesWholeLinesAndNullAsNULL)
{
    RDLog::instance()->init(dir.path().toStdString(), 0);
    const char* nothing = nullptr;
    RDLog::instance()->beginLine("a/s.cpp", "S::f", 9) << "value " << nothing << " " << QString::fromUtf8("\xc3\xa9") << "\n";
    { auto line = RDLOGLINE(); line << "unterminated"; } // written when the builder ends
    RDLog::instance()->beginLine("a/s.cpp", "S::f", 10) << "one\ntwo\n";
    const QStringList lines = currentLines();
    ASSERT_EQ(lines.size(), 4);
    EXPECT_TRUE(lines[0].endsWith(QString::fromUtf8("s.cpp:9 value NULL \xc3\xa9")));
    EXPECT_TRUE(kStamp.match(lines[1]).hasMatch());
    EXPECT_TRUE(lines[1].endsWith("unterminated"));
    EXPECT_TRUE(kStamp.match(lines[3]).hasMatch());
    EXPECT_TRUE(lines[3].endsWith("s.cpp:10 two"));
}

// A call site over its limit is silent in the file and the echo until its window ends; then
// one line at that site tells how many were dropped, and the site writes again.
TEST_F(RDLogTest, ACallSiteOverItsLimitIsCountedNotWritten)
{
    for (Style style : {Style::Printf, Style::Stream}) {
        RDLog::instance()->init(dir.path().toStdString(), 0);
        {
            QMutexLocker lock(&g_echoMutex);
            g_echoes.clear();
        }
        int returned = 0;
        for (int i = 0; i < 25; ++i) {
            const int n = writeLine(style, 20, "flood " + std::to_string(i));
            returned += n > 0 ? 1 : 0;
            writeLine(style, 21, "other " + std::to_string(i % 3));
            g_now += 10;
        }
        if (style == Style::Printf) {
            EXPECT_EQ(returned, RDLog::kSiteLines);
        }
        QStringList lines = currentLines();
        EXPECT_EQ(lines.filter(" foo.cpp:20 flood ").size(), RDLog::kSiteLines);
        EXPECT_EQ(echoCount(" foo.cpp:20 flood "), RDLog::kSiteLines);
        EXPECT_EQ(lines.filter(" foo.cpp:21 other ").size(), RDLog::kSiteLines) << "each site has a limit of its own";
        EXPECT_TRUE(lines.filter("suppressed").isEmpty()) << "counted before the window ended";

        g_now += RDLog::kSiteWindowMs;
        writeLine(style, 20, "flood again");
        lines = currentLines();
        ASSERT_GE(lines.size(), 3);
        EXPECT_TRUE(QRegularExpression(kStamp.pattern() + "foo\\.cpp:20 15 similar lines suppressed$").match(lines[lines.size() - 3]).hasMatch()
                    || QRegularExpression(kStamp.pattern() + "foo\\.cpp:20 15 similar lines suppressed$").match(lines[lines.size() - 2]).hasMatch())
            << lines.join('\n').toStdString();
        EXPECT_TRUE(lines.last().endsWith("foo.cpp:20 flood again"));
        EXPECT_EQ(countedAt(lines, "foo.cpp:21"), 15);
        EXPECT_EQ(echoCount("foo.cpp:20 15 similar lines suppressed"), 1);
        RDLog::instance()->close();
    }
}

// A site that goes quiet still has its count written: by the next line of any site once its
// window is over, or by close.
TEST_F(RDLogTest, AQuietSiteCountIsWrittenByTheNextLineOrByClose)
{
    RDLog::instance()->init(dir.path().toStdString(), 0);
    for (int i = 0; i < RDLog::kSiteLines + 4; ++i)
        RDLog::instance()->log("src/quiet.cpp", "Q::f", 5, 5, "burst %d", i);
    g_now += RDLog::kSiteWindowMs - 1;
    RDLog::instance()->log("src/other.cpp", "O::f", 6, 5, "before the window ends");
    EXPECT_EQ(countedAt(currentLines(), "quiet.cpp:5"), 0);
    g_now += 1;
    RDLog::instance()->log("src/other.cpp", "O::f", 6, 5, "after the window ended");
    QStringList lines = currentLines();
    ASSERT_GE(lines.size(), 2);
    EXPECT_EQ(countedAt(lines, "quiet.cpp:5"), 4);
    EXPECT_TRUE(lines[lines.size() - 2].endsWith("quiet.cpp:5 4 similar lines suppressed")) << lines.join('\n').toStdString();

    // A window that never ends before the log closes.
    for (int i = 0; i < RDLog::kSiteLines + 7; ++i)
        RDLog::instance()->beginLine("src/quiet.cpp", "Q::f", 9) << "burst " << std::to_string(i);
    const QString path = QString::fromStdString(RDLog::instance()->currentPath());
    RDLog::instance()->close();
    lines = fileLines(path);
    EXPECT_TRUE(lines.last().endsWith("quiet.cpp:9 7 similar lines suppressed")) << lines.join('\n').toStdString();
}

// More call sites than the table holds, all within one window: every line is written or
// counted, and the table does not grow.
TEST_F(RDLogTest, EveryLineOfManySitesIsWrittenOrCounted)
{
    RDLog::instance()->init(dir.path().toStdString(), 0);
    const int sites = RDLog::kSites * 3;
    for (int round = 0; round < 2; ++round) {
        for (int line = 1; line <= sites; ++line)
            RDLog::instance()->log("src/many.cpp", "M::f", line, 5, "line");
    }
    const QString path = QString::fromStdString(RDLog::instance()->currentPath());
    RDLog::instance()->close();
    const QStringList lines = fileLines(path);
    long long counted = 0;
    const QRegularExpression count(" (\\d+) (similar )?lines suppressed");
    for (const QString& line : lines) {
        const QRegularExpressionMatch match = count.match(line);
        if (match.hasMatch())
            counted += match.captured(1).toLongLong();
    }
    const int written = lines.filter(QRegularExpression("many\\.cpp:\\d+ line$")).size();
    EXPECT_EQ(written + counted, 2 * sites);
    EXPECT_GE(written, RDLog::kSites / 2) << "most of the table is used";
    EXPECT_LE(written, 2 * RDLog::kSites);
}

// Many threads in both styles: only whole lines, and every line is either written or counted.
TEST_F(RDLogTest, EightThreadsInBothStylesLeaveOnlyWholeLines)
{
    RDLog::instance()->setClock({});
    for (const bool limited : {false, true}) {
        RDLog::instance()->setSiteLimit(limited ? RDLog::kSiteLines : 0, RDLog::kSiteWindowMs);
        RDLog::instance()->init(dir.path().toStdString(), 0);
        std::vector<std::unique_ptr<LogThread>> threads;
        for (int i = 0; i < 8; ++i) {
            threads.push_back(std::make_unique<LogThread>(i));
            ASSERT_TRUE(threads.back()->start());
        }
        for (auto& t : threads)
            t->wait();
        const QString path = QString::fromStdString(RDLog::instance()->currentPath());
        RDLog::instance()->close();
        const QStringList lines = fileLines(path);
        const QRegularExpression whole(kStamp.pattern() + "w\\.cpp:1[01] (printf|stream) thread [0-7] line \\d+ end$");
        const QRegularExpression counted(kStamp.pattern() + "w\\.cpp:1[01] \\d+ similar lines suppressed$");
        int bad = 0;
        int written = 0;
        for (const QString& line : lines) {
            if (whole.match(line).hasMatch())
                ++written;
            else if (!counted.match(line).hasMatch())
                ++bad;
        }
        EXPECT_EQ(bad, 0);
        EXPECT_EQ(written + countedAt(lines, "w.cpp:10") + countedAt(lines, "w.cpp:11"), 16000);
        if (!limited) {
            EXPECT_EQ(written, 16000);
        } else {
            EXPECT_LT(written, 16000);
        }
    }
}

TEST_F(RDLogTest, RollOverKeepsEveryFileAndCloseStopsFileOutput)
{
    RDLog::instance()->init(dir.path().toStdString(), 100);
    // Each line is longer than 100 bytes: every write rolls over, many times within one second.
    for (int i = 0; i < 3; ++i)
        RDLog::instance()->log("foo.cpp", "C::f", i, 5, "%s", std::string(120, 'a' + i).c_str());
    QStringList files = logFiles();
    // Three full files and the fresh empty one; names clash within a second and get suffixes.
    ASSERT_EQ(files.size(), 4);
    int withText = 0;
    for (const QString& f : files) {
        QFile file(dir.filePath(f));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray content = file.readAll();
        if (!content.isEmpty()) {
            ++withText;
            EXPECT_EQ(content.count('\n'), 1);
        }
    }
    EXPECT_EQ(withText, 3);

    RDLog::instance()->close();
    EXPECT_TRUE(RDLog::instance()->currentPath().empty());
    {
        QMutexLocker lock(&g_echoMutex);
        g_echoes.clear();
    }
    RDLog::instance()->log("foo.cpp", "C::f", 5, 5, "after close");
    EXPECT_EQ(logFiles().size(), 4);
    for (const QString& f : logFiles()) {
        QFile file(dir.filePath(f));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_FALSE(file.readAll().contains("after close"));
    }
    QMutexLocker lock(&g_echoMutex);
    ASSERT_EQ(g_echoes.size(), 1);
    EXPECT_TRUE(g_echoes[0].endsWith("after close"));
}

TEST_F(RDLogTest, ASecondStartInTheSameSecondKeepsTheFirstFile)
{
    RDLog::instance()->init(dir.path().toStdString(), 0);
    RDLog::instance()->log("foo.cpp", "C::f", 1, 5, "first run");
    const std::string first = RDLog::instance()->currentPath();
    RDLog::instance()->close();
    RDLog::instance()->init(dir.path().toStdString(), 0);
    RDLog::instance()->log("foo.cpp", "C::f", 1, 5, "second run");
    const std::string second = RDLog::instance()->currentPath();
    EXPECT_NE(first, second);
    QFile f(QString::fromStdString(first));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.readAll().contains("first run"));
}

TEST(RDLogNameTest, LogFileNamesAreTheLoggersOwn)
{
    const struct
    {
        const char* name;
        bool ours;
    } cases[] = {
        {"20250101120000.log", true}, {"20250101120000-1.log", true}, {"20250101120000-12.log", true},
        {"20250101120000-.log", false}, {"2025010112000.log", false}, {"202501011200000.log", false},
        {"20250101120000.txt", false}, {"20250101120000.log.1", false}, {"notadate.log", false},
        {"x20250101120000.log", false}, {"20250101120000-1a.log", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RDLog::isLogFileName(c.name), c.ours) << c.name;
}

// The folder cap: each new file first removes the logger's oldest files, so the folder never
// holds more than the cap; the running file and files of other names stay.
TEST_F(RDLogTest, FolderCapRemovesTheOldestFilesFirst)
{
    constexpr int kFileBytes = 2000;
    constexpr int kCap = 20000;
    const QDateTime earlier = QDateTime::currentDateTime().addDays(-2);
    // Left by earlier runs: 15000 bytes in three files, the middle one the oldest.
    const struct
    {
        const char* name;
        int minutes;
    } old[] = {{"20200101000000.log", 2}, {"20200101000001.log", 0}, {"20200101000002-1.log", 1}};
    for (const auto& o : old) {
        QFile file(dir.filePath(o.name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(QByteArray(5000, 'o')), 5000);
        file.close();
        ASSERT_TRUE(setModified(dir.filePath(o.name), earlier.addSecs(60 * o.minutes)));
    }
    for (const char* foreign : {"notes.log", "20200101000000.txt"}) {
        QFile file(dir.filePath(foreign));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(QByteArray(30000, 'n')), 30000);
    }

    // At the start: 15000 old bytes and room for a full running file do not fit in 20000.
    RDLog::instance()->init(dir.path().toStdString(), kFileBytes, kCap);
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("20200101000001.log")));
    EXPECT_TRUE(QFileInfo::exists(dir.filePath("20200101000002-1.log")));
    EXPECT_TRUE(QFileInfo::exists(dir.filePath("20200101000000.log")));
    EXPECT_FALSE(currentLines().filter("removed 20200101000001.log (5000 bytes)").isEmpty());

    RDLog::instance()->setSiteLimit(0, RDLog::kSiteWindowMs);
    std::vector<std::string> runningFiles;
    for (int i = 0; i < 400; ++i) {
        RDLog::instance()->log("src/cap.cpp", "C::f", 1, 5, "%04d %s", i, std::string(100, 'c').c_str());
        const std::string running = RDLog::instance()->currentPath();
        if (runningFiles.empty() || runningFiles.back() != running)
            runningFiles.push_back(running);
        qint64 ours = 0;
        for (const QFileInfo& file : QDir(dir.path()).entryInfoList(QDir::Files))
            ours += RDLog::isLogFileName(file.fileName().toStdString()) ? file.size() : 0;
        ASSERT_LE(ours, kCap) << "after line " << i;
        ASSERT_TRUE(QFileInfo::exists(QString::fromStdString(running)));
        if (!QFileInfo::exists(QString::fromStdString(runningFiles.front()))) {
            // The old files went first, in the order of their age.
            ASSERT_FALSE(QFileInfo::exists(dir.filePath("20200101000002-1.log")));
            ASSERT_FALSE(QFileInfo::exists(dir.filePath("20200101000000.log")));
        } else if (!QFileInfo::exists(dir.filePath("20200101000000.log"))) {
            ASSERT_FALSE(QFileInfo::exists(dir.filePath("20200101000002-1.log")));
        }
    }
    ASSERT_GT(runningFiles.size(), 10u);
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("20200101000002-1.log")));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("20200101000000.log")));
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(runningFiles.front())));
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(runningFiles[runningFiles.size() - 2])));
    EXPECT_TRUE(QFileInfo::exists(dir.filePath("notes.log")));
    EXPECT_TRUE(QFileInfo::exists(dir.filePath("20200101000000.txt")));
    // This run's newest lines are all there.
    const QStringList lines = currentLines() + fileLines(QString::fromStdString(runningFiles[runningFiles.size() - 2]));
    EXPECT_FALSE(lines.filter(" 0399 ").isEmpty());
}
