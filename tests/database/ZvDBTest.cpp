#include "DbFixture.h"
#include "VDBHelper.h"
#include "ZvDB.h"

#include <QDateTime>
#include <QFileInfo>

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace {

using ZvDBTest = DbFixture;

// What the application does at every start.
void startUp()
{
    ZvDB zv;
    zv.checkUpgrade();
    zv.initDefaults();
}

RtpScheduleItem item(int type, const char* start, int source)
{
    RtpScheduleItem i;
    i.type = type;
    i.startTime = QString::fromLatin1(start);
    i.source = source;
    i.duration = 30;
    i.durationUnit = 2;
    return i;
}

RtpInfo fullChannel()
{
    RtpInfo c;
    c.sortIndex = qint64(1) << 40;
    c.name = QString::fromUtf8("Hall \xe5\xa4\xa7\xe5\x8e\x85 'quoted'");
    c.address = "127.0.0.1:5004";
    c.codec = 2;
    c.volume = 80;
    c.source = 6;
    c.playlist = {"/no/such/file.mp3", "/music/b b.wav"};
    c.deviceId = "{0.0.1.00000000}.{abc}";
    c.deviceName = "Line In";
    c.deviceType = 1;
    c.streamUrl = "http://127.0.0.1:8000/stream";
    c.bellPath = "/sounds/bell.mp3";
    c.bellLoopType = 2;
    c.bellDuration = 30;
    c.bellLoops = 3;
    c.schedule.status = 1;
    c.schedule.repeat = 2;
    c.schedule.value = "1;3;5;";
    c.schedule.items = {item(1, "07:00:00", 16), item(2, "08:30:00", 0)};
    c.sip.status = 1;
    c.sip.server = "127.0.0.1";
    c.sip.port = "5060";
    c.sip.username = "1001";
    c.sip.authId = "auth";
    c.sip.password = "secret";
    c.sip.displayName = "Hall";
    c.sip.expire = "3600";
    c.httpApi = 1;
    c.httpOutput = 1;
    return c;
}

TEST_F(ZvDBTest, FirstRunCreatesTablesDefaultsAndTheDefaultChannel)
{
    startUp();
    const QString db = file("zv.db");
    EXPECT_EQ(sqlite(db, ".schema rtp"), schemaText(ZvDB::kCreateRtp));
    EXPECT_EQ(sqlite(db, ".schema settings"), schemaText(ZvDB::kCreateSettings));
    EXPECT_EQ(sqlite(db, "select name, version from vdb_version"), "zv|1.0.3");
    EXPECT_EQ(sqlite(db, "select key, value from settings where key != 'installation id' order by key"),
              "auto run|0\nhttp port|5262\nsip port|6832");
    // A random UUID (version 4) identifies the installation.
    EXPECT_TRUE(QRegularExpression("^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$")
                    .match(sqlite(db, "select value from settings where key = 'installation id'"))
                    .hasMatch());
    EXPECT_EQ(sqlite(db, "select name, address, codec, volume, source, sortIndex, httpApi, "
                         "httpOutput from rtp"),
              "239.255.0.0:8000|239.255.0.0:8000|3|0|0|0|0|0");
    EXPECT_EQ(folderEntries(), QStringList{"zv.db"});
}

TEST_F(ZvDBTest, LaterStartsChangeNothingButBringTheDefaultChannelBack)
{
    startUp();
    const QString db = file("zv.db");
    const QString id = sqlite(db, "select value from settings where key = 'installation id'");
    {
        ZvDB zv;
        EXPECT_EQ(zv.setSetting("sip port", "7000"), 0);
    }
    startUp();
    EXPECT_EQ(sqlite(db, "select value from settings where key='sip port'"), "7000");
    EXPECT_EQ(sqlite(db, "select count(*) from rtp"), "1");
    EXPECT_EQ(sqlite(db, "select count(*) from settings"), "4");
    EXPECT_EQ(sqlite(db, "select value from settings where key = 'installation id'"), id);

    sqlite(db, "delete from rtp");
    startUp();
    EXPECT_EQ(sqlite(db, "select name from rtp"), "239.255.0.0:8000");
}

TEST_F(ZvDBTest, Settings)
{
    ZvDB zv;
    zv.checkUpgrade();
    const int id = zv.setSetting("language", "English");
    EXPECT_GT(id, 0);
    EXPECT_EQ(zv.setSetting("language", "Deutsch"), 0);
    QString value = "untouched";
    EXPECT_EQ(zv.getSetting("absent", value), -1);
    EXPECT_EQ(value, "untouched");
    EXPECT_EQ(zv.getSetting("language", value), 0);
    EXPECT_EQ(value, "Deutsch");
    EXPECT_EQ(zv.setSetting("empty", ""), id + 1);
    EXPECT_EQ(zv.getSetting("empty", value), 0);
    EXPECT_EQ(value, "");
}

TEST_F(ZvDBTest, ChannelRoundTripKeepsEveryColumn)
{
    ZvDB zv;
    zv.checkUpgrade();
    const RtpInfo original = fullChannel();
    const ZvRtp row = ZvDB::toZvRtp(original);
    EXPECT_EQ(row.playlist, "/no/such/file.mp3\n/music/b b.wav");
    EXPECT_EQ(row.scheduleItems, "1;0;16;07:00:00;30;2\n2;0;0;08:30:00;30;2");
    const int id = zv.insertZvRtp(row);
    ASSERT_GT(id, 0);

    ZvRtp read;
    ASSERT_EQ(zv.getZvRtpById(id, read), 0);
    RtpInfo back = ZvDB::toRtpInfo(read);
    RtpInfo expected = original;
    expected.id = id;
    EXPECT_EQ(back, expected);
    EXPECT_EQ(back.playlist.size(), 2); // a missing file stays in the list
    EXPECT_EQ(sqlite(file("zv.db"), QStringLiteral("select sortIndex, typeof(sortIndex), sipPort, "
                                                   "httpOutput from rtp where id=%1")
                                        .arg(id)),
              "1099511627776|integer|5060|1");

    // Update writes every column, and the id selects the row.
    RtpInfo changed = expected;
    changed.name = "Renamed";
    changed.codec = 5;
    changed.httpOutput = 0;
    changed.schedule.items.clear();
    EXPECT_EQ(zv.updateZvRtp(ZvDB::toZvRtp(changed)), 0);
    ASSERT_EQ(zv.getZvRtpById(id, read), 0);
    EXPECT_EQ(ZvDB::toRtpInfo(read), changed);

    EXPECT_EQ(zv.deleteZvRtp(read), 0);
    ZvRtp none;
    none.name = "kept";
    EXPECT_EQ(zv.getZvRtpById(id, none), 0);
    EXPECT_EQ(none.name, "kept");
    EXPECT_EQ(none.id, 0);
}

TEST_F(ZvDBTest, UpdateAndDeleteOfAMissingRowSucceedAndAreLogged)
{
    ZvDB zv;
    zv.checkUpgrade();
    ZvRtp ghost;
    ghost.id = 77;
    EXPECT_EQ(zv.updateZvRtp(ghost), 0);
    EXPECT_EQ(zv.deleteZvRtp(ghost), 0);
    EXPECT_EQ(zv.topZvRtpById(77), 0);
    int logged = 0;
    for (const QString& line : logLines())
        logged += line.contains("no channel with id 77");
    EXPECT_EQ(logged, 3);
    EXPECT_TRUE(zv.getZvRtps().isEmpty());
}

TEST_F(ZvDBTest, MoveToTopTwiceInOneSecondOrdersTheLaterFirst)
{
    ZvDB zv;
    zv.checkUpgrade();
    const int a = zv.insertZvRtp(ZvRtp());
    const int b = zv.insertZvRtp(ZvRtp());
    const int c = zv.insertZvRtp(ZvRtp());
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    ASSERT_EQ(zv.topZvRtpById(b), 0);
    ASSERT_EQ(zv.topZvRtpById(a), 0);
    QVector<RtpInfo> list = ZvDB::toRtpInfos(zv.getZvRtps());
    std::sort(list.begin(), list.end());
    ASSERT_EQ(list.size(), 3);
    EXPECT_EQ(list[0].id, a);
    EXPECT_EQ(list[1].id, b);
    EXPECT_EQ(list[2].id, c);
    EXPECT_GE(list[1].sortIndex, now);
    EXPECT_GT(list[0].sortIndex, list[1].sortIndex);
}

TEST_F(ZvDBTest, RowsWithoutAPositiveIdAreNotListed)
{
    startUp();
    sqlite(file("zv.db"), "insert into rtp(id, name) values(0, 'zero'), (-4, 'negative')");
    ZvDB zv;
    const QVector<ZvRtp> rows = zv.getZvRtps();
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].name, "239.255.0.0:8000");
}

