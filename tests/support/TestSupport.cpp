#include "TestSupport.h"

#include <QProcess>
#include <QStandardPaths>

#include <cstdio>

bool TestSupport::haveCommand(const QString& name)
{
    return !QStandardPaths::findExecutable(name).isEmpty();
}

TestSupport::Result TestSupport::run(const QString& program, const QStringList& arguments,
                                     int timeoutMs)
{
    Result result;
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
