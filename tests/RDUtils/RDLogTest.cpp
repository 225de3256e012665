#include "RDLog.h"
#include "RDThread.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QMutex>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <vector>

namespace {

QMutex g_echoMutex;
QStringList g_echoes;

void captureEcho(QtMsgType, const QMessageLogContext&, const QString& text)
{
    QMutexLocker lock(&g_echoMutex);
    g_echoes.append(text);
}

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
    }
    void TearDown() override
    {
        RDLog::instance()->close();
        qInstallMessageHandler(previous);
    }
    QStringList fileLines(const QString& path)
    {
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        QString text = QString::fromUtf8(f.readAll());
        EXPECT_TRUE(text.isEmpty() || text.endsWith('\n')) << "file ends in a partial line";
        QStringList lines = text.split('\n');
        lines.removeLast();
        return lines;
    }
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

TEST_F(RDLogTest, LongMessageIsCutMarkedAndStillEndsTheLine)
{
    RDLog::instance()->init(dir.path().toStdString(), 0);
    const std::string big(5000, 'x');
    const int n = RDLog::instance()->log("foo.cpp", "C::f", 1, 5, "%s", big.c_str());
    EXPECT_LE(n, 4095);
    RDLog::instance()->log("foo.cpp", "C::f", 2, 5, "next");
    const QStringList lines = fileLines(QString::fromStdString(RDLog::instance()->currentPath()));
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0].size() + 1, n);
    EXPECT_TRUE(lines[0].endsWith("x..."));
    EXPECT_TRUE(kStamp.match(lines[1]).hasMatch());
    EXPECT_TRUE(lines[1].endsWith("foo.cpp:2 next"));
}

TEST_F(RDLogTest, StreamStyleWritesWholeLinesAndNullAsNULL)
{
    RDLog::instance()->init(dir.path().toStdString(), 0);
    const char* nothing = nullptr;
    RDLog::instance()->beginLine("a/s.cpp", "S::f", 9) << "value " << nothing << " " << QString::fromUtf8("\xc3\xa9") << "\n";
    { auto line = RDLOGLINE(); line << "unterminated"; } // written when the builder ends
    const QStringList lines = fileLines(QString::fromStdString(RDLog::instance()->currentPath()));
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].endsWith(QString::fromUtf8("s.cpp:9 value NULL \xc3\xa9")));
    EXPECT_TRUE(kStamp.match(lines[1]).hasMatch());
    EXPECT_TRUE(lines[1].endsWith("unterminated"));
}

TEST_F(RDLogTest, EightThreadsInBothStylesLeaveOnlyWholeLines)
{
    RDLog::instance()->init(dir.path().toStdString(), 0);
    std::vector<std::unique_ptr<LogThread>> threads;
    for (int i = 0; i < 8; ++i) {
        threads.push_back(std::make_unique<LogThread>(i));
        ASSERT_TRUE(threads.back()->start());
    }
    for (auto& t : threads)
        t->wait();
    const QStringList lines = fileLines(QString::fromStdString(RDLog::instance()->currentPath()));
    ASSERT_EQ(lines.size(), 16000);
    const QRegularExpression whole(kStamp.pattern() + "w\\.cpp:1[01] (printf|stream) thread [0-7] line \\d+ end$");
    int bad = 0;
    for (const QString& line : lines)
        bad += whole.match(line).hasMatch() ? 0 : 1;
    EXPECT_EQ(bad, 0);
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
