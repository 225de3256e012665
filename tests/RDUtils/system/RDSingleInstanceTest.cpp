#include "RDSingleInstance.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>
#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

// Another process (rd_single_instance_holder) that takes the lock and reports on stdout.
class Holder
{
public:
    explicit Holder(const QString& name) { m_process.start(QString::fromUtf8(RD_SINGLE_INSTANCE_HOLDER), {name}); }
    ~Holder()
    {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    // Waits for a line "HOLDER <word>".
    bool expect(const QByteArray& word)
    {
        const QByteArray wanted = "HOLDER " + word + "\n";
        for (int waited = 0; waited < 30000; waited += 50) {
            m_output += m_process.readAllStandardOutput();
            if (m_output.contains(wanted))
                return true;
            m_process.waitForReadyRead(50);
        }
        std::fprintf(stderr, "holder said: %s\n", m_output.constData());
        return false;
    }
    void say(const QByteArray& line) { m_process.write(line + "\n"); }
    void killHard()
    {
        ::kill(pid_t(m_process.processId()), SIGKILL);
        m_process.waitForFinished(5000);
    }

private:
    QProcess m_process;
    QByteArray m_output;
};

} // namespace

TEST(RDSingleInstanceTest, SecondProcessIsRefusedUntilTheFirstEnds)
{
    QTemporaryDir runtime;
    ASSERT_TRUE(runtime.isValid());
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    const QString name = QStringLiteral("Quorvel Sonaris test %1").arg(getpid());

    {
        Holder first(name);
        ASSERT_TRUE(first.expect("locked"));
        RDSingleInstance here(name.toUtf8().constData());
        EXPECT_FALSE(here.lock()) << "held by the first process";
        EXPECT_FALSE(here.unlock()) << "nothing held here";
        Holder second(name);
        EXPECT_TRUE(second.expect("refused"));

        first.say("unlock");
        ASSERT_TRUE(first.expect("unlocked"));
        EXPECT_TRUE(here.lock()) << "free after unlock";
        EXPECT_TRUE(here.unlock());
    }
    {
        Holder crashing(name);
        ASSERT_TRUE(crashing.expect("locked"));
        RDSingleInstance here(name.toUtf8().constData());
        EXPECT_FALSE(here.lock());
        crashing.killHard();
        EXPECT_TRUE(here.lock()) << "the kernel released the lock of the killed process";
        Holder late(name);
        EXPECT_TRUE(late.expect("refused"));
    }
    qunsetenv("XDG_RUNTIME_DIR");
}

TEST(RDSingleInstanceTest, NameHandling)
{
    QTemporaryDir runtime;
    ASSERT_TRUE(runtime.isValid());
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    RDSingleInstance invalid("bad \xC3\x28 utf-8");
    EXPECT_FALSE(invalid.lock());
    const std::string longName(5000, 'n');
    RDSingleInstance a(longName.c_str());
    RDSingleInstance b((longName.substr(0, 4095) + "different tail").c_str());
    EXPECT_TRUE(a.lock());
    EXPECT_FALSE(b.lock()) << "only the first 4095 bytes of a name count";
    // A lock that fails for another reason is logged and holds nothing.
    ASSERT_TRUE(QDir(runtime.path()).mkdir("broken.lock"));
    RDSingleInstance broken("broken");
    EXPECT_TRUE(broken.lock());
    EXPECT_FALSE(broken.unlock());
    qunsetenv("XDG_RUNTIME_DIR");
}
