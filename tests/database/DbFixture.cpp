#include "DbFixture.h"

#include "TestSupport.h"
#include "VDB.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QFile>

#include <mutex>

namespace {

std::mutex g_logMutex;
QStringList g_logLines;
QtMessageHandler g_previousHandler = nullptr;

void captureLog(QtMsgType, const QMessageLogContext&, const QString& text)
{
    std::lock_guard<std::mutex> lock(g_logMutex);
    g_logLines.append(text);
}

} // namespace

void DbFixture::SetUp()
{
    ASSERT_TRUE(m_dir.isValid());
    {
        std::lock_guard<std::mutex> lock(g_logMutex);
        g_logLines.clear();
    }
    g_previousHandler = qInstallMessageHandler(captureLog);
    VDB::setDataRoot(m_dir.path());
    VDB::setStageHook(nullptr);
    SONARIS_REQUIRE_COMMANDS("sqlite3");
}

void DbFixture::TearDown()
{
    VDB::setStageHook(nullptr);
    VDB::setDataRoot(QString());
    qInstallMessageHandler(g_previousHandler);
}

QString DbFixture::sqlite(const QString& dbFile, const QString& sql)
{
    TestSupport::Result r =
        TestSupport::run(QStringLiteral("sqlite3"), {QStringLiteral("-bail"), dbFile, sql});
    EXPECT_EQ(r.exitCode, 0) << "sqlite3 " << qPrintable(sql) << ": " << r.err.constData();
    return QString::fromUtf8(r.out).trimmed();
}

QString DbFixture::schemaText(const char* createStatement)
{
    QString text = QString::fromLatin1(createStatement);
    text.replace(QStringLiteral("create table if not exists "), QStringLiteral("CREATE TABLE "));
    if (text.endsWith(QLatin1Char(';')))
        text.chop(1);
    return text + QLatin1Char(';');
}

QByteArray DbFixture::digest(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256).toHex();
}

bool DbFixture::writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QStringList DbFixture::folderEntries() const
{
    return QDir(folder()).entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
}

QStringList DbFixture::logLines()
{
    std::lock_guard<std::mutex> lock(g_logMutex);
    return g_logLines;
}

void DbFixture::makeOldChannelDb(const QString& dbFile, int extraChannels)
{
    QDir().mkpath(QFileInfo(dbFile).absolutePath());
    sqlite(dbFile,
           QStringLiteral(
               "create table vdb_version(id integer primary key autoincrement, name text unique, "
               "version text);"
               "insert into vdb_version(name, version) values('other', '7.7'), ('zv', '1.0.2');"
               "create table rtp(id integer primary key autoincrement, sortIndex integer, name "
               "text, address text, codec integer, volume integer, source integer, playlist text, "
               "deviceId text, deviceName text, deviceType integer, streamUrl text, bellPath "
               "text, bellLoopType integer, bellDuration integer, bellLoops integer, "
               "scheduleStatus integer, scheduleRepeat integer, scheduleValue text, scheduleItems "
               "text, sipStatus integer, sipServer text, sipPort text, sipUsername text, "
               "sipAuthId text, sipPassword text, sipDisplayName text, sipExpire text, httpApi "
               "integer, legacy text);"
               "insert into rtp(id, sortIndex, name, address, codec, volume, playlist, httpApi, "
               "legacy) values"
               "(1, 10, 'Hall', '127.0.0.1:5004', 0, 40, '/a.mp3\n/b.mp3', 1, 'x'),"
               "(5, 1099511627776, 'Yard', '127.0.0.1:5006', 3, 80, '', 0, 'y'),"
               "(9, 0, 'Gate', '127.0.0.1:5008', 1, 0, NULL, NULL, NULL);"
               "create table settings(id integer primary key autoincrement, key text unique, "
               "value text);"
               "insert into settings(key, value) values('sip port', '7000'), ('language', "
               "'English');"));
    if (extraChannels > 0)
        sqlite(dbFile, QStringLiteral("with recursive n(i) as (select 100 union all select i + 1 "
                                      "from n where i < %1) insert into rtp(id, name, address, "
                                      "codec) select i, 'Zone ' || i, '127.0.0.1:' || (6000 + i), "
                                      "i % 6 from n;")
                           .arg(99 + extraChannels));
}
