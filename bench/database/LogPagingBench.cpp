// Action-log figures: paging deep into 100,000 rows with filters (with and without the
// indexes), the latency of one insert, and an upgrade and an export of the whole log.
#include "VDB.h"
#include "VDBHelper.h"
#include "ZvDBLog.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

const int kRows = 100000;
const QString kBusy = QStringLiteral("10.0.0.1:5004");

void fill(const QString& file)
{
    // Nineteen rows in twenty belong to one busy channel; one row a second from 2024-01-01.
    VDBHelper::Connection connection(file, false);
    VDBHelper::execSql(
        connection.db(),
        QStringLiteral(
            "with recursive n(i) as (select 0 union all select i + 1 from n where i < %1) "
            "insert into alog(volume,rtpId,rtpAddress,action,source,type,codec,dateTime) "
            "select 50, 1 + i % 8, case when i % 20 = 0 then '10.0.0.' || (2 + i % 7) || ':5004' "
            "else '%2' end, i % 2, 1, 1, 3, datetime('2024-01-01 00:00:00', '+' || i || ' seconds') "
            "from n")
            .arg(kRows - 1)
            .arg(kBusy));
}

double pageMs(ZvDBLog& log, int offset, const QString& address, const QString& from,
              const QString& to, int* rows)
{
    std::vector<double> times;
    for (int i = 0; i < 7; ++i) {
        QElapsedTimer timer;
        timer.start();
        *rows = log.getLogs(offset, 50, address, from, to).size();
        times.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void pages(ZvDBLog& log, const char* title)
{
    struct Case
    {
        const char* name;
        QString address, from, to;
    } cases[] = {
        {"no filter", "", "", ""},
        {"address", kBusy, "", ""},
        {"start+end time", "", "2024-01-01 00:00:00", "2024-01-02 12:00:00"},
        {"address+start+end", kBusy, "2024-01-01 00:00:00", "2024-01-02 12:00:00"},
    };
    std::printf("%s\n", title);
    for (const Case& c : cases) {
        int rows = 0;
        const double ms = pageMs(log, 90000, c.address, c.from, c.to, &rows);
        std::printf("  getLogs(offset 90000, limit 50, %-18s): %7.2f ms (%d rows)\n", c.name, ms,
                    rows);
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // The figures only; the database log lines would bury them.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    QTemporaryDir dir;
    VDB::setDataRoot(dir.path());
    const QString file = ZvDBLog(false).path();
    {
        ZvDBLog log;
        log.checkUpgrade();
    }
    QElapsedTimer timer;
    timer.start();
    fill(file);
    std::printf("filled %d rows in %.0f ms (one transaction)\n", kRows, timer.elapsed() * 1.0);

    {
        ZvDBLog log;
        pages(log, "as built (no index):");
    }
    // The indexes one might add, for comparison.
    for (const char* column : {"rtpAddress", "dateTime"}) {
        {
            VDBHelper::Connection connection(file, false);
            VDBHelper::execSql(connection.db(),
                               QStringLiteral("create index bench_index on alog(%1)").arg(column));
        }
        {
            ZvDBLog log;
            pages(log, qPrintable(QStringLiteral("with an index on %1:").arg(column)));
        }
        VDBHelper::Connection connection(file, false);
        VDBHelper::execSql(connection.db(), QStringLiteral("drop index bench_index"));
    }

    {
        // Each insert is its own transaction, as the channel manager writes them.
        ZvDBLog log;
        std::vector<double> times;
        ZvLog row;
        row.rtpAddress = kBusy;
        row.dateTime = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        for (int i = 0; i < 200; ++i) {
            QElapsedTimer t;
            t.start();
            log.insertLog(row);
            times.push_back(t.nsecsElapsed() / 1e6);
        }
        std::sort(times.begin(), times.end());
        std::printf("insertLog: median %.2f ms, 95th percentile %.2f ms, max %.2f ms\n",
                    times[times.size() / 2], times[times.size() * 95 / 100], times.back());
    }

    {
        VDBHelper::Connection connection(file, false);
        VDBHelper::replaceVersion(connection.db(), QStringLiteral("TABLE"), QStringLiteral("1.0.0"));
    }
    {
        ZvDBLog log;
        QElapsedTimer t;
        t.start();
        const bool upgraded = log.checkUpgrade();
        std::printf("upgrade of %d rows: %.0f ms (%s), %d rows after\n", log.getLogsCount("", "", ""),
                    t.nsecsElapsed() / 1e6, upgraded ? "done" : "FAILED",
                    log.getLogsCount("", "", ""));
    }
    {
        QElapsedTimer t;
        t.start();
        const bool exported = VDBHelper::exportDb(
            file, dir.filePath(QStringLiteral("export.db")), {QLatin1String(ZvDBLog::kDropTable)},
            {QLatin1String(ZvDBLog::kCreateTable)}, {QLatin1String(ZvDBLog::kTable)},
            QStringLiteral("TABLE"), QStringLiteral("1.0.1"));
        std::printf("export of the log: %.0f ms (%s)\n", t.nsecsElapsed() / 1e6,
                    exported ? "done" : "FAILED");
    }
    return 0;
}
