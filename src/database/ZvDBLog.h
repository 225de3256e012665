#pragma once

#include "VDB.h"
#include "ZvLog.h"

#include <QVector>

// The action log: one row for every start and stop of a channel, in "zvlog.db".
class ZvDBLog : public VDB
{
public:
    explicit ZvDBLog(bool open = true);
    ~ZvDBLog() override;

    // The base's open, with a page cache large enough to hold a long log (see kReadCacheKiB).
    bool open(const QString& connectionName = QString()) override;
    QString version() const override;
    QString path() const override;
    bool createTables(QSqlDatabase& oldDb, QSqlDatabase& newDb) override;

    // The new row's id, or -1.
    int insertLog(const ZvLog& row);
    // One page, newest first, filtered by the arguments that are not empty.
    QVector<ZvLog> getLogs(int offset, int limit, const QString& rtpAddress,
                           const QString& startTime, const QString& endTime);
    int getLogsCount(const QString& rtpAddress, const QString& startTime, const QString& endTime);

    static QString buildFilter(const QString& rtpAddress, const QString& startTime,
                               const QString& endTime);

    static const char* const kCreateTable;
    static const char* const kDropTable;
    static const char* const kTable;

    // Page cache of each log connection, in KiB. A count runs through every row of the log,
    // and with SQLite's 2 MiB default a log of 100,000 rows (about 5 MiB) was read from the
    // file again by every count, twice the time of counting it from memory (measured). The
    // cache only grows with the pages read and belongs to the connection, not to the file.
    static constexpr int kReadCacheKiB = 16384;
};
