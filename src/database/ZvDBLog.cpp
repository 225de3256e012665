#include "ZvDBLog.h"

#include "VDBHelper.h"

#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>

const char* const ZvDBLog::kCreateTable =
    "create table if not exists alog(id integer primary key autoincrement, volume integer, rtpId "
    "integer, rtpAddress text, action integer, source integer, type integer, codec integer, "
    "dateTime text);";
const char* const ZvDBLog::kDropTable = "drop table alog";
const char* const ZvDBLog::kTable = "alog";

namespace {

void bindFilter(QSqlQuery& query, const QString& rtpAddress, const QString& startTime,
                const QString& endTime)
{
    if (!rtpAddress.isEmpty())
        query.bindValue(QStringLiteral(":rtpAddress"), rtpAddress);
    if (!startTime.isEmpty())
        query.bindValue(QStringLiteral(":startTime"), startTime);
    if (!endTime.isEmpty())
        query.bindValue(QStringLiteral(":endTime"), endTime);
}

} // namespace

ZvDBLog::ZvDBLog(bool open)
{
    if (open)
        this->open(QString());
}

bool ZvDBLog::open(const QString& connectionName)
{
    if (!VDB::open(connectionName))
        return false;
    // Only a speed-up: without it the queries give the same rows.
    VDBHelper::execSql(m_db, QStringLiteral("pragma cache_size=-%1").arg(kReadCacheKiB));
    return true;
}

ZvDBLog::~ZvDBLog()
{
    close();
}

QString ZvDBLog::version() const
{
    return QStringLiteral("1.0.1");
}

QString ZvDBLog::path() const
{
    return databaseFile(QStringLiteral("zvlog.db"));
}

bool ZvDBLog::createTables(QSqlDatabase& oldDb, QSqlDatabase& newDb)
{
    // No index: a page deep in a filtered log is a scan in id order either way, and an index
    // on the time makes SQLite sort every match instead (measured on 100,000 rows).
    return VDBHelper::migrateTable(oldDb, newDb, QLatin1String(kDropTable),
                                   QLatin1String(kCreateTable), QLatin1String(kTable));
}

int ZvDBLog::insertLog(const ZvLog& row)
{
    const QString sql = QStringLiteral(
        "insert into alog(volume,rtpId,rtpAddress,action,source,type,codec,dateTime) "
        "values(:volume,:rtpId,:rtpAddress,:action,:source,:type,:codec,:dateTime);");
    QSqlQuery query(m_db);
    if (!query.prepare(sql)) {
        VDBHelper::logQueryFailure("ZvDBLog::insertLog", sql, query);
        return -1;
    }
    query.bindValue(QStringLiteral(":volume"), row.volume);
    query.bindValue(QStringLiteral(":rtpId"), row.rtpId);
    query.bindValue(QStringLiteral(":rtpAddress"), row.rtpAddress);
    query.bindValue(QStringLiteral(":action"), row.action);
    query.bindValue(QStringLiteral(":source"), row.source);
    query.bindValue(QStringLiteral(":type"), row.type);
    query.bindValue(QStringLiteral(":codec"), row.codec);
    query.bindValue(QStringLiteral(":dateTime"), row.dateTime);
    if (!query.exec()) {
        VDBHelper::logQueryFailure("ZvDBLog::insertLog", sql, query);
        return -1;
    }
    return VDBHelper::toInt(query.lastInsertId());
}

QVector<ZvLog> ZvDBLog::getLogs(int offset, int limit, const QString& rtpAddress,
                                const QString& startTime, const QString& endTime)
{
    QVector<ZvLog> rows;
    // A negative limit would mean every row of the log.
    limit = std::max(limit, 1);
    offset = std::max(offset, 0);
    const QString filter = buildFilter(rtpAddress, startTime, endTime);
    const QString sql =
        filter.isEmpty()
            ? QStringLiteral("select * from alog order by id desc limit %1 offset %2")
                  .arg(limit)
                  .arg(offset)
            : QStringLiteral("select * from alog where %1 order by id desc limit %2 offset %3")
                  .arg(filter)
                  .arg(limit)
                  .arg(offset);
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    if (!query.prepare(sql)) {
        VDBHelper::logQueryFailure("ZvDBLog::getLogs", sql, query);
        return rows;
    }
    if (!filter.isEmpty())
        bindFilter(query, rtpAddress, startTime, endTime);
    if (!query.exec()) {
        VDBHelper::logQueryFailure("ZvDBLog::getLogs", sql, query);
        return rows;
    }
    while (query.next()) {
        const ZvLog row = ZvLog::fromQuery(query);
        if (row.id > 0)
            rows.append(row);
    }
    return rows;
}

int ZvDBLog::getLogsCount(const QString& rtpAddress, const QString& startTime,
                          const QString& endTime)
{
    const QString filter = buildFilter(rtpAddress, startTime, endTime);
    QString sql = QStringLiteral("select count(id) from alog");
    if (!filter.isEmpty())
        sql += QStringLiteral(" where ") + filter;
    QSqlQuery query(m_db);
    if (!query.prepare(sql)) {
        VDBHelper::logQueryFailure("ZvDBLog::getLogsCount", sql, query);
        return 0;
    }
    bindFilter(query, rtpAddress, startTime, endTime);
    if (!query.exec()) {
        VDBHelper::logQueryFailure("ZvDBLog::getLogsCount", sql, query);
        return 0;
    }
    return query.next() ? VDBHelper::toInt(query.value(0)) : 0;
}

QString ZvDBLog::buildFilter(const QString& rtpAddress, const QString& startTime,
                             const QString& endTime)
{
    QString filter;
    auto add = [&filter](const char* condition) {
        filter += filter.isEmpty() ? QStringLiteral(" ") : QStringLiteral(" and ");
        filter += QLatin1String(condition);
    };
    if (!rtpAddress.isEmpty())
        add("rtpAddress=:rtpAddress");
    if (!startTime.isEmpty())
        add("dateTime >= :startTime");
    if (!endTime.isEmpty())
        add("dateTime <= :endTime");
    return filter;
}