TEST_F(ZvDBTest, MalformedRowsReadWithoutHarm)
{
    startUp();
    sqlite(file("zv.db"),
           "delete from rtp;"
           "insert into rtp(id, sortIndex, name, codec, volume, source, playlist, deviceType, "
           "scheduleItems, sipPort, httpApi) values"
           "(1, 'soon', x'ff00fe', 'abc', 1.5, 1099511627776, x'2f612e6d7033', -7, "
           "'a;b;c;d;e;f;g\n\n1;2', 5060, 9e300),"
           "(2, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL),"
           "(3, 9.5e30, '', '', '', '', '', '', '', '', '')");
    ZvDB zv;
    const QVector<ZvRtp> rows = zv.getZvRtps();
    ASSERT_EQ(rows.size(), 3);
    EXPECT_EQ(rows[0].sortIndex, 0);
    EXPECT_EQ(rows[0].codec, 0);
    EXPECT_EQ(rows[0].volume, 1);
    EXPECT_EQ(rows[0].source, 0); // does not fit 32 bits
    EXPECT_EQ(rows[0].playlist, "/a.mp3");
    EXPECT_EQ(rows[0].deviceType, -7);
    EXPECT_EQ(rows[0].sipPort, "5060");
    EXPECT_EQ(rows[0].httpApi, 0);
    EXPECT_EQ(rows[1].name, "");
    EXPECT_EQ(rows[2].sortIndex, 0);
    const QVector<RtpInfo> infos = ZvDB::toRtpInfos(rows);
    ASSERT_EQ(infos.size(), 3);
    EXPECT_EQ(infos[0].schedule.items.size(), 2);
    EXPECT_TRUE(infos[1].playlist.isEmpty());
}

