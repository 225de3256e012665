#include "VDBHelper.h"

#include "RDLog.h"
#include "VDB.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <unistd.h>

const char* const VDBHelper::kVersionTable = "vdb_version";
const char* const VDBHelper::kCreateVersionTable =
    "create table if not exists vdb_version(id integer primary key autoincrement, name text "
    "unique, version text)";
const char* const VDBHelper::kDropVersionTable = "drop table vdb_version";

namespace {

void logFailure(const QString& sql, const QSqlError& error)
{
    RDLOG("%s -> %s", qUtf8Printable(sql), qUtf8Printable(error.text()));
}

// The path a file has or would have, with links and "." resolved as far as they exist.
QString canonicalPath(const QString& file)
{
    QFileInfo info(file);
    if (info.exists())
        return info.canonicalFilePath();
    QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    if (folder.isEmpty())
        folder = info.absolutePath();
    return QDir::cleanPath(folder + QLatin1Char('/') + info.fileName());
}

bool syncFolder(const QString& folder)
{
    int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

// Reads the file once, so that SQLite rolls back a journal that a crashed writer left behind
// while the file still has its own name.
void settle(const QString& file)
{
    if (!QFileInfo(file).isFile())
        return;
    VDBHelper::Connection connection(file, false);
    if (!connection.isOpen())
        return;
    QSqlQuery query(connection.db());
    query.exec(QStringLiteral("select count(*) from sqlite_master"));
}

} // namespace

VDBHelper::Connection::Connection(const QString& file, bool readOnly)
    : m_name(uniqueConnectionName(QStringLiteral("vdbhelper")))
{
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
    m_db.setDatabaseName(file);
    if (readOnly)
        m_db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
    if (!m_db.open())
        RDLOG("Open %s -> %s", qUtf8Printable(file), qUtf8Printable(m_db.lastError().text()));
}

VDBHelper::Connection::~Connection()
{
    close();
}

void VDBHelper::Connection::close()
{
    if (m_name.isEmpty())
        return;
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_name);
    m_name.clear();
}

int VDBHelper::execSql(QSqlDatabase& db, const QString& sql)
{
    QSqlQuery query(db);
    if (!query.exec(sql)) {
        logFailure(sql, query.lastError());
        return -1;
    }
    return 0;
}

void VDBHelper::logQueryFailure(const char* tag, const QString& sql, const QSqlQuery& query)
{
    RDLOGLINE() << tag << ": " << sql << ", " << query.lastError().text() << "\n";
}

QStringList VDBHelper::readTableHeaders(QSqlDatabase& db, const QString& table, bool* ok)
{
    QStringList names;
    const QString sql = QStringLiteral("PRAGMA table_info(%1);").arg(table);
    QSqlQuery query(db);
    if (!query.exec(sql)) {
        logFailure(sql, query.lastError());
        if (ok)
            *ok = false;
        return names;
    }
    while (query.next())
        names.append(query.value(QStringLiteral("name")).toString());
    if (ok)
        *ok = query.lastError().type() == QSqlError::NoError;
    return names;
}

QVector<VDBHelper::Row> VDBHelper::readTableDatas(QSqlDatabase& db, const QString& table, bool* ok)
{
    QVector<Row> rows;
    const QStringList names = readTableHeaders(db, table, ok);
    if (names.isEmpty())
        return rows;
    const QString sql = QStringLiteral("select * from %1").arg(table);
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.exec(sql)) {
        logFailure(sql, query.lastError());
        if (ok)
            *ok = false;
        return rows;
    }
    while (query.next()) {
        Row row;
        const int count = std::min(names.size(), query.record().count());
        for (int i = 0; i < count; ++i)
            row.insert(names.at(i), query.value(i));
        rows.append(row);
    }
    if (ok && query.lastError().type() != QSqlError::NoError)
        *ok = false;
    return rows;
}

