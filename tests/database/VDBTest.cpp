#include "DbFixture.h"
#include "VDBHelper.h"
#include "ZvDB.h"
#include "ZvDBLog.h"

#include <QFileInfo>
#include <QProcess>
#include <QSet>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <future>
#include <memory>
#include <thread>
#include <vector>

namespace {

using VDBTest = DbFixture;

int sign(int v)
{
    return (v > 0) - (v < 0);
}

TEST(VDBHelperTest, CompareVersionComparesPartsAsNumbers)
{
    const struct
    {
        const char* a;
        const char* b;
        int expected;
    } cases[] = {
        {"", "1.0.3", -1},      {"1.0.2", "1.0.3", -1}, {"1.0.10", "1.0.9", 1},
        {"1.0.3.1", "1.0.3", 1}, {"2.0", "1.0.3", 1},    {"1.0", "1.0.0", 0},
        {"1.0.3", "1.0.3", 0},  {"1.x.3", "1.0.3", 0},  {"1..3", "1.0.3", 0},
        {"0.9.9", "1.0.3", -1}, {"1.0", "1.0.3", -1},   {"10", "9.9.9", 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sign(VDBHelper::compareVersion(c.a, c.b)), c.expected) << c.a << " vs " << c.b;
        EXPECT_EQ(sign(VDBHelper::compareVersion(c.b, c.a)), -c.expected) << c.b << " vs " << c.a;
    }
}

TEST(VDBHelperTest, MalformedValuesReadAsZero)
{
    EXPECT_EQ(VDBHelper::toInt(QVariant()), 0);
    EXPECT_EQ(VDBHelper::toInt(QVariant(QStringLiteral("abc"))), 0);
    EXPECT_EQ(VDBHelper::toInt(QVariant(QStringLiteral(" 7 "))), 7);
    EXPECT_EQ(VDBHelper::toInt(QVariant(qint64(1) << 40)), 0); // does not fit
    EXPECT_EQ(VDBHelper::toInt64(QVariant(qint64(1) << 40)), qint64(1) << 40);
    EXPECT_EQ(VDBHelper::toInt(QVariant(1.5)), 1);
    EXPECT_EQ(VDBHelper::toInt(QVariant(1e300)), 0);
    EXPECT_EQ(VDBHelper::toInt64(QVariant(std::numeric_limits<double>::quiet_NaN())), 0);
    EXPECT_EQ(VDBHelper::toInt(QVariant(QByteArray("\x01\x02"))), 0);
    EXPECT_EQ(VDBHelper::toText(QVariant(QByteArray("h\xc3\xa9"))), QString::fromUtf8("h\xc3\xa9"));
}

TEST_F(VDBTest, NamesOfManyConnectionsOnOneThreadDiffer)
{
    {
        ZvDB zv;
        zv.checkUpgrade();
    }
    auto start = std::chrono::steady_clock::now();
    std::vector<std::unique_ptr<ZvDB>> objects;
    QSet<QString> names;
    for (int i = 0; i < 300; ++i) {
        objects.push_back(std::make_unique<ZvDB>());
        ASSERT_TRUE(objects.back()->isOpen());
        names.insert(objects.back()->connectionName());
    }
    EXPECT_EQ(names.size(), 300);
    // Generous bound: a name must never wait for the clock.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));

    objects.front().reset();
    EXPECT_GT(objects.back()->setSetting("k", "v"), 0);
    QString value;
    EXPECT_EQ(objects[1]->getSetting("k", value), 0);
    EXPECT_EQ(value, "v");
}

TEST_F(VDBTest, NewFileGetsTablesAndOneVersionRowAndNothingElse)
{
    {
        ZvDBLog log;
        ASSERT_TRUE(log.isOpen());
        EXPECT_TRUE(log.checkUpgrade());
        EXPECT_TRUE(log.isOpen());
        EXPECT_EQ(log.getLogsCount("", "", ""), 0);
    }
    const QString db = file("zvlog.db");
    EXPECT_EQ(sqlite(db, ".schema alog"), schemaText(ZvDBLog::kCreateTable));
    EXPECT_EQ(sqlite(db, "select name, version from vdb_version"), "TABLE|1.0.1");
    EXPECT_EQ(folderEntries(), QStringList{"zvlog.db"});
    bool sawUpgrade = false;
    for (const QString& line : logLines())
        sawUpgrade = sawUpgrade || line.endsWith("Upgrade DB  -> 1.0.1");
    EXPECT_TRUE(sawUpgrade);

    ZvDBLog again;
    EXPECT_FALSE(again.checkUpgrade());
}

TEST_F(VDBTest, StoredVersionDecidesWhetherTheFileIsRebuilt)
{
    const struct
    {
        const char* stored;
        bool upgraded;
    } cases[] = {{"1.0.3", false}, {"1.0.3.1", false}, {"2.0", false},  {"1.0.10", false},
                 {"1.0.2", true},   {"1.0", true},       {"0.9.9", true}, {"", true}};
    for (const auto& c : cases) {
        const QString db = file("zv.db");
        VDBHelper::removeDbFile(db);
        makeOldChannelDb(db);
        sqlite(db, QStringLiteral("update vdb_version set version='%1' where name='zv'").arg(c.stored));
        const QByteArray before = digest(db);
        ZvDB zv;
        EXPECT_EQ(zv.checkUpgrade(), c.upgraded) << c.stored;
        if (c.upgraded) {
            EXPECT_EQ(sqlite(db, "select version from vdb_version where name='zv'"), "1.0.3");
            EXPECT_EQ(zv.getZvRtps().size(), 3) << c.stored;
        } else {
            EXPECT_EQ(digest(db), before) << c.stored;
        }
    }
}

TEST_F(VDBTest, UpgradeKeepsEveryRowAndId)
{
    const QString db = file("zv.db");
    makeOldChannelDb(db);
    {
        ZvDB zv;
        ASSERT_TRUE(zv.checkUpgrade());
        ASSERT_TRUE(zv.isOpen());
        QVector<ZvRtp> rows = zv.getZvRtps();
        ASSERT_EQ(rows.size(), 3);
        EXPECT_EQ(rows[0].id, 1);
        EXPECT_EQ(rows[0].name, "Hall");
        EXPECT_EQ(rows[0].playlist, "/a.mp3\n/b.mp3");
        EXPECT_EQ(rows[0].httpApi, 1);
        EXPECT_EQ(rows[1].id, 5);
        EXPECT_EQ(rows[1].sortIndex, qint64(1) << 40);
        EXPECT_EQ(rows[2].id, 9);
        QString port;
        EXPECT_EQ(zv.getSetting("sip port", port), 0);
        EXPECT_EQ(port, "7000");
        // The next channel continues after the highest id.
        EXPECT_EQ(zv.insertZvRtp(ZvRtp()), 10);
    }
    EXPECT_EQ(sqlite(db, ".schema rtp"), schemaText(ZvDB::kCreateRtp));
    EXPECT_EQ(sqlite(db, "select count(*) from rtp where id < 10 and httpOutput is null"), "3");
    EXPECT_EQ(sqlite(db, "select name, version from vdb_version order by name"),
              "other|7.7\nzv|1.0.3");
    EXPECT_EQ(folderEntries(), QStringList{"zv.db"});
}

TEST_F(VDBTest, UpgradeThatCannotCopyARowKeepsTheOldFile)
{
    const QString db = file("zv.db");
    makeOldChannelDb(db);
    // The old settings table allowed a key twice; the new one does not.
    sqlite(db, "drop table settings; create table settings(id integer primary key, key text, "
               "value text); insert into settings(key, value) values('a', '1'), ('a', '2');");
    const QByteArray before = digest(db);
    ZvDB zv;
    EXPECT_FALSE(zv.checkUpgrade());
    EXPECT_EQ(digest(db), before);
    EXPECT_EQ(folderEntries(), QStringList{"zv.db"});
    ASSERT_TRUE(zv.isOpen());
    EXPECT_EQ(zv.getZvRtps().size(), 3);
}

TEST_F(VDBTest, UpgradeWaitsForAnotherThreadsConnectionAndKeepsItsWrites)
{
    const QString db = file("zv.db");
    makeOldChannelDb(db);
    std::promise<void> opened;
    std::thread other([&opened] {
        ZvDB zv;
        zv.setSetting("written before", "1");
        opened.set_value();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        zv.setSetting("written while the upgrade waits", "2");
    });
    opened.get_future().wait();
    ZvDB zv;
    EXPECT_TRUE(zv.checkUpgrade());
    other.join();
    QString value;
    EXPECT_EQ(zv.getSetting("written before", value), 0);
    EXPECT_EQ(zv.getSetting("written while the upgrade waits", value), 0);
    EXPECT_EQ(value, "2");
    EXPECT_EQ(sqlite(db, "select version from vdb_version where name='zv'"), "1.0.3");
}

TEST_F(VDBTest, UpgradeIsAbandonedWhileAConnectionStaysOpen)
{
    const QString db = file("zv.db");
    makeOldChannelDb(db);
    const QByteArray before = digest(db);
    ZvDB holder; // never closes during the check
    ZvDB zv;
    EXPECT_FALSE(zv.checkUpgrade());
    EXPECT_EQ(digest(db), before);
    ASSERT_TRUE(zv.isOpen());
    EXPECT_EQ(holder.setSetting("still", "works"), 3);
    EXPECT_EQ(zv.getZvRtps().size(), 3);
}

TEST_F(VDBTest, LeftoversOfAnInterruptedUpgradeAreRebuilt)
{
    const QString db = file("zv.db");
    makeOldChannelDb(db);
    ASSERT_TRUE(writeFile(db + ".upgrade", "half a database"));
    ASSERT_TRUE(writeFile(db + ".upgrade-journal", "a stale journal"));
    ZvDB zv;
    EXPECT_TRUE(zv.checkUpgrade());
    EXPECT_EQ(zv.getZvRtps().size(), 3);
    EXPECT_EQ(folderEntries(), QStringList{"zv.db"});
}

TEST_F(VDBTest, AFileThatIsNotADatabaseIsKeptAsideAndReplaced)
{
    const QString db = file("zv.db");
    ASSERT_TRUE(writeFile(db, QByteArray("not a database, but someone's data\n").repeated(200)));
    const QByteArray before = digest(db);
    ZvDB zv;
    EXPECT_TRUE(zv.checkUpgrade());
    zv.initDefaults();
    EXPECT_EQ(zv.getZvRtps().size(), 1);
    EXPECT_EQ(digest(db + ".bad"), before);
    EXPECT_EQ(sqlite(db, "select version from vdb_version"), "1.0.3");
}

class VDBKillTest : public DbFixture, public ::testing::WithParamInterface<std::pair<const char*, int>>
{
};

// The child process is killed at a step of the upgrade; the next start must find a database
// that opens, and end with the current version and every channel.
TEST_P(VDBKillTest, KilledUpgradeLeavesAUsableDatabase)
{
    const QString db = file("zv.db");
    makeOldChannelDb(db, 200);
    QProcess child;
    child.start(QStringLiteral(DB_UPGRADE_CHILD),
                {root(), QString::fromLatin1(GetParam().first), QString::number(GetParam().second)});
    ASSERT_TRUE(child.waitForFinished(60000));
    ASSERT_EQ(child.exitStatus(), QProcess::CrashExit) << child.readAllStandardError().constData();

    // Readable by another program as it stands.
    EXPECT_EQ(sqlite(db, "pragma integrity_check"), "ok");
    EXPECT_EQ(sqlite(db, "select count(*) from rtp"), "203");

    ZvDB zv;
    zv.checkUpgrade();
    zv.initDefaults();
    EXPECT_EQ(zv.getZvRtps().size(), 203);
    QString port;
    EXPECT_EQ(zv.getSetting("sip port", port), 0);
    EXPECT_EQ(port, "7000");
    EXPECT_EQ(sqlite(db, "select version from vdb_version where name='zv'"), "1.0.3");
    EXPECT_EQ(folderEntries(), QStringList{"zv.db"});
}

INSTANTIATE_TEST_SUITE_P(Steps, VDBKillTest,
                         ::testing::Values(std::make_pair("row", 1), std::make_pair("row", 150),
                                           std::make_pair("built", 1),
                                           std::make_pair("replaced", 1)),
                         [](const ::testing::TestParamInfo<std::pair<const char*, int>>& info) {
                             return std::string(info.param.first) + std::to_string(info.param.second);
                         });

TEST_F(VDBTest, UpgradeKilledFromOutsideWhileCopyingLeavesAUsableDatabase)
{
    const QString db = file("zv.db");
    makeOldChannelDb(db, 200);
    QProcess child;
    child.start(QStringLiteral(DB_UPGRADE_CHILD), {root(), "row", "100", "hang"});
    ASSERT_TRUE(child.waitForReadyRead(60000));
    EXPECT_EQ(child.readLine().trimmed(), "at row");
    EXPECT_TRUE(QFileInfo::exists(db + ".upgrade")); // the new file is being built
    ::kill(static_cast<pid_t>(child.processId()), SIGKILL);
    ASSERT_TRUE(child.waitForFinished(10000));
    EXPECT_EQ(child.exitStatus(), QProcess::CrashExit);

    QProcess next;
    next.start(QStringLiteral(DB_UPGRADE_CHILD), {root(), "none", "0"});
    ASSERT_TRUE(next.waitForFinished(60000));
    EXPECT_EQ(next.exitCode(), 0);
    EXPECT_EQ(next.readAllStandardOutput().trimmed(), "upgraded");
    EXPECT_EQ(sqlite(db, "select count(*) from rtp"), "203");
    EXPECT_EQ(sqlite(db, "select version from vdb_version where name='zv'"), "1.0.3");
    EXPECT_EQ(folderEntries(), QStringList{"zv.db"});
}

} // namespace
