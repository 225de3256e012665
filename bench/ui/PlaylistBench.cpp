// The GUI thread's time for RtpInfoPlaylistWidget::setPlaylist with 10, 100 and 500 files, the
// first time (every duration still to be measured: the probes are queued for the worker), then
// with the durations cached for the same list again (a refresh of the channel) and for another
// list of as many files, on the offscreen platform with the widget shown.
//

#include "RDDurationCache.h"
#include "RtpInfoPlaylistWidget.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kRuns = 7;

double setPlaylistMs(RtpInfoPlaylistWidget& widget, const QVector<QString>& paths)
{
    QElapsedTimer timer;
    timer.start();
    widget.setPlaylist(paths, 0, 0.0, 60.0, 0.0);
    // The layout and paint that the change asks for run on the GUI thread too.
    QCoreApplication::processEvents();
    return timer.nsecsElapsed() / 1e6;
}

bool waitForProbes()
{
    QElapsedTimer timer;
    timer.start();
    while (RDDurationCache::instance()->pendingCount() > 0) {
        if (timer.elapsed() > 120000)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    QCoreApplication::processEvents();
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("tone.mp3"));
    const int made = QProcess::execute(QStringLiteral("ffmpeg"),
                                       {QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"),
                                        QStringLiteral("error"), QStringLiteral("-f"), QStringLiteral("lavfi"),
                                        QStringLiteral("-i"), QStringLiteral("sine=frequency=440:duration=20"),
                                        QStringLiteral("-b:a"), QStringLiteral("64k"), source});
    if (made != 0) {
        std::fprintf(stderr, "ffmpeg could not make the tone\n");
        return 1;
    }
    QVector<QString> all;
    for (int i = 0; i < 500; ++i) {
        const QString copy = dir.filePath(QStringLiteral("track %1.mp3").arg(i, 3, 10, QLatin1Char('0')));
        QFile::copy(source, copy);
        all.append(copy);
    }

    RtpInfoPlaylistWidget widget;
    widget.resize(800, 500);
    widget.show();
    QCoreApplication::processEvents();

    std::printf("files  first (ms)  same list, median / max (ms)  other list, median / max (ms)\n");
    for (const int count : {10, 100, 500}) {
        const QVector<QString> paths = all.mid(500 - count);   // fresh paths for each first run
        const double first = setPlaylistMs(widget, paths);
        if (!waitForProbes()) {
            std::fprintf(stderr, "probes did not finish\n");
            return 1;
        }
        QVector<QString> reversed(paths.rbegin(), paths.rend());
        std::vector<double> same;
        std::vector<double> other;
        for (int run = 0; run < kRuns; ++run) {
            same.push_back(setPlaylistMs(widget, paths));
            other.push_back(setPlaylistMs(widget, run % 2 ? paths : reversed));
        }
        std::sort(same.begin(), same.end());
        std::sort(other.begin(), other.end());
        std::printf("%5d  %10.1f  %16.1f / %8.1f  %17.1f / %8.1f\n", count, first, same[same.size() / 2],
                    same.back(), other[other.size() / 2], other.back());
        std::fflush(stdout);
    }
    return 0;
}
