#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>

#include <gtest/gtest.h>

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
    // The names of the list that are not on PATH, joined by ", "; empty when all are there.
    static QString missingCommands(const QStringList& names);
    // True under SONARIS_REQUIRE_PEERS=1 (CI sets it): a peer that is missing then fails the test
    // instead of skipping it, so that a machine without a tool cannot pass by skipping.
    static bool peersRequired();
    // Whether the program is on PATH; when not, says "missing peer: <program>", as a failure of
    // the running test under SONARIS_REQUIRE_PEERS=1 and on standard error otherwise.
    static bool havePeer(const QString& program);
    static Result run(const QString& program, const QStringList& arguments, int timeoutMs = 60000);
    // Debian's own Python, whose modules come from Debian packages (the python3 on PATH may be
    // another one, without them).
    static constexpr const char* kSystemPython = "/usr/bin/python3";
    // Whether kSystemPython is there and imports the module (a dotted name).
    static bool havePythonModule(const QString& module);

    // Makes an audio file with ffmpeg's lavfi sine source; extra arguments go before the output
    // (codec, rate, channels). Returns false (and prints ffmpeg's error) on failure.
    static bool makeTone(const QString& path, double frequency, double seconds,
                         const QStringList& outputArguments = QStringList());

    // Polls condition every 2 ms until it holds (true) or timeoutMs have passed (false).
    static bool waitUntil(const std::function<bool()>& condition, int timeoutMs);

    // Milliseconds of the monotonic clock since t0.
    static double msSince(std::chrono::steady_clock::time_point t0);
    // A TCP port of 127.0.0.1 that nothing listens on just now; 0 on failure.
    static int freeTcpPort();
    // The bytes waiting to be read on this machine's UDP socket of that port, from
    // /proc/net/udp; -1 when there is no such socket.
    static long long udpQueued(int port);

    static QString sourceDir();
    static QString binaryDir();
};

// Ends the test when a peer it needs is missing: a skip that names the peer, or a failure that
// names it when peers are required. For use in a test body or SetUp (it returns from there).
#define SONARIS_REQUIRE_PEER(present, what)                                                        \
    do {                                                                                           \
        if (!(present)) {                                                                          \
            if (TestSupport::peersRequired())                                                      \
                FAIL() << "missing peer: " << (what);                                              \
            GTEST_SKIP() << "missing peer: " << (what);                                            \
        }                                                                                          \
    } while (0)

// The same for a module of the system Python, named by its Debian package:
// SONARIS_REQUIRE_PYTHON_MODULE("websockets", "python3-websockets").
#define SONARIS_REQUIRE_PYTHON_MODULE(module, package)                                             \
    SONARIS_REQUIRE_PEER(TestSupport::havePythonModule(QLatin1String(module)), (package))

// The same for commands on PATH: SONARIS_REQUIRE_COMMANDS("ffmpeg", "tshark").
#define SONARIS_REQUIRE_COMMANDS(...)                                                              \
    do {                                                                                           \
        const QString sonarisMissing = TestSupport::missingCommands({__VA_ARGS__});                \
        SONARIS_REQUIRE_PEER(sonarisMissing.isEmpty(), sonarisMissing.toStdString());              \
    } while (0)
