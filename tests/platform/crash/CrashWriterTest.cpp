#include "CrashWriter.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

struct ProbeRun
{
    int signal = 0; // what ended it; 0 when it exited
    QByteArray err;
    QStringList reports;
    QByteArray report;
};

// Runs the probe with the report folder and mode, its standard error going to errFile; waits
// for its end (bounded).
ProbeRun runProbe(const QString& folder, const char* mode, const QString& errFile)
{
    ProbeRun run;
    const QByteArray program = (TestSupport::binaryDir() + QStringLiteral("/tests/platform/crash/crash_probe")).toLocal8Bit();
    const QByteArray folderBytes = folder.toLocal8Bit();
    const QByteArray errPath = errFile.toLocal8Bit();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    char* argv[] = {const_cast<char*>(program.constData()), const_cast<char*>(folderBytes.constData()),
                    const_cast<char*>(mode), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, program.constData(), &actions, nullptr, argv, environ) != 0)
        return run;
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    for (int i = 0; i < 3000; ++i) {
        if (waitpid(pid, &status, WNOHANG) == pid)
            break;
        usleep(10000);
        if (i == 2999) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
        }
    }
    run.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    QFile err(errFile);
    if (err.open(QIODevice::ReadOnly))
        run.err = err.readAll();
    run.reports = QDir(folder).entryList({QStringLiteral("*.dmp")}, QDir::Files);
    if (run.reports.size() == 1) {
        QFile report(folder + QLatin1Char('/') + run.reports[0]);
        if (report.open(QIODevice::ReadOnly))
            run.report = report.readAll();
    }
    return run;
}

class CrashWriterTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_folder = m_dir.path() + QStringLiteral("/crash");
        ASSERT_TRUE(QDir().mkpath(m_folder));
    }

    QTemporaryDir m_dir;
    QString m_folder;
};

TEST_F(CrashWriterTest, EachCrashLeavesExactlyOneReport)
{
    const struct
    {
        const char* mode;
        int signal;
        const char* function;
        const char* exception;
        bool worker; // the faulting thread is not the main one
    } rows[] = {
        {"null", SIGSEGV, "crashProbeNullWrite", nullptr, false},
        {"throw", SIGABRT, "crashProbeThrow", "std::runtime_error: probe exception", false},
        {"abort", SIGABRT, "crashProbeAbort", nullptr, false},
        // A stack overflow on a worker: only its own signal stack lets the handler run.
        {"overflow", SIGSEGV, "crashProbeRecurse", nullptr, true},
        // Two threads faulting at once: one report, the other waits for the end.
        {"twothreads", SIGSEGV, "crashProbeNullWrite", nullptr, true},
    };
    for (const auto& row : rows) {
        QDir(m_folder).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(m_folder));
        const ProbeRun run = runProbe(m_folder, row.mode, m_dir.path() + QStringLiteral("/stderr.txt"));
        EXPECT_EQ(run.signal, row.signal) << row.mode << "\n" << run.err.toStdString();
        ASSERT_EQ(run.reports.size(), 1) << row.mode << "\n" << run.err.toStdString();
        const QString id = run.reports[0].chopped(4);
        EXPECT_EQ(id.size(), 36) << row.mode;
        EXPECT_TRUE(run.err.contains("Succeed to write minidump, dump path: " + m_folder.toLocal8Bit() + "/" + id.toLatin1()))
            << row.mode << "\n" << run.err.toStdString();
        const QByteArray signalName = row.signal == SIGSEGV ? "(SIGSEGV)" : "(SIGABRT)";
        EXPECT_TRUE(run.report.startsWith("CrashProbe 1.0 crash report\ndump id: " + id.toLatin1())) << row.mode;
        EXPECT_TRUE(run.report.contains("signal: " + QByteArray::number(row.signal) + " " + signalName)) << row.mode;
        EXPECT_TRUE(run.report.contains("pc: 0x")) << row.mode;
        const QRegularExpressionMatch ids = QRegularExpression(QStringLiteral("pid: (\\d+) tid: (\\d+) thread: "))
                                                .match(QString::fromLatin1(run.report));
        ASSERT_TRUE(ids.hasMatch()) << row.mode;
        EXPECT_EQ(ids.captured(1) != ids.captured(2), row.worker) << row.mode;
        EXPECT_TRUE(run.report.contains("backtrace:\n")) << row.mode;
        EXPECT_TRUE(run.report.contains(row.function)) << row.mode << "\n" << run.report.left(6000).toStdString();
        EXPECT_TRUE(run.report.contains("maps:\n")) << row.mode;
        EXPECT_TRUE(run.report.contains("[stack]")) << row.mode;
        EXPECT_TRUE(run.report.contains("crash_probe")) << row.mode;
        if (row.exception)
            EXPECT_TRUE(run.report.contains(QByteArray("exception: ") + row.exception)) << row.mode;
        else
            EXPECT_FALSE(run.report.contains("exception: ")) << row.mode;
    }
}

TEST_F(CrashWriterTest, UnwritableFolderReportsFailure)
{
    // Read-only for everyone, root included: a file stands where the folder should be.
    const QString file = m_dir.path() + QStringLiteral("/file");
    QFile plain(file);
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    const ProbeRun run = runProbe(file + QStringLiteral("/crash"), "null", m_dir.path() + QStringLiteral("/stderr.txt"));
    EXPECT_EQ(run.signal, SIGSEGV);
    EXPECT_TRUE(run.err.contains("Failed to write minidump, dump path: " + file.toLocal8Bit() + "/crash/")) << run.err.toStdString();
}

} // namespace
