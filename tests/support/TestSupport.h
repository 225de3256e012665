#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>

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

    // Milliseconds of the monotonic clock since t0.
    static double msSince(std::chrono::steady_clock::time_point t0);
    // A TCP port of 127.0.0.1 that nothing listens on just now; 0 on failure.
    static int freeTcpPort();

    static QString sourceDir();
    static QString binaryDir();
};
