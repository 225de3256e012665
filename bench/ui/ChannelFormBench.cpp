// The channel form with playlists of 10, 100 and 500 files: how long the GUI thread is held by a
// refresh of the channel being shown (what every start, stop and item change of a running
// channel costs while the editor is open) and by showing a record whole (which also lists the
// PC's audio endpoints). Run: bench_channel_form [rounds] (offscreen, needs ffmpeg).

#include "RDDurationCache.h"
#include "RtpInfo.h"
#include "RtpInfoWidget.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

bool makeTrack(const QString& path)
{
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 {QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"), QStringLiteral("error"),
                  QStringLiteral("-y"), QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                  QStringLiteral("sine=frequency=440:duration=5"), QStringLiteral("-b:a"), QStringLiteral("64k"),
                  path});
    return ffmpeg.waitForFinished(60000) && ffmpeg.exitCode() == 0;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;

    QTemporaryDir dir;
    const QString first = dir.filePath(QStringLiteral("track000.mp3"));
    if (!makeTrack(first)) {
        std::fprintf(stderr, "ffmpeg cannot make the tracks\n");
        return 1;
    }
    QVector<QString> tracks{first};
    for (int i = 1; i < 500; ++i) {
        const QString path = dir.filePath(QStringLiteral("track%1.mp3").arg(i, 3, 10, QLatin1Char('0')));
        QFile::copy(first, path);
        tracks.append(path);
    }

    RtpInfoWidget form;
    form.resize(515, 700);
    for (const int files : {10, 100, 500}) {
        RtpInfo info;
        info.id = 1;
        info.name = QStringLiteral("Lobby");
        info.address = QStringLiteral("239.255.0.1:8000");
        info.codec = 3;
        info.source = 1;
        info.playlist = tracks.mid(0, files);
        form.setRtpInfo(info);
        // Every length known, as after the first showing of a playlist.
        QElapsedTimer wait;
        wait.start();
        while (wait.elapsed() < 60000 && RDDurationCache::instance()->pendingCount() > 0)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);

        std::vector<double> refreshes;
        std::vector<double> fills;
        QElapsedTimer timer;
        for (int round = 0; round < rounds; ++round) {
            info.startedSource = round % 2 ? 0 : 1;
            info.startedType = 3;
            info.playingIndex = round % files;
            timer.restart();
            form.refreshRtpInfo(info);
            refreshes.push_back(timer.nsecsElapsed() / 1e6);
            timer.restart();
            form.setRtpInfo(info);
            fills.push_back(timer.nsecsElapsed() / 1e6);
        }
        std::printf("channel form, %d playlist files: refresh %.2f ms (median of %d, max %.2f), "
                    "whole fill %.2f ms (max %.2f)\n",
                    files, median(refreshes), rounds, *std::max_element(refreshes.begin(), refreshes.end()),
                    median(fills), *std::max_element(fills.begin(), fills.end()));
    }
    return 0;
}
