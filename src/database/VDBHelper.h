#pragma once

#include <QMap>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

#include <functional>

// Statements, table copies, version rows, export and import shared by every database.
// Static operations only. Failed statements are logged as "statement -> driver error".
class VDBHelper
{
public:
    using Row = QMap<QString, QVariant>;

    // A connection of its own to one file, closed and unregistered when it goes away.
    // For the files that upgrade, export and import read and write besides the live objects.
    class Connection
    {
    public:
        Connection(const QString& file, bool readOnly);
        ~Connection();
        Connection(const Connection&) = delete;
        Connection& operator=(const Connection&) = delete;

        bool isOpen() const { return m_db.isOpen(); }
        QSqlDatabase& db() { return m_db; }
        void close();

    private:
        QString m_name;
        QSqlDatabase m_db;
    };

    VDBHelper() = delete;

    static const char* const kVersionTable;
    static const char* const kCreateVersionTable;
    static const char* const kDropVersionTable;

    static int execSql(QSqlDatabase& db, const QString& sql);
    // One log line: the tag (the qualified method name), the statement, ", ", the driver's error.
    static void logQueryFailure(const char* tag, const QString& sql, const QSqlQuery& query);
    // ok (when given) is false when the statement failed, which an absent table is not.
    static QStringList readTableHeaders(QSqlDatabase& db, const QString& table, bool* ok = nullptr);
    static QVector<Row> readTableDatas(QSqlDatabase& db, const QString& table, bool* ok = nullptr);
    // Copies every row of table from source into target, through the columns both tables have.
    // The number of rows copied (0 also when source lacks the table), or -1 when the source
    // could not be read or a row could not be written.
    static int copyTable(QSqlDatabase& source, QSqlDatabase& target, const QString& table);

    static QString readVersion(QSqlDatabase& db, const QString& name);
    static int removeVersion(QSqlDatabase& db, const QString& name);
    static int writeVersion(QSqlDatabase& db, const QString& name, const QString& version);
    // Negative when a is older than b, 0 when equal, positive when newer. Parts compare as
    // numbers from the left; a missing part counts as 0, a part that is not a number as 0.
    static int compareVersion(const QString& a, const QString& b);

    // Creates table afresh in newDb and copies its rows from oldDb; false when a row was lost.
    static bool migrateTable(QSqlDatabase& oldDb, QSqlDatabase& newDb, const QString& dropSql,
                             const QString& createSql, const QString& table);

    // Writes a rebuilt copy of the live file to target; true only when target now holds it.
    static bool exportDb(const QString& livePath, const QString& targetPath,
                         const QStringList& dropSqls, const QStringList& createSqls,
                         const QStringList& tables, const QString& name, const QString& version);
    // Replaces the live file by one rebuilt from source's rows. Refuses (false, live file as it
    // was) a source that is not a database of ours, or whose rows do not fit.
    static bool importDb(const QString& sourcePath, const QString& livePath,
                         const QStringList& dropSqls, const QStringList& createSqls,
                         const QStringList& tables, const QString& name, const QString& version);

    // Row values as they come from a file we do not trust: 0 or empty for what is not a
    // number (or does not fit), never a crash.
    static int toInt(const QVariant& value);
    static qint64 toInt64(const QVariant& value);
    static QString toText(const QVariant& value);
    // The value of the named column in the current row; invalid when there is no such column.
    static QVariant columnValue(const QSqlQuery& query, const QString& column);

    // A connection name that no registered connection uses: the prefix and a process-wide count.
    static QString uniqueConnectionName(const QString& prefix);

    // Removes a database file with the journal files SQLite may have left beside it.
    static void removeDbFile(const QString& file);
    // Puts from in the place of to in one rename(2), and makes the change durable.
    static bool replaceFile(const QString& from, const QString& to);
    // Whether a failed statement found a file that is not a (sound) database.
    static bool isNotDatabaseError(const QSqlError& error);

    // The version row of name, replaced by one carrying version; 0, or -1 on failure.
    static int replaceVersion(QSqlDatabase& db, const QString& name, const QString& version);

    using Fill = std::function<bool(QSqlDatabase& source, QSqlDatabase& target)>;
    // Builds tempPath afresh from sourcePath: fill runs on a snapshot of the source and inside
    // one transaction of the new file, which is kept only when fill succeeds. With
    // requiredTables, a source that is not a database or holds none of them is refused.
    static bool build(const QString& sourcePath, bool sourceReadOnly, const QString& tempPath,
                      const QStringList& requiredTables, const Fill& fill);

private:
    static bool rebuild(QSqlDatabase& source, QSqlDatabase& target, const QStringList& dropSqls,
                        const QStringList& createSqls, const QStringList& tables,
                        const QString& name, const QString& version);
};
