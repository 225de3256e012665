#include "VDB.h"

#include "RDLog.h"
#include "VDBHelper.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>

namespace {

std::mutex g_rootMutex;
QString g_dataRoot;

std::atomic<VDB::StageHook> g_stageHook{nullptr};

// Which database files this process has open, and which are being replaced. A file is
// replaced only once every connection to it has closed: a connection left open would keep
// writing into the replaced file, and what it wrote would be lost.
struct OpenFiles
{
    std::mutex mutex;
    std::condition_variable changed;
    std::map<QString, int> open;
    std::set<QString> replacing;
};

OpenFiles& openFiles()
{
    static OpenFiles files;
    return files;
}

QString fileKey(const QString& file)
{
    return QDir::cleanPath(QFileInfo(file).absoluteFilePath());
}

// A free name beside file for a copy that is kept aside.
QString asideName(const QString& file)
{
    QString candidate = file + QStringLiteral(".bad");
    for (int i = 1; QFileInfo::exists(candidate); ++i)
        candidate = QStringLiteral("%1.bad.%2").arg(file).arg(i);
    return candidate;
}

} // namespace

VDB::VDB() : QObject(nullptr) {}

VDB::~VDB()
{
    // Subclasses close in their own destructors; this catches an object that never got there.
    close();
}

bool VDB::isOpen() const
{
    return m_db.isOpen();
}

bool VDB::open(const QString& connectionName)
{
    if (isOpen())
        return true;
    m_databasePath = path();
    const QString key = fileKey(m_databasePath);
    {
        OpenFiles& files = openFiles();
        std::unique_lock<std::mutex> lock(files.mutex);
        if (!files.changed.wait_for(lock, std::chrono::milliseconds(kOpenWaitMs),
                                    [&] { return files.replacing.count(key) == 0; })) {
            RDLOG("Open %s: the file is still being replaced", qUtf8Printable(m_databasePath));
            return false;
        }
        ++files.open[key];
        m_counted = true;
    }

    m_connectionName = connectionName.isEmpty() ? uniqueConnectionName() : connectionName;
    if (QSqlDatabase::contains(m_connectionName)) {
        // Registering it again would take the connection away from its owner.
        RDLOG("Open %s: connection name %s is in use", qUtf8Printable(m_databasePath),
              qUtf8Printable(m_connectionName));
        m_connectionName.clear();
        close();
        return false;
    }
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
    m_db.setDatabaseName(m_databasePath);
    if (!m_db.open()) {
        RDLOG("Open %s -> %s", qUtf8Printable(m_databasePath),
              qUtf8Printable(m_db.lastError().text()));
        close();
        return false;
    }
    return true;
}

void VDB::close()
{
    if (m_db.isValid()) {
        m_db.close();
        m_db = QSqlDatabase();
    }
    if (!m_connectionName.isEmpty()) {
        QSqlDatabase::removeDatabase(m_connectionName);
        m_connectionName.clear();
    }
    if (m_counted) {
        m_counted = false;
        OpenFiles& files = openFiles();
        std::lock_guard<std::mutex> lock(files.mutex);
        const QString key = fileKey(m_databasePath);
        auto it = files.open.find(key);
        if (it != files.open.end() && --it->second <= 0)
            files.open.erase(it);
        files.changed.notify_all();
    }
}

QString VDB::name() const
{
    return QStringLiteral("TABLE");
}

QString VDB::backupPath(const QString& version) const
{
    const QString suffix =
        version.isEmpty() ? QStringLiteral("bak") : QStringLiteral("%1.bak").arg(version);
    return QStringLiteral("%1.%2").arg(path(), suffix);
}

QString VDB::uniqueConnectionName() const
{
    return VDBHelper::uniqueConnectionName(
        QString::number(quint64(quintptr(QThread::currentThread()))));
}

bool VDB::checkUpgrade()
{
    if (!isOpen()) {
        RDLOG("Version check of %s: the database is not open", qUtf8Printable(path()));
        return false;
    }
    const QString current = version();
    bool usable = true;
    {
        QSqlQuery probe(m_db);
        const QString sql = QStringLiteral("select count(*) from sqlite_master");
        if (!probe.exec(sql)) {
            RDLOG("%s -> %s", qUtf8Printable(sql), qUtf8Printable(probe.lastError().text()));
            // A file that is busy or cannot be read now is left alone; one that is not a
            // database at all is rebuilt (and kept aside by the upgrade).
            if (!VDBHelper::isNotDatabaseError(probe.lastError()))
                return false;
            usable = false;
        }
    }
    const QString stored = usable ? VDBHelper::readVersion(m_db, name()) : QString();
    if (VDBHelper::compareVersion(stored, current) >= 0)
        return false;
    RDLOG("Upgrade DB %s -> %s", qUtf8Printable(stored), qUtf8Printable(current));
    return upgrade(stored, current);
}