TEST_F(ZvDBTest, AnUnusableFolderGivesFailuresNotCrashes)
{
    ASSERT_TRUE(writeFile(root() + "/plain-file", "x"));
    VDB::setDataRoot(root() + "/plain-file");
    ZvDB zv;
    EXPECT_FALSE(zv.isOpen());
    EXPECT_FALSE(zv.checkUpgrade());
    zv.initDefaults();
    QString value;
    EXPECT_EQ(zv.getSetting("sip port", value), -1);
    EXPECT_EQ(zv.setSetting("sip port", "1"), -1);
    EXPECT_TRUE(zv.getZvRtps().isEmpty());
    EXPECT_EQ(zv.insertZvRtp(ZvRtp()), -1);
    EXPECT_EQ(zv.topZvRtpById(1), -1);
    EXPECT_FALSE(ZvDB::exportTo(root() + "/out.db"));
}

// Two threads, each with its own short-lived objects, add, list, update, move to the top and
// delete channels at once; every operation succeeds and nothing of the other thread is touched.
TEST_F(ZvDBTest, ChannelsFromTwoThreadsAtOnce)
{
    startUp();
    std::atomic<int> failures{0};
    auto worker = [&failures](int thread) {
        const QString prefix = QStringLiteral("t%1-").arg(thread);
        for (int i = 0; i < 40; ++i) {
            ZvRtp rtp;
            rtp.name = prefix + QString::number(i);
            rtp.address = QStringLiteral("127.0.0.1:%1").arg(5000 + i);
            int id;
            {
                ZvDB zv;
                id = zv.insertZvRtp(rtp);
            }
            if (id <= 0) {
                ++failures;
                continue;
            }
            ZvDB zv;
            rtp.id = id;
            rtp.volume = i;
            failures += zv.updateZvRtp(rtp) != 0;
            failures += zv.topZvRtpById(id) != 0;
            ZvRtp read;
            failures += zv.getZvRtpById(id, read) != 0 || read.volume != i || read.name != rtp.name;
            failures += zv.getZvRtps().isEmpty();
            if (i % 2 == 1)
                failures += zv.deleteZvRtp(rtp) != 0;
            failures += zv.setSetting(prefix + "last", QString::number(i)) < 0;
        }
    };
    std::thread a(worker, 1);
    std::thread b(worker, 2);
    a.join();
    b.join();
    EXPECT_EQ(failures.load(), 0);
    const QString db = file("zv.db");
    EXPECT_EQ(sqlite(db, "select count(*) from rtp where name like 't1-%'"), "20");
    EXPECT_EQ(sqlite(db, "select count(*) from rtp where name like 't2-%'"), "20");
    EXPECT_EQ(sqlite(db, "select count(distinct sortIndex) from rtp where name like 't%'"), "40");
    EXPECT_EQ(sqlite(db, "select value from settings where key='t2-last'"), "39");
}

