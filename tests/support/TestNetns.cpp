#include "TestNetns.h"

#include <QAtomicInt>
#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>

#include <cstdio>
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

namespace {
QAtomicInt g_counter;
}

bool TestNetns::available()
{
    static int cached = -1;
    if (cached < 0) {
        cached = 0;
        if (geteuid() == 0 && TestSupport::haveCommand(QStringLiteral("ip"))) {
            TestNetns probe(QStringLiteral("probe"));
            cached = probe.isValid() ? 1 : 0;
        }
    }
    return cached == 1;
}

TestNetns::TestNetns(const QString& tag)
{
    m_name = QStringLiteral("snt-%1-%2-%3").arg(tag).arg(getpid()).arg(g_counter.fetchAndAddRelaxed(1));
    TestSupport::Result r = TestSupport::run(QStringLiteral("ip"), {QStringLiteral("netns"), QStringLiteral("add"), m_name});
    if (r.exitCode != 0) {
        std::fprintf(stderr, "ip netns add %s failed: %s\n", qPrintable(m_name), r.err.constData());
        return;
    }
    m_valid = ip({"link", "set", "lo", "up", "multicast", "on"}) &&
              ip({"route", "add", "224.0.0.0/4", "dev", "lo"});
}

TestNetns::~TestNetns()
{
    // Veth ends inside the namespace go with it.
    TestSupport::run(QStringLiteral("ip"), {QStringLiteral("netns"), QStringLiteral("del"), m_name});
}

bool TestNetns::ip(const QStringList& args)
{
    TestSupport::Result r = TestSupport::run(QStringLiteral("ip"), QStringList{"-n", m_name} + args);
    if (r.exitCode != 0)
        std::fprintf(stderr, "ip -n %s %s failed: %s\n", qPrintable(m_name), qPrintable(args.join(' ')),
                     r.err.constData());
    return r.exitCode == 0;
}

TestSupport::Result TestNetns::exec(const QStringList& command, int timeoutMs)
{
    return TestSupport::run(QStringLiteral("ip"), QStringList{"netns", "exec", m_name} + command, timeoutMs);
}

::testing::AssertionResult TestNetns::runSelf(const QString& gtestFilter, int timeoutMs)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("SONARIS_TEST_NETNS"), m_name);
    process.setProcessEnvironment(env);
    process.start(QStringLiteral("ip"), {"netns", "exec", m_name, QCoreApplication::applicationFilePath(),
                                         "--gtest_filter=" + gtestFilter});
    if (!process.waitForStarted(10000))
        return ::testing::AssertionFailure() << "ip netns exec did not start";
    int exitCode = -1;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
    } else if (process.exitStatus() == QProcess::NormalExit) {
        exitCode = process.exitCode();
    }
    const QByteArray out = process.readAllStandardOutput();
    const QByteArray err = process.readAllStandardError();
    if (exitCode == 0 && out.contains("[  PASSED  ] 1 test.") && !out.contains("[  SKIPPED ]"))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the run inside " << m_name.toStdString() << " of "
                                         << gtestFilter.toStdString() << " exited with " << exitCode
                                         << " without passing one test:\n"
                                         << out.constData() << err.constData();
}

bool TestNetns::inside()
{
    return qEnvironmentVariableIsSet("SONARIS_TEST_NETNS");
}

bool TestNetns::vethPair(TestNetns& a, const QString& aName, const QString& aAddress, TestNetns& b,
                         const QString& bName, const QString& bAddress)
{
    if (!a.ip({"link", "add", aName, "type", "veth", "peer", "name", bName, "netns", b.name()}))
        return false;
    bool ok = a.ip({"link", "set", aName, "up"}) && b.ip({"link", "set", bName, "up"});
    if (ok && !aAddress.isEmpty())
        ok = a.ip({"addr", "add", aAddress, "dev", aName});
    if (ok && !bAddress.isEmpty())
        ok = b.ip({"addr", "add", bAddress, "dev", bName});
    return ok;
}

TestNetns::Enter::Enter(const TestNetns& ns)
{
    m_original = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    const QByteArray path = QStringLiteral("/run/netns/%1").arg(ns.name()).toLocal8Bit();
    int target = open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (m_original >= 0 && target >= 0)
        m_ok = setns(target, CLONE_NEWNET) == 0;
    if (target >= 0)
        close(target);
}

TestNetns::Enter::~Enter()
{
    if (m_original >= 0) {
        if (m_ok)
            setns(m_original, CLONE_NEWNET);
        close(m_original);
    }
}
