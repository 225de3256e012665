// The bell tab with a "sounds" folder of 50 MP3 files: how long building it holds the GUI thread
// when the lengths are not known yet (they are measured on the duration cache's worker) and when
// they are, how long until the last length is shown, and what measuring all of them on the GUI
// thread would cost instead. Run: bench_bell_tab [files] (offscreen, needs ffmpeg).

#include "AVConverter.h"
#include "RDDurationCache.h"
#include "RtpInfoBellWidget.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTableWidget>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

namespace {

bool makeBell(const QString& path, int seconds)
{
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 {QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"), QStringLiteral("error"),
                  QStringLiteral("-y"), QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                  QStringLiteral("sine=frequency=880:duration=%1").arg(seconds), QStringLiteral("-b:a"),
                  QStringLiteral("64k"), path});
    return ffmpeg.waitForFinished(60000) && ffmpeg.exitCode() == 0;
}

bool allLengthsShown(const RtpInfoBellWidget& tab)
{
    for (int row = 0; row < tab.table()->rowCount(); ++row) {
        if (tab.table()->item(row, 2)->text() == QLatin1String("--:--"))
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    const int files = argc > 1 ? std::atoi(argv[1]) : 50;

    // The first tab of a run also starts the multimedia framework and the probe thread: built
    // once over an empty folder first, so that the figures below are the tab's own.
    QTemporaryDir emptyDir;
    qputenv("SONARIS_APP_DIR", emptyDir.path().toUtf8());
    delete new RtpInfoBellWidget;

    QTemporaryDir appDir;
    qputenv("SONARIS_APP_DIR", appDir.path().toUtf8());
    const QString sounds = appDir.filePath(QStringLiteral("sounds"));
    QDir().mkpath(sounds);
    for (int i = 0; i < files; ++i) {
        if (!makeBell(QStringLiteral("%1/bell%2.mp3").arg(sounds).arg(i, 3, 10, QLatin1Char('0')),
                      5 + i % 30)) {
            std::fprintf(stderr, "ffmpeg cannot make the bells\n");
            return 1;
        }
    }

    QElapsedTimer timer;
    timer.start();
    for (const QString& path : RtpInfoBellWidget::bellFiles(sounds))
        AVConverter::duration(path);
    const double synchronous = timer.nsecsElapsed() / 1e6;

    timer.restart();
    auto* cold = new RtpInfoBellWidget;
    const double coldBuild = timer.nsecsElapsed() / 1e6;
    while (!allLengthsShown(*cold))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const double coldComplete = timer.nsecsElapsed() / 1e6;
    delete cold;

    timer.restart();
    RtpInfoBellWidget warm;
    const double warmBuild = timer.nsecsElapsed() / 1e6;

    std::printf("bell tab, %d files: GUI thread %.1f ms to build (lengths unknown), all lengths "
                "shown after %.1f ms; %.1f ms to build with the lengths cached (%s); measuring "
                "them all on the GUI thread would take %.1f ms\n",
                files, coldBuild, coldComplete, warmBuild,
                allLengthsShown(warm) ? "all shown at once" : "some missing", synchronous);
    return 0;
}
