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
};