bool VDB::upgrade(const QString& oldVersion, const QString& newVersion)
{
    replaceBegin();
    close();
    const QString live = path();
    const QString temp = live + QStringLiteral(".upgrade");
    bool done = false;
    if (!beginReplace(live)) {
        RDLOG("Upgrade of %s abandoned: the file is still in use", qUtf8Printable(live));
    } else {
        // The live file is only read: the new one is built beside it and takes its place in
        // one rename, so a crash at any point leaves a complete file under the live name.
        QString source = live;
        {
            VDBHelper::Connection probe(live, false);
            QSqlQuery query(probe.db());
            if (probe.isOpen() && !query.exec(QStringLiteral("select count(*) from sqlite_master")) &&
                VDBHelper::isNotDatabaseError(query.lastError()))
                source.clear();
        }
        if (source.isEmpty()) {
            const QString aside = asideName(live);
            RDLOG("%s is not a database; it is kept as %s", qUtf8Printable(live),
                  qUtf8Printable(aside));
            if (VDBHelper::replaceFile(live, aside)) {
                if (QFileInfo::exists(live + QStringLiteral("-journal")))
                    VDBHelper::replaceFile(live + QStringLiteral("-journal"),
                                           aside + QStringLiteral("-journal"));
                source = QStringLiteral(":memory:");
            }
        }
        auto fill = [this, &newVersion](QSqlDatabase& oldDb, QSqlDatabase& newDb) {
            return VDBHelper::migrateTable(oldDb, newDb, QLatin1String(VDBHelper::kDropVersionTable),
                                           QLatin1String(VDBHelper::kCreateVersionTable),
                                           QLatin1String(VDBHelper::kVersionTable)) &&
                   createTables(oldDb, newDb) &&
                   VDBHelper::replaceVersion(newDb, name(), newVersion) == 0;
        };
        if (!source.isEmpty() && VDBHelper::build(source, false, temp, QStringList(), fill)) {
            done = VDBHelper::replaceFile(temp, live);
            if (!done)
                VDBHelper::removeDbFile(temp);
            else
                stage("replaced");
        }
        endReplace(live);
        if (!done)
            RDLOG("Upgrade of %s from %s abandoned; the file stays as it was",
                  qUtf8Printable(live), qUtf8Printable(oldVersion));
    }
    open();
    replaceEnd();
    return done;
}

void VDB::setDataRoot(const QString& folder)
{
    std::lock_guard<std::mutex> lock(g_rootMutex);
    g_dataRoot = folder;
}

QString VDB::dataRoot()
{
    {
        std::lock_guard<std::mutex> lock(g_rootMutex);
        if (!g_dataRoot.isEmpty())
            return g_dataRoot;
    }
    return QCoreApplication::applicationDirPath();
}

QString VDB::databaseFile(const QString& fileName)
{
    const QString folder = dataRoot() + QStringLiteral("/database");
    if (!QFileInfo(folder).isDir() && !QDir().mkpath(folder))
        RDLOG("Cannot create the folder %s", qUtf8Printable(folder));
    return folder + QLatin1Char('/') + fileName;
}

bool VDB::beginReplace(const QString& file, int waitMs)
{
    OpenFiles& files = openFiles();
    const QString key = fileKey(file);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    std::unique_lock<std::mutex> lock(files.mutex);
    if (!files.changed.wait_until(lock, deadline,
                                  [&] { return files.replacing.count(key) == 0; }))
        return false;
    files.replacing.insert(key);
    if (!files.changed.wait_until(lock, deadline, [&] { return files.open.count(key) == 0; })) {
        files.replacing.erase(key);
        files.changed.notify_all();
        return false;
    }
    return true;
}

void VDB::endReplace(const QString& file)
{
    OpenFiles& files = openFiles();
    std::lock_guard<std::mutex> lock(files.mutex);
    files.replacing.erase(fileKey(file));
    files.changed.notify_all();
}

void VDB::setStageHook(StageHook hook)
{
    g_stageHook.store(hook);
}

void VDB::stage(const char* name)
{
    StageHook hook = g_stageHook.load(std::memory_order_relaxed);
    if (hook)
        hook(name);
}