// Both threads write the same new keys at the same moments: a key that one thread inserts
// between the other's look-up and insert must still end as one row, and no write may fail.
TEST_F(ZvDBTest, SameNewSettingFromTwoThreads)
{
    startUp();
    const int keys = 100;
    std::atomic<int> failures{0};
    std::atomic<int> arrived{0};
    auto worker = [&](int thread) {
        ZvDB zv;
        for (int i = 0; i < keys; ++i) {
            // Meet the other thread before each key.
            ++arrived;
            while (arrived.load() < 2 * (i + 1))
                std::this_thread::yield();
            failures += zv.setSetting(QStringLiteral("shared %1").arg(i), QString::number(thread)) < 0;
        }
    };
    std::thread a(worker, 1);
    std::thread b(worker, 2);
    a.join();
    b.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(sqlite(file("zv.db"), "select count(*) from settings where key like 'shared %'"),
              QString::number(keys));
}

class Reopener : public ZvDBObserver
{
public:
    void onImportBegin() override
    {
        events.append("begin");
        db.reset();
    }
    void onImportEnd() override
    {
        events.append("end");
        db = std::make_unique<ZvDB>();
    }
    std::unique_ptr<ZvDB> db = std::make_unique<ZvDB>();
    QStringList events;
};

class ObserverScope
{
public:
    explicit ObserverScope(ZvDBObserver* observer) : m_observer(observer)
    {
        ZvDB::addObserver(observer);
    }
    ~ObserverScope() { ZvDB::removeObserver(m_observer); }

private:
    ZvDBObserver* m_observer;
};

TEST_F(ZvDBTest, ObserversCloseAroundAnUpgrade)
{
    makeOldChannelDb(file("zv.db"));
    Reopener observer;
    ObserverScope scope(&observer);
    {
        ZvDB zv;
        EXPECT_TRUE(zv.checkUpgrade());
    }
    EXPECT_EQ(observer.events, (QStringList{"begin", "end"}));
    ASSERT_TRUE(observer.db && observer.db->isOpen());
    EXPECT_EQ(observer.db->getZvRtps().size(), 3);
    EXPECT_EQ(observer.db->insertZvRtp(ZvRtp()), 10);
    {
        ZvDB zv;
        EXPECT_FALSE(zv.checkUpgrade()); // current: nobody is disturbed
    }
    EXPECT_EQ(observer.events.size(), 2);
}

TEST_F(ZvDBTest, ExportThenImportRestoresChannelsAndSettings)
{
    startUp();
    int second;
    {
        ZvDB zv;
        zv.insertZvRtp(ZvDB::toZvRtp(fullChannel()));
        second = zv.insertZvRtp(ZvRtp());
        zv.setSetting("language", "English");
        ZvRtp gone;
        gone.id = second;
        zv.deleteZvRtp(gone);
        second = zv.insertZvRtp(ZvDB::toZvRtp(fullChannel())); // an id after a gap
    }
    const QString exported = root() + "/backup.db";
    ASSERT_TRUE(writeFile(exported, "an older export"));
    const QString live = file("zv.db");
    const QString liveBefore = sqlite(live, "select * from rtp order by id; select * from settings");
    const QByteArray liveDigest = digest(live);
    ASSERT_TRUE(ZvDB::exportTo(exported));
    EXPECT_EQ(digest(live), liveDigest);
    EXPECT_EQ(sqlite(exported, "select name, version from vdb_version"), "zv|1.0.3");
    EXPECT_EQ(sqlite(exported, "select * from rtp order by id; select * from settings"), liveBefore);
    EXPECT_FALSE(QFileInfo::exists(exported + ".export"));

    // Change everything, then bring the export back while an observer holds a connection.
    {
        ZvDB zv;
        for (const ZvRtp& rtp : zv.getZvRtps())
            zv.deleteZvRtp(rtp);
        zv.setSetting("language", "Deutsch");
        zv.setSetting("extra", "1");
    }
    Reopener observer;
    ObserverScope scope(&observer);
    EXPECT_TRUE(ZvDB::importFrom(exported));
    EXPECT_EQ(observer.events, (QStringList{"begin", "end"}));
    EXPECT_EQ(sqlite(live, "select * from rtp order by id; select * from settings"), liveBefore);
    ZvRtp read;
    ASSERT_EQ(observer.db->getZvRtpById(second, read), 0);
    EXPECT_EQ(read.id, second);
    QString value;
    EXPECT_EQ(observer.db->getSetting("language", value), 0);
    EXPECT_EQ(value, "English");
    EXPECT_EQ(folderEntries(), QStringList{"zv.db"});
}

