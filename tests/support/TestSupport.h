#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Small helpers shared by the test programs: running the command-line tools that serve as real
// peers (ffmpeg, sqlite3, tshark, sipp, ip, ...) and finding the source and build trees.
class TestSupport
{
public:
    struct Result
    {
        int exitCode = -1;   // -1 when the program could not run or timed out
        QByteArray out;
        QByteArray err;
    };

    static bool haveCommand(const QString& name);
    static Result run(const QString& program, const QStringList& arguments, int timeoutMs = 60000);

    // Makes an audio file with ffmpeg's lavfi sine source; extra arguments go before the output
    // (codec, rate, channels). Returns false (and prints ffmpeg's error) on failure.
    static bool makeTone(const QString& path, double frequency, double seconds,
                         const QStringList& outputArguments = QStringList());

    static QString sourceDir();
    static QString binaryDir();
};