int VDBHelper::copyTable(QSqlDatabase& source, QSqlDatabase& target, const QString& table)
{
    bool ok = true;
    const QStringList from = readTableHeaders(source, table, &ok);
    if (!ok)
        return -1;
    if (from.isEmpty())
        return 0;
    const QStringList to = readTableHeaders(target, table, &ok);
    if (!ok)
        return -1;

    // Only the columns both tables have: a column the new table lacks is left behind instead
    // of making every row fail, a column only the new table has stays NULL.
    QStringList columns;
    QStringList sourceColumns;
    for (const QString& column : from) {
        for (const QString& known : to) {
            if (known.compare(column, Qt::CaseInsensitive) == 0) {
                columns.append(known);
                sourceColumns.append(QLatin1Char('"') + column + QLatin1Char('"'));
                break;
            }
        }
    }

    const QString select =
        QStringLiteral("select %1 from %2").arg(sourceColumns.join(QLatin1Char(',')), table);
    QSqlQuery read(source);
    read.setForwardOnly(true);
    if (columns.isEmpty()) {
        // Nothing of such a table can be kept: it is a loss only when it holds rows.
        const QString count = QStringLiteral("select count(*) from %1").arg(table);
        if (!read.exec(count) || !read.next()) {
            logFailure(count, read.lastError());
            return -1;
        }
        if (read.value(0).toLongLong() == 0)
            return 0;
        RDLOG("Table %s: no column in common, its rows cannot be copied", qUtf8Printable(table));
        return -1;
    }
    if (!read.exec(select)) {
        logFailure(select, read.lastError());
        return -1;
    }

    QString insert = QStringLiteral("insert into %1(").arg(table);
    insert += columns.join(QLatin1Char(','));
    insert += QStringLiteral(") values(");
    for (int i = 0; i < columns.size(); ++i)
        insert += (i == 0 ? QStringLiteral(":") : QStringLiteral(",:")) + columns.at(i);
    insert += QStringLiteral(");");
    RDLOG("%s", qUtf8Printable(insert));

    QSqlQuery write(target);
    if (!write.prepare(insert)) {
        logFailure(insert, write.lastError());
        return -1;
    }
    int copied = 0;
    while (read.next()) {
        for (int i = 0; i < columns.size(); ++i)
            write.bindValue(i, read.value(i));
        if (!write.exec()) {
            logFailure(insert, write.lastError());
            return -1;
        }
        ++copied;
        VDB::stage("row");
    }
    if (read.lastError().type() != QSqlError::NoError) {
        logFailure(select, read.lastError());
        return -1;
    }
    return copied;
}

QString VDBHelper::readVersion(QSqlDatabase& db, const QString& name)
{
    const QString sql = QStringLiteral("select * from %1 where name = :name").arg(kVersionTable);
    QSqlQuery query(db);
    if (!query.prepare(sql)) {
        logFailure(sql, query.lastError());
        return QString();
    }
    query.bindValue(QStringLiteral(":name"), name);
    if (!query.exec()) {
        logFailure(sql, query.lastError());
        return QString();
    }
    if (!query.next())
        return QString();
    return toText(query.value(QStringLiteral("version")));
}

int VDBHelper::removeVersion(QSqlDatabase& db, const QString& name)
{
    const QString sql = QStringLiteral("delete from %1 where name=:name").arg(kVersionTable);
    QSqlQuery query(db);
    if (!query.prepare(sql)) {
        logFailure(sql, query.lastError());
        return -1;
    }
    query.bindValue(QStringLiteral(":name"), name);
    if (!query.exec()) {
        logFailure(sql, query.lastError());
        return -1;
    }
    return 0;
}

int VDBHelper::writeVersion(QSqlDatabase& db, const QString& name, const QString& version)
{
    const QString sql =
        QStringLiteral("insert into %1(name, version) values(:name, :version);").arg(kVersionTable);
    QSqlQuery query(db);
    if (!query.prepare(sql)) {
        logFailure(sql, query.lastError());
        return -1;
    }
    query.bindValue(QStringLiteral(":name"), name);
    query.bindValue(QStringLiteral(":version"), version);
    if (!query.exec()) {
        logFailure(sql, query.lastError());
        return -1;
    }
    return 0;
}

int VDBHelper::compareVersion(const QString& a, const QString& b)
{
    const QStringList left = a.split(QLatin1Char('.'));
    const QStringList right = b.split(QLatin1Char('.'));
    const int parts = std::max(left.size(), right.size());
    for (int i = 0; i < parts; ++i) {
        const qint64 x = i < left.size() ? left.at(i).trimmed().toLongLong() : 0;
        const qint64 y = i < right.size() ? right.at(i).trimmed().toLongLong() : 0;
        if (x != y)
            return x < y ? -1 : 1;
    }
    return 0;
}

