// How fast the running program's log grows (a copy of the built binary in a temporary folder, on
// the offscreen platform), under two loads:
//   1. junk datagrams of 200 bytes at its SIP port, sent in bursts that the program reads whole
//      before the next, so that every datagram is handled (the worst case for the log);
//   2. a WebSocket app polling "GetRtp" at a fixed rate with 16 channels, for a while, given as
//      growth per hour.
// For each: the bytes and lines added to the log folder, and the bytes the program printed (its
// echo of the log on standard error).
//
//   bench_log_growth [--datagrams N] [--poll-seconds S] [--polls-per-second R] [--channels C]

#include "SonarisRun.h"
#include "TestSupport.h"
#include "WSTestPeer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kDatagramBytes = 200;
// Datagrams sent before the program must have read them all: well within the default
// receive buffer, so that none is lost.
constexpr int kBurst = 50;

struct LogState
{
    qint64 bytes = 0;
    QStringList lines;
};

LogState logState(const SonarisRun& run)
{
    LogState state;
    for (const QString& name : run.logFiles()) {
        QFile file(run.path(QStringLiteral("log/") + name));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = file.readAll();
        state.bytes += text.size();
        state.lines += QString::fromUtf8(text).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    return state;
}

// Lines that hold text, and the sum of N over "N similar lines suppressed" at their site.
void written(const QStringList& lines, const QString& text, int* count, long long* counted)
{
    *count = 0;
    *counted = 0;
    QString site;
    const QRegularExpression prefix(QStringLiteral("^\\[[^]]+\\] (\\S+:\\d+) "));
    for (const QString& line : lines) {
        if (line.contains(text)) {
            ++*count;
            if (site.isEmpty())
                site = prefix.match(line).captured(1);
        }
    }
    if (site.isEmpty())
        return;
    const QRegularExpression suppressed(QStringLiteral("^\\[[^]]+\\] ") + QRegularExpression::escape(site) +
                                        QStringLiteral(" (\\d+) similar lines suppressed$"));
    for (const QString& line : lines) {
        const QRegularExpressionMatch match = suppressed.match(line);
        if (match.hasMatch())
            *counted += match.captured(1).toLongLong();
    }
}

int freeUdpPort()
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    const bool bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                       getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    close(fd);
    return bound ? ntohs(address.sin_port) : 0;
}

// Takes in what the program prints for up to ms, since a full pipe would stop its logging.
void drainOutput(SonarisRun& run, int ms)
{
    run.waitForOutput("\n(never printed)\n", ms);
}

bool stop(SonarisRun& run)
{
    run.signal(SIGTERM);
    return run.waitForExit(60000) == 0;
}

