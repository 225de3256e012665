#include "TestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QProcess>
#include <QStandardPaths>

#include <cstdio>
#include <thread>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

bool TestSupport::haveCommand(const QString& name)
{
    return !QStandardPaths::findExecutable(name).isEmpty();
}

QString TestSupport::missingCommands(const QStringList& names)
{
    QStringList missing;
    for (const QString& name : names) {
        if (!haveCommand(name))
            missing << name;
    }
    return missing.join(QStringLiteral(", "));
}

bool TestSupport::peersRequired()
{
    return qEnvironmentVariableIntValue("SONARIS_REQUIRE_PEERS") == 1;
}

bool TestSupport::havePeer(const QString& program)
{
    if (haveCommand(program))
        return true;
    if (peersRequired())
        ADD_FAILURE() << "missing peer: " << program.toStdString();
    else
        std::fprintf(stderr, "missing peer: %s\n", qPrintable(program));
    return false;
}

bool TestSupport::havePythonModule(const QString& module)
{
    // Not through run(): a missing interpreter is the module's package missing, and is named so.
    if (!QFileInfo(QLatin1String(kSystemPython)).isExecutable())
        return false;
    QProcess process;
    process.start(QLatin1String(kSystemPython), {QStringLiteral("-c"), QStringLiteral("import ") + module});
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished(5000);
        return false;
    }
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

TestSupport::Result TestSupport::run(const QString& program, const QStringList& arguments,
                                     int timeoutMs)
{
    Result result;
    // A peer that is not installed says so here, in the one place every test runs its peers
    // through: what fails next would otherwise read as a wrong answer from a program that ran.
    if (!havePeer(program))
        return result;
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForStarted(10000))
        return result;
    process.closeWriteChannel();
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
        result.out = process.readAllStandardOutput();
        result.err = process.readAllStandardError();
        return result;
    }
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return result;
}

bool TestSupport::makeTone(const QString& path, double frequency, double seconds,
                           const QStringList& outputArguments)
{
    QStringList args{QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"),
                     QStringLiteral("error"),        QStringLiteral("-y"),
                     QStringLiteral("-f"),           QStringLiteral("lavfi"),
                     QStringLiteral("-i"),
                     QStringLiteral("sine=frequency=%1:sample_rate=48000:duration=%2")
                         .arg(frequency)
                         .arg(seconds)};
    args += outputArguments;
    args << path;
    Result r = run(QStringLiteral("ffmpeg"), args);
    if (r.exitCode != 0)
        std::fprintf(stderr, "ffmpeg failed: %s\n", r.err.constData());
    return r.exitCode == 0;
}

QString TestSupport::sourceDir()
{
    return QStringLiteral(SONARIS_SOURCE_DIR);
}

QString TestSupport::binaryDir()
{
    return QStringLiteral(SONARIS_BINARY_DIR);
}

bool TestSupport::waitUntil(const std::function<bool()>& condition, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

double TestSupport::msSince(std::chrono::steady_clock::time_point t0)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

int TestSupport::freeTcpPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    int port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    if (fd >= 0)
        ::close(fd);
    return port;
}

long long TestSupport::udpQueued(int port)
{
    QFile table(QStringLiteral("/proc/net/udp"));
    if (!table.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray local = ":" + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    for (const QByteArray& line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        // "sl local_address rem_address st tx_queue:rx_queue ..."
        if (fields.size() > 4 && fields[1].endsWith(local))
            return fields[4].mid(fields[4].indexOf(':') + 1).toLongLong(nullptr, 16);
    }
    return -1;
}