bool VDBHelper::migrateTable(QSqlDatabase& oldDb, QSqlDatabase& newDb, const QString& dropSql,
                             const QString& createSql, const QString& table)
{
    bool ok = true;
    // A freshly built file has nothing to drop; dropping there would only log a failure.
    if (!readTableHeaders(newDb, table, &ok).isEmpty() && execSql(newDb, dropSql) < 0)
        return false;
    if (!ok || execSql(newDb, createSql) < 0)
        return false;
    return copyTable(oldDb, newDb, table) >= 0;
}

bool VDBHelper::rebuild(QSqlDatabase& source, QSqlDatabase& target, const QStringList& dropSqls,
                        const QStringList& createSqls, const QStringList& tables,
                        const QString& name, const QString& version)
{
    if (dropSqls.size() != tables.size() || createSqls.size() != tables.size())
        return false;
    for (int i = 0; i < tables.size(); ++i) {
        if (!migrateTable(source, target, dropSqls.at(i), createSqls.at(i), tables.at(i)))
            return false;
    }
    if (!tables.contains(QLatin1String(kVersionTable)) &&
        !migrateTable(source, target, QLatin1String(kDropVersionTable),
                      QLatin1String(kCreateVersionTable), QLatin1String(kVersionTable)))
        return false;
    return replaceVersion(target, name, version) == 0;
}

int VDBHelper::replaceVersion(QSqlDatabase& db, const QString& name, const QString& version)
{
    if (removeVersion(db, name) < 0 || writeVersion(db, name, version) < 0)
        return -1;
    return 0;
}

bool VDBHelper::build(const QString& sourcePath, bool sourceReadOnly, const QString& tempPath,
                      const QStringList& requiredTables, const Fill& fill)
{
    removeDbFile(tempPath);
    bool built = false;
    {
        Connection source(sourcePath, sourceReadOnly);
        if (!source.isOpen())
            return false;
        if (!requiredTables.isEmpty()) {
            int found = 0;
            for (const QString& table : requiredTables) {
                bool ok = true;
                if (!readTableHeaders(source.db(), table, &ok).isEmpty())
                    ++found;
                if (!ok) {
                    RDLOG("%s is not a database", qUtf8Printable(sourcePath));
                    return false;
                }
            }
            if (found == 0) {
                RDLOG("%s holds none of the tables %s", qUtf8Printable(sourcePath),
                      qUtf8Printable(requiredTables.join(QLatin1Char(','))));
                return false;
            }
        }
        Connection target(tempPath, false);
        if (!target.isOpen())
            return false;
        // One snapshot of the source, and one transaction (one sync) for the whole new file.
        source.db().transaction();
        if (!target.db().transaction()) {
            logFailure(QStringLiteral("begin"), target.db().lastError());
        } else if (!fill(source.db(), target.db())) {
            target.db().rollback();
        } else if (!target.db().commit()) {
            logFailure(QStringLiteral("commit"), target.db().lastError());
        } else {
            built = true;
        }
        source.db().rollback();
    }
    if (!built) {
        removeDbFile(tempPath);
        return false;
    }
    VDB::stage("built");
    return true;
}

bool VDBHelper::exportDb(const QString& livePath, const QString& targetPath,
                         const QStringList& dropSqls, const QStringList& createSqls,
                         const QStringList& tables, const QString& name, const QString& version)
{
    const QString temp = targetPath + QStringLiteral(".export");
    const QString live = canonicalPath(livePath);
    if (live == canonicalPath(targetPath) || live == canonicalPath(temp)) {
        RDLOG("Export to %s refused: it is the live database", qUtf8Printable(targetPath));
        return false;
    }
    if (!QFileInfo(livePath).isFile()) {
        RDLOG("Export refused: %s does not exist", qUtf8Printable(livePath));
        return false;
    }
    if (QFileInfo(targetPath).isDir()) {
        RDLOG("Export refused: %s is a folder", qUtf8Printable(targetPath));
        return false;
    }
    auto fill = [&](QSqlDatabase& source, QSqlDatabase& target) {
        return rebuild(source, target, dropSqls, createSqls, tables, name, version);
    };
    if (!build(livePath, false, temp, QStringList(), fill)) {
        RDLOG("Export to %s failed", qUtf8Printable(targetPath));
        return false;
    }
    if (!replaceFile(temp, targetPath)) {
        removeDbFile(temp);
        return false;
    }
    return true;
}

