// Channel manager figures: with 32 channels playing a file, the time from startRtpInfo to the
// first RTP packet of one more channel at a loopback receiver, the time stopRtpInfo takes, and
// the time of one action-log row (written under the session-list lock) on this disk.
//
//   bench_manager [--channels N] [--rounds R]

#include "RDThread.h"
#include "RTPSipManager.h"
#include "RtpInfo.h"
#include "RtpInfoSession.h"
#include "RtpManager.h"
#include "RtpManagerPlayLog.h"
#include "RtpPortManager.h"
#include "VDB.h"
#include "ZvDB.h"
#include "ZvDBLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

void quietMessages(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// A bound UDP socket on 127.0.0.1; its port in *port.
int udpSocket(int* port)
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0)
        return -1;
    socklen_t length = sizeof(address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    *port = ntohs(address.sin_port);
    return fd;
}

void drain(int fd)
{
    char buffer[2048];
    while (recv(fd, buffer, sizeof(buffer), MSG_DONTWAIT) > 0) {
    }
}

struct Figures
{
    double median, p95, max;
};

Figures figures(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    if (values.empty())
        return {0, 0, 0};
    auto at = [&](double q) { return values[std::min(values.size() - 1, size_t(q * double(values.size())))]; };
    return {at(0.5), at(0.95), values.back()};
}

RtpInfo storeChannel(const QString& name, int port, const QString& file)
{
    RtpInfo info;
    info.name = name;
    info.address = QStringLiteral("127.0.0.1:%1").arg(port);
    info.codec = 0;
    info.source = RtpInfo::kSourcePlaylist;
    info.playlist = {file};
    ZvDB db;
    info.id = db.insertZvRtp(ZvDB::toZvRtp(info));
    return info;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(quietMessages);
    int channels = 32;
    int rounds = 50;
    for (int i = 1; i + 1 < argc; i += 2) {
        const QString key = QString::fromLocal8Bit(argv[i]);
        if (key == "--channels")
            channels = atoi(argv[i + 1]);
        else if (key == "--rounds")
            rounds = atoi(argv[i + 1]);
    }

    // On the build's disk rather than in memory: the row's fsync is part of the figure.
    QTemporaryDir dir(QDir::currentPath() + QStringLiteral("/bench-manager-XXXXXX"));
    VDB::setDataRoot(dir.path());
    {
        ZvDB db;
        db.checkUpgrade();
        ZvDBLog log;
        log.checkUpgrade();
    }
    const QString file = dir.filePath(QStringLiteral("tone.wav"));
    const int made = QProcess::execute(QStringLiteral("ffmpeg"),
                                       {"-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                        "sine=f=440:d=30", "-ar", "8000", "-ac", "1", "-c:a", "pcm_mulaw", file});
    if (made != 0) {
        std::fprintf(stderr, "ffmpeg could not make the tone\n");
        return 1;
    }

    // One row as the manager writes it, alone.
    {
        RtpManagerPlayLog playLog;
        ZvLog row;
        row.rtpAddress = QStringLiteral("127.0.0.1:5004");
        row.dateTime = QStringLiteral("2026-01-01 00:00:00");
        std::vector<double> writes;
        for (int i = 0; i < 200; ++i) {
            const double begin = now();
            playLog.write(row);
            writes.push_back((now() - begin) * 1000.0);
        }
        playLog.closeThisThread();
        const Figures f = figures(writes);
        std::printf("action-log row: median %.3f ms, p95 %.3f ms, max %.3f ms (200 rows)\n", f.median, f.p95, f.max);
    }

    RtpPortManager::createInstance();
    // With its SIP agent, as the application runs it.
    RtpManager* manager = RtpManager::createInstance(
        [](RtpManagerQueue* queue) { return std::make_unique<RTPSipManager>(queue); });
    std::vector<int> sinks;
    for (int i = 0; i < channels; ++i) {
        int port = 0;
        const int fd = udpSocket(&port);
        sinks.push_back(fd);
        const RtpInfo info = storeChannel(QStringLiteral("load %1").arg(i), port, file);
        manager->startRtpInfo(info, RtpInfo::kSourcePlaylist, RtpInfo::kTriggerManual);
    }
    RDThread::msleep(500);

    int port = 0;
    const int probe = udpSocket(&port);
    const RtpInfo measured = storeChannel(QStringLiteral("measured"), port, file);
    std::vector<double> starts, stops;
    for (int round = 0; round < rounds; ++round) {
        drain(probe);
        for (int fd : sinks)
            drain(fd);
        const double begin = now();
        manager->startRtpInfo(measured, RtpInfo::kSourcePlaylist, RtpInfo::kTriggerManual);
        pollfd wait{probe, POLLIN, 0};
        if (poll(&wait, 1, 2000) == 1)
            starts.push_back((now() - begin) * 1000.0);
        RDThread::msleep(40);
        const double stopBegin = now();
        manager->stopRtpInfo(measured, RtpInfo::kSourceAll, RtpInfo::kTriggerManual);
        stops.push_back((now() - stopBegin) * 1000.0);
        RDThread::msleep(20);
    }
    const Figures start = figures(starts);
    const Figures stop = figures(stops);
    std::printf("with %d channels playing: start to first RTP packet median %.2f ms, p95 %.2f ms, max %.2f ms "
                "(%zu of %d rounds)\n",
                channels, start.median, start.p95, start.max, starts.size(), rounds);
    std::printf("with %d channels playing: stopRtpInfo median %.2f ms, p95 %.2f ms, max %.2f ms\n", channels,
                stop.median, stop.p95, stop.max);

    RtpManager::destroyInstance();
    RtpPortManager::destroyInstance();
    for (int fd : sinks)
        close(fd);
    close(probe);
    VDB::setDataRoot(QString());
    return 0;
}