int junkDatagrams(int datagrams)
{
    SonarisRun run;
    const int sipPort = freeUdpPort();
    if (!run.seed({{QStringLiteral("http port"), QString::number(TestSupport::freeTcpPort())},
                   {QStringLiteral("sip port"), QString::number(sipPort)}}) ||
        !run.start() || !run.waitForOutput("Start-up done")) {
        std::fprintf(stderr, "the program did not start\n");
        return 1;
    }
    const LogState before = logState(run);
    const qint64 printedBefore = run.output().size();
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(uint16_t(sipPort));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const std::string junk(kDatagramBytes, 'j');
    const auto t0 = std::chrono::steady_clock::now();
    for (int sent = 0; sent < datagrams;) {
        for (int i = 0; i < kBurst && sent < datagrams; ++i, ++sent)
            sendto(fd, junk.data(), junk.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        // A program that prints a line per datagram fills its output pipe: take that in when
        // the burst is slow to go.
        const auto burst = std::chrono::steady_clock::now();
        while (TestSupport::udpQueued(sipPort) != 0 && TestSupport::msSince(burst) < 10000) {
            if (TestSupport::msSince(burst) > 2)
                drainOutput(run, 1);
            else
                usleep(100);
        }
    }
    const double seconds = TestSupport::msSince(t0) / 1000;
    close(fd);
    if (!stop(run))
        std::fprintf(stderr, "the program did not end with 0\n");
    const LogState after = logState(run);
    int lines = 0;
    long long counted = 0;
    written(after.lines, QStringLiteral("that is not a SIP message"), &lines, &counted);
    std::printf("%d junk datagrams of %d bytes to the SIP port in %.1f s, each read by the program "
                "(%lld handled: %d written, %lld counted):\n"
                "  log growth %lld bytes in %lld lines (shutdown lines included), printed %lld bytes\n",
                datagrams, kDatagramBytes, seconds, lines + counted, lines, counted,
                after.bytes - before.bytes, static_cast<long long>(after.lines.size() - before.lines.size()),
                run.output().size() - printedBefore);
    return 0;
}

int pollingApp(int channels, double perSecond, int seconds)
{
    SonarisRun run;
    const int apiPort = TestSupport::freeTcpPort();
    bool ready = run.seed({{QStringLiteral("http port"), QString::number(TestSupport::freeTcpPort())},
                           {QStringLiteral("sip port"), QString::number(freeUdpPort())},
                           {QStringLiteral("api enable"), QStringLiteral("1")},
                           {QStringLiteral("api port"), QString::number(apiPort)}});
    ready = ready && !run.sqlite(QStringLiteral("delete from rtp;")).isNull();
    for (int id = 1; id <= channels && ready; ++id)
        ready = run.addChannel(id, QStringLiteral("239.255.0.%1:8000").arg(id), 0,
                               run.path(QStringLiteral("sounds/announcement %1.mp3").arg(id)), true, true);
    ready = ready && run.start() && run.waitForOutput("WebSocket server listens on 0.0.0.0:" + QByteArray::number(apiPort));
    WSTestPeer app;
    if (!ready || !app.connect(apiPort) || !app.handshake()) {
        std::fprintf(stderr, "the program did not start\n");
        return 1;
    }
    const LogState before = logState(run);
    const qint64 printedBefore = run.output().size();
    const int polls = int(perSecond * seconds);
    const auto t0 = std::chrono::steady_clock::now();
    size_t replyBytes = 0;
    for (int i = 0; i < polls; ++i) {
        // Polls at their times, as an app's timer would ask.
        while (TestSupport::msSince(t0) < 1000.0 * i / perSecond)
            drainOutput(run, 5);
        app.sendFrame(WSOpcode::Text, "{\"id\":" + std::to_string(i + 1) + ",\"method\":\"GetRtp\"}");
        WSFrameHeader frame;
        std::string reply;
        const auto asked = std::chrono::steady_clock::now();
        while (!app.readFrame(&frame, &reply, nullptr, 5) && TestSupport::msSince(asked) < 20000)
            drainOutput(run, 1);
        replyBytes = reply.size();
    }
    while (TestSupport::msSince(t0) < 1000.0 * seconds)
        drainOutput(run, 5);
    const double elapsed = TestSupport::msSince(t0) / 1000;
    const LogState running = logState(run);
    const qint64 printed = run.output().size() - printedBefore;
    app.close();
    if (!stop(run))
        std::fprintf(stderr, "the program did not end with 0\n");
    int replies = 0;
    long long counted = 0;
    written(logState(run).lines, QStringLiteral("Send CMD "), &replies, &counted);
    const double perHour = 3600 / elapsed;
    std::printf("an app polling \"GetRtp\" %.4g times a second with %d channels (a reply of %zu bytes), %.0f s:\n"
                "  log growth %lld bytes in %lld lines (%d replies written, %lld counted), %.1f MB per hour; "
                "printed %.1f MB per hour\n",
                perSecond, channels, replyBytes, elapsed, running.bytes - before.bytes,
                static_cast<long long>(running.lines.size() - before.lines.size()), replies, counted,
                (running.bytes - before.bytes) * perHour / 1e6, printed * perHour / 1e6);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int datagrams = 200000;
    int pollSeconds = 120;
    double perSecond = 5;
    int channels = 16;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--datagrams"))
            datagrams = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--poll-seconds"))
            pollSeconds = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--polls-per-second"))
            perSecond = std::atof(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--channels"))
            channels = std::atoi(argv[i + 1]);
    }
    // Seeding the copy's databases logs through this process: keep it quiet.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    int result = 0;
    if (datagrams > 0)
        result |= junkDatagrams(datagrams);
    if (pollSeconds > 0)
        result |= pollingApp(channels, perSecond, pollSeconds);
    return result;
}