bool VDBHelper::importDb(const QString& sourcePath, const QString& livePath,
                         const QStringList& dropSqls, const QStringList& createSqls,
                         const QStringList& tables, const QString& name, const QString& version)
{
    if (!QFileInfo(sourcePath).isFile()) {
        RDLOG("Import refused: %s is not a file", qUtf8Printable(sourcePath));
        return false;
    }
    const QString temp = livePath + QStringLiteral(".import");
    auto fill = [&](QSqlDatabase& source, QSqlDatabase& target) {
        return rebuild(source, target, dropSqls, createSqls, tables, name, version);
    };
    if (!build(sourcePath, true, temp, tables, fill)) {
        RDLOG("Import of %s refused; the database is unchanged", qUtf8Printable(sourcePath));
        return false;
    }
    if (!VDB::beginReplace(livePath)) {
        RDLOG("Import of %s refused: %s is still in use", qUtf8Printable(sourcePath),
              qUtf8Printable(livePath));
        removeDbFile(temp);
        return false;
    }
    settle(livePath);
    const bool replaced = replaceFile(temp, livePath);
    VDB::endReplace(livePath);
    if (!replaced) {
        removeDbFile(temp);
        return false;
    }
    VDB::stage("replaced");
    return true;
}

int VDBHelper::toInt(const QVariant& value)
{
    const qint64 v = toInt64(value);
    if (v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max())
        return 0;
    return static_cast<int>(v);
}

qint64 VDBHelper::toInt64(const QVariant& value)
{
    if (value.isNull())
        return 0;
    bool ok = false;
    switch (value.type()) {
    case QVariant::Int:
    case QVariant::LongLong:
    case QVariant::UInt:
    case QVariant::Bool:
        return value.toLongLong();
    case QVariant::ULongLong: {
        const qulonglong v = value.toULongLong();
        return v > qulonglong(std::numeric_limits<qint64>::max()) ? 0 : qint64(v);
    }
    case QVariant::Double: {
        const double d = value.toDouble();
        // Outside this range the conversion would be undefined.
        if (!std::isfinite(d) || d <= -9.2e18 || d >= 9.2e18)
            return 0;
        return static_cast<qint64>(d);
    }
    case QVariant::String: {
        const qint64 v = value.toString().trimmed().toLongLong(&ok);
        return ok ? v : 0;
    }
    default:
        return 0;
    }
}

QString VDBHelper::toText(const QVariant& value)
{
    if (value.isNull())
        return QString();
    if (value.type() == QVariant::ByteArray)
        return QString::fromUtf8(value.toByteArray());
    return value.toString();
}

QVariant VDBHelper::columnValue(const QSqlQuery& query, const QString& column)
{
    const int index = query.record().indexOf(column);
    return index < 0 ? QVariant() : query.value(index);
}

QString VDBHelper::uniqueConnectionName(const QString& prefix)
{
    static std::atomic<quint64> counter{0};
    for (;;) {
        const QString candidate = QStringLiteral("%1_%2").arg(prefix).arg(++counter);
        if (!QSqlDatabase::contains(candidate))
            return candidate;
    }
}

void VDBHelper::removeDbFile(const QString& file)
{
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
        const QString path = file + QLatin1String(suffix);
        if (QFileInfo::exists(path) && !QFile::remove(path))
            RDLOG("Cannot remove %s", qUtf8Printable(path));
    }
}

bool VDBHelper::replaceFile(const QString& from, const QString& to)
{
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0) {
        const int error = errno;
        RDLOG("Rename %s -> %s: %s", qUtf8Printable(from), qUtf8Printable(to), strerror(error));
        return false;
    }
    if (!syncFolder(QFileInfo(to).absolutePath()))
        RDLOG("Cannot sync the folder of %s", qUtf8Printable(to));
    return true;
}

bool VDBHelper::isNotDatabaseError(const QSqlError& error)
{
    // SQLITE_NOTADB and SQLITE_CORRUPT, also as extended codes.
    const int code = error.nativeErrorCode().toInt() & 0xff;
    return code == 26 || code == 11;
}
