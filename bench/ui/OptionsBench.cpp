// GUI-thread figures of the options and action-log windows, with the application object
// running in this process on the offscreen platform:
//   - a page of the action-log view at offset 0 and at the last page of 100,000 rows, with and
//     without a date filter, and where a filtered first page spends its time;
//   - the Network page's adapter change (the device tool's capture stopped, moved, started);
//   - the Network page's HTTP port change (the server stopped and started on the new port), and
//     when the new port takes its first connection.
// Run as root (the device tool opens the capture): bench_options
#include "RDOptionsNetworkWidget.h"
#include "RDSystemNetwork.h"
#include "Sonaris.h"
#include "VDBHelper.h"
#include "ZAVeze.h"
#include "ZvDB.h"
#include "ZvDBLog.h"
#include "ZvLogsView.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

namespace {

const int kRows = 100000;

double medianMs(int runs, const std::function<void()>& step)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        step();
        times.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

int freePort()
{
    QTcpServer server;
    return server.listen(QHostAddress::LocalHost, 0) ? server.serverPort() : 0;
}

void fillLog()
{
    // One row a second from 2024-01-01 on eight channels.
    VDBHelper::Connection connection(VDB::databaseFile(QStringLiteral("zvlog.db")), false);
    VDBHelper::execSql(
        connection.db(),
        QStringLiteral("with recursive n(i) as (select 0 union all select i + 1 from n where i < %1) "
                       "insert into alog(volume,rtpId,rtpAddress,action,source,type,codec,dateTime) "
                       "select 50, 1 + i % 8, '10.0.0.' || (1 + i % 8) || ':5004', i % 2, 1, 1, 3, "
                       "datetime('2024-01-01 00:00:00', '+' || i || ' seconds') from n")
            .arg(kRows - 1));
}

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QTemporaryDir dir;
    QTemporaryDir runtime;
    setenv(Sonaris::kAppDirVariable, dir.path().toLocal8Bit().constData(), 1);
    setenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit().constData(), 1);
    QApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});

    Sonaris* sonaris = Sonaris::createInstance();
    {
        ZvDB db;
        db.checkUpgrade();
        db.initDefaults();
        ZvDBLog log;
        log.checkUpgrade();
    }
    sonaris->setHttpPort(freePort());
    sonaris->setSipPort(freePort());
    if (sonaris->init(argc, argv) < 0) {
        std::fprintf(stderr, "start-up failed\n");
        return 1;
    }
    fillLog();

    std::printf("action-log view, %d rows, one page of %d (median of 9):\n", kRows, ZvLogsView::kPageSize);
    {
        ZvLogsView view;
        view.resize(1200, 700);
        const int last = (kRows - 1) / ZvLogsView::kPageSize;
        view.setFilter(QString(), QString(), QString());
        std::printf("  no filter,   offset 0:         %7.2f ms\n", medianMs(9, [&] { view.reload(); }));
        std::printf("  no filter,   last page:        %7.2f ms\n", medianMs(9, [&] { view.onGotoPage(last); }));
        view.setFilter(QString(), QStringLiteral("2024-01-01 12:00:00"), QStringLiteral("2024-01-01 23:59:59"));
        const double filteredMs = medianMs(9, [&] { view.reload(); });
        std::printf("  date filter, offset 0:         %7.2f ms (%d matching)\n", filteredMs, view.total());
        const int lastFiltered = std::max(0, (view.total() - 1) / ZvLogsView::kPageSize);
        std::printf("  date filter, last page:        %7.2f ms\n",
                    medianMs(9, [&] { view.onGotoPage(lastFiltered); }));

        // Where the time of a filtered first page goes: the two queries on a log connection of
        // their own, and the table filled from the cheapest page there is.
        ZvDBLog log;
        const QString from = QStringLiteral("2024-01-01 12:00:00");
        const QString to = QStringLiteral("2024-01-01 23:59:59");
        const double countMs = medianMs(9, [&] { log.getLogsCount(QString(), from, to); });
        const double countAllMs = medianMs(9, [&] { log.getLogsCount(QString(), QString(), QString()); });
        const double pageMs = medianMs(9, [&] { log.getLogs(0, ZvLogsView::kPageSize, QString(), from, to); });
        const double plainPageMs =
            medianMs(9, [&] { log.getLogs(0, ZvLogsView::kPageSize, QString(), QString(), QString()); });
        view.setFilter(QString(), QString(), QString());
        const double showMs = medianMs(9, [&] { view.onGotoPage(0); }) - plainPageMs;
        std::printf("  of which: count %.2f ms (no filter %.2f ms), page %.2f ms, table %.2f ms\n", countMs,
                    countAllMs, pageMs, showMs);
    }

    RDOptionsNetworkWidget page;
    const int adapters = page.adapterChoice()->count();
    if (adapters > 0) {
        // With one adapter the same one is chosen again: the same stop, move and start.
        int index = 0;
        const double changeMs = medianMs(9, [&] {
            index = (index + 1) % adapters;
            page.onNetworkChanged(index);
        });
        const ZAVeze* tool = sonaris->deviceTool();
        std::printf("adapter change (capture stopped, moved, started), %d adapter(s): %7.2f ms (capture %s)\n",
                    adapters, changeMs, tool && tool->isRunning() ? "running" : "NOT RUNNING");
    }
    const double restartMs = medianMs(9, [&] {
        page.httpPortField()->setText(QString::number(freePort()));
        page.onHttpPortEditFinished();
    });
    // The server listens from its own thread, after the GUI thread has returned: how long until
    // the new port takes a connection.
    page.httpPortField()->setText(QString::number(freePort()));
    QElapsedTimer listening;
    listening.start();
    page.onHttpPortEditFinished();
    bool answers = false;
    while (!answers && listening.elapsed() < 2000) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, quint16(sonaris->httpPort()));
        answers = probe.waitForConnected(100);
        if (!answers)
            QThread::usleep(500);
    }
    std::printf("HTTP port change (server stopped, started on the new port): %7.2f ms", restartMs);
    if (answers)
        std::printf(", the new port answers after %.2f ms\n", listening.nsecsElapsed() / 1e6);
    else
        std::printf(", THE NEW PORT DOES NOT ANSWER\n");

    sonaris->shutdown();
    Sonaris::destroyInstance();
    return 0;
}
