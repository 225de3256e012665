// Resident memory of the running program (a copy of the built binary in a temporary folder, on
// the offscreen platform, authentication on) while one WebSocket client that never logs in
// sends many messages, each answered with -9999:
//   plain      {"id0":{"a":[1,2,3]},"id":1,"method0":{"a":[]},"method":"Nope"}
//   repeated   {"id":{"a":[1,2,3]},"id":1,"method":{"a":[]},"method":"Nope"}
// The two have the same size and shape; only the repeated keys differ. Each kind runs in a
// fresh process; the client keeps at most kInFlight messages unanswered, and the baseline is
// taken after kWarmUp messages of the same kind.
//
//   bench_json_ws_rss [--messages N] [--binary PATH]

#include "BenchProcess.h"
#include "TestSupport.h"
#include "VDB.h"
#include "WSTestPeer.h"
#include "ZvDB.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

constexpr int kInFlight = 64;
// Messages sent before the baseline is taken: the heap of the program's threads settles by then
// (64 left it some 6 MB short of its level).
constexpr int kWarmUp = 10000;

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The program opens its port a moment after it starts.
bool connectTo(WSTestPeer& client, int port, double timeoutSeconds)
{
    for (const double end = now() + timeoutSeconds; now() < end; usleep(50 * 1000)) {
        if (client.connect(port))
            return client.handshake();
    }
    return false;
}

// Sends count messages, at most kInFlight unanswered, and waits for every answer.
bool exchange(WSTestPeer& client, const std::string& message, int count)
{
    int sent = 0;
    int answered = 0;
    while (answered < count) {
        for (; sent < count && sent - answered < kInFlight; ++sent) {
            if (!client.sendFrame(WSOpcode::Text, message))
                return false;
        }
        WSFrameHeader frame;
        std::string payload;
        if (!client.readFrame(&frame, &payload, nullptr, 10000))
            return false;
        // Answers are text frames; a ping of an idle connection is not one.
        if (frame.opcode == int(WSOpcode::Text))
            ++answered;
    }
    return true;
}

struct Run
{
    bool ok = false;
    long before = 0;
    long after = 0;
    double seconds = 0;
};

Run runOnce(const QString& binary, const std::string& message, int messages)
{
    Run run;
    QTemporaryDir dir;
    if (!dir.isValid() || !QFile::copy(binary, dir.path() + QStringLiteral("/sonaris")))
        return run;
    const int apiPort = TestSupport::freeTcpPort();
    VDB::setDataRoot(dir.path());
    {
        ZvDB db;
        db.checkUpgrade();
        db.initDefaults();
        db.setSetting(QStringLiteral("http port"), QString::number(TestSupport::freeTcpPort()));
        db.setSetting(QStringLiteral("sip port"), QString::number(TestSupport::freeTcpPort()));
        db.setSetting(QStringLiteral("api enable"), QStringLiteral("1"));
        db.setSetting(QStringLiteral("api port"), QString::number(apiPort));
        db.setSetting(QStringLiteral("auth enable"), QStringLiteral("1"));
        db.setSetting(QStringLiteral("auth username"), QStringLiteral("admin"));
        db.setSetting(QStringLiteral("auth password"), QStringLiteral("0192023a7bbd73250516f069df18b500"));
    }
    VDB::setDataRoot(QString());

    QProcess program;
    program.setStandardOutputFile(QProcess::nullDevice());
    program.setStandardErrorFile(QProcess::nullDevice());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path());
    program.setProcessEnvironment(env);
    program.start(dir.path() + QStringLiteral("/sonaris"), QStringList());
    if (!program.waitForStarted(10000))
        return run;
    WSTestPeer client;
    if (connectTo(client, apiPort, 30)) {
        run.ok = exchange(client, message, kWarmUp);
        run.before = BenchProcess::rssKiB(program.processId());
        const double t0 = now();
        run.ok = run.ok && exchange(client, message, messages);
        run.seconds = now() - t0;
        run.after = BenchProcess::rssKiB(program.processId());
    }
    ::kill(pid_t(program.processId()), SIGTERM);
    program.waitForFinished(30000);
    return run;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int messages = 200000;
    QString binary = QStringLiteral(SONARIS_BINARY_DIR "/src/sonaris");
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--messages"))
            messages = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--binary"))
            binary = QString::fromLocal8Bit(argv[i + 1]);
    }
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    const struct
    {
        const char* name;
        std::string message;
    } kinds[] = {
        {"plain", R"({"id0":{"a":[1,2,3]},"id":1,"method0":{"a":[]},"method":"Nope"})"},
        {"repeated keys", R"({"id":{"a":[1,2,3]},"id":1,"method":{"a":[]},"method":"Nope"})"},
    };
    std::printf("RSS across %d WebSocket messages, one client that never logs in\n", messages);
    for (const auto& kind : kinds) {
        const Run run = runOnce(binary, kind.message, messages);
        if (!run.ok) {
            std::printf("%-14s failed (program not reached or connection closed)\n", kind.name);
            continue;
        }
        std::printf("%-14s %7.1f MB -> %7.1f MB (%+6.1f MB) in %5.2f s\n", kind.name, run.before * 1024 / 1e6,
                    run.after * 1024 / 1e6, (run.after - run.before) * 1024 / 1e6, run.seconds);
    }
    return 0;
}