TEST_F(ZvDBTest, ExportOntoTheLiveFileIsRefused)
{
    startUp();
    const QString live = file("zv.db");
    const QByteArray before = digest(live);
    EXPECT_FALSE(ZvDB::exportTo(live));
    EXPECT_FALSE(ZvDB::exportTo(folder() + "/../database/./zv.db"));
    EXPECT_FALSE(ZvDB::exportTo(root()));
    EXPECT_EQ(digest(live), before);
    EXPECT_EQ(folderEntries(), QStringList{"zv.db"});
}

TEST_F(ZvDBTest, ImportOfAFileThatIsNotOursIsRefusedAndChangesNothing)
{
    startUp();
    {
        ZvDB zv;
        zv.setSetting("language", "English");
    }
    const QString foreign = root() + "/foreign.db";
    sqlite(foreign, "create table songs(id integer primary key, title text); insert into "
                    "songs(title) values('a')");
    const QString log = root() + "/log.db";
    sqlite(log, "create table alog(id integer primary key, volume integer); insert into "
                "alog(volume) values(1)");
    const QString badRows = root() + "/badrows.db";
    sqlite(badRows, "create table rtp(id text, name text); insert into rtp values('abc', 'x')");
    const QString otherShape = root() + "/othershape.db";
    sqlite(otherShape, "create table settings(a, b); insert into settings values(1, 2)");
    ASSERT_TRUE(writeFile(root() + "/text.txt", "hello\nthis is not a database\n"));
    ASSERT_TRUE(writeFile(root() + "/empty.db", ""));
    ASSERT_TRUE(writeFile(root() + "/header.db", QByteArray("SQLite format 3\0", 16) +
                                                    QByteArray(1000, '\x7f')));

    const QString live = file("zv.db");
    const QByteArray before = digest(live);
    for (const QString& source :
         {root() + "/text.txt", root() + "/empty.db", root() + "/header.db", foreign, log, badRows,
          otherShape, root() + "/missing.db", root()}) {
        Reopener observer;
        ObserverScope scope(&observer);
        EXPECT_FALSE(ZvDB::importFrom(source)) << qPrintable(source);
        EXPECT_EQ(observer.events, (QStringList{"begin", "end"})) << qPrintable(source);
        EXPECT_EQ(digest(live), before) << qPrintable(source);
        QString value;
        EXPECT_EQ(observer.db->getSetting("language", value), 0);
    }
    EXPECT_EQ(folderEntries(), QStringList{"zv.db"});
    EXPECT_EQ(QFileInfo(root() + "/empty.db").size(), 0); // the source is only read
}

// A connection to the live file that does not close when told (no observer) keeps the import
// out: the import is refused, the live file and the connection's view of it stay as they were,
// and the copy built for the import goes.
TEST_F(ZvDBTest, ImportIsRefusedWhileAConnectionStaysOpen)
{
    startUp();
    {
        ZvDB zv;
        zv.setSetting("language", "English");
    }
    const QString exported = root() + "/backup.db";
    ASSERT_TRUE(ZvDB::exportTo(exported));
    const QString live = file("zv.db");
    ZvDB holder; // never closes during the import
    ASSERT_GE(holder.setSetting("language", "Deutsch"), 0);
    const QByteArray before = digest(live);
    EXPECT_FALSE(ZvDB::importFrom(exported));
    EXPECT_EQ(digest(live), before);
    QString value;
    EXPECT_EQ(holder.getSetting("language", value), 0);
    EXPECT_EQ(value, "Deutsch");
    EXPECT_TRUE(logLines().filter("is still in use").size() == 1) << logLines().join('\n').toStdString();
    EXPECT_EQ(folderEntries(), QStringList{"zv.db"});
}

TEST_F(ZvDBTest, ImportOfAFileWithoutOneTableGivesThatTableEmpty)
{
    startUp();
    const QString source = root() + "/settings-only.db";
    sqlite(source, "create table settings(id integer primary key autoincrement, key text unique, "
                   "value text); insert into settings(key, value) values('http port', '8080')");
    ASSERT_TRUE(ZvDB::importFrom(source));
    ZvDB zv;
    EXPECT_TRUE(zv.getZvRtps().isEmpty());
    QString port;
    EXPECT_EQ(zv.getSetting("http port", port), 0);
    EXPECT_EQ(port, "8080");
    EXPECT_EQ(sqlite(file("zv.db"), "select name, version from vdb_version"), "zv|1.0.3");
}

} // namespace
