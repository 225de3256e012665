#include "DbFixture.h"
#include "VDBHelper.h"
#include "ZvDBLog.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace {

using ZvDBLogTest = DbFixture;

ZvLog row(const QString& address, const QString& dateTime, int action = 0)
{
    ZvLog log;
    log.volume = 60;
    log.rtpId = 3;
    log.rtpAddress = address;
    log.action = action;
    log.source = 247;
    log.type = 6;
    log.codec = 3;
    log.dateTime = dateTime;
    return log;
}

QVector<int> ids(const QVector<ZvLog>& rows)
{
    QVector<int> list;
    for (const ZvLog& r : rows)
        list.append(r.id);
    return list;
}

TEST(ZvDBLogFilterTest, ClauseTextAndOrder)
{
    const struct
    {
        const char* address;
        const char* start;
        const char* end;
        const char* clause;
    } cases[] = {
        {"", "", "", ""},
        {"a", "", "", " rtpAddress=:rtpAddress"},
        {"", "", "e", " dateTime <= :endTime"},
        {"", "s", "e", " dateTime >= :startTime and dateTime <= :endTime"},
        {"a", "", "e", " rtpAddress=:rtpAddress and dateTime <= :endTime"},
        {"a", "s", "e", " rtpAddress=:rtpAddress and dateTime >= :startTime and dateTime <= :endTime"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ZvDBLog::buildFilter(c.address, c.start, c.end), QString::fromLatin1(c.clause));
}

TEST_F(ZvDBLogTest, FirstRunCreatesTheExactTableInItsFolder)
{
    ASSERT_FALSE(QFileInfo::exists(folder()));
    {
        ZvDBLog log;
        EXPECT_TRUE(log.checkUpgrade());
    }
    EXPECT_EQ(sqlite(file("zvlog.db"), ".schema alog"), schemaText(ZvDBLog::kCreateTable));
    EXPECT_EQ(sqlite(file("zvlog.db"), "select name, version from vdb_version"), "TABLE|1.0.1");

    // An existing folder and what it holds stay as they are.
    ASSERT_TRUE(writeFile(file("keep.txt"), "keep"));
    ZvDBLog again;
    EXPECT_EQ(again.path(), file("zvlog.db"));
    EXPECT_EQ(folderEntries(), (QStringList{"keep.txt", "zvlog.db"}));
}

TEST_F(ZvDBLogTest, InsertsGetConsecutiveIdsAndListNewestFirst)
{
    ZvDBLog log;
    log.checkUpgrade();
    EXPECT_EQ(log.getLogsCount("", "", ""), 0);
    EXPECT_TRUE(log.getLogs(0, 50, "", "", "").isEmpty());
    const int first = log.insertLog(row("127.0.0.1:5004", "2024-05-01 10:00:00", 0));
    const int second = log.insertLog(row("127.0.0.1:5004", "2024-05-01 10:00:05", 1));
    EXPECT_GT(first, 0);
    EXPECT_EQ(second, first + 1);
    const QVector<ZvLog> rows = log.getLogs(0, 50, "", "", "");
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0].id, second);
    EXPECT_EQ(rows[0].action, 1);
    EXPECT_EQ(rows[1].id, first);
    EXPECT_EQ(rows[1].volume, 60);
    EXPECT_EQ(rows[1].rtpId, 3);
    EXPECT_EQ(rows[1].rtpAddress, "127.0.0.1:5004");
    EXPECT_EQ(rows[1].source, 247);
    EXPECT_EQ(rows[1].type, 6);
    EXPECT_EQ(rows[1].codec, 3);
    EXPECT_EQ(rows[1].dateTime, "2024-05-01 10:00:00");
}

TEST_F(ZvDBLogTest, FiltersSelectTheRightRows)
{
    ZvDBLog log;
    log.checkUpgrade();
    // ids 1..6
    log.insertLog(row("A:1", "2024-05-01 08:00:00"));
    log.insertLog(row("B:2", "2024-05-01 09:00:00"));
    log.insertLog(row("A:1", "2024-05-01 10:00:00"));
    log.insertLog(row("A:1", "2024-05-02 00:00:00"));
    log.insertLog(row("B:2", "2024-05-02 12:00:00"));
    log.insertLog(row("A:1", "2024-05-03 01:00:00"));
    const struct
    {
        const char* address;
        const char* start;
        const char* end;
        QVector<int> expected;
    } cases[] = {
        {"", "", "", {6, 5, 4, 3, 2, 1}},
        {"A:1", "", "", {6, 4, 3, 1}},
        {"", "", "2024-05-01 10:00:00", {3, 2, 1}},
        {"", "2024-05-01 09:00:00", "2024-05-02 12:00:00", {5, 4, 3, 2}},
        {"A:1", "2024-05-01 09:00:00", "2024-05-02 12:00:00", {4, 3}},
        {"C:3", "", "", {}},
        // A bare date sorts before every time of that day.
        {"", "", "2024-05-02", {3, 2, 1}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ids(log.getLogs(0, 50, c.address, c.start, c.end)), c.expected)
            << c.address << " " << c.start << " " << c.end;
        EXPECT_EQ(log.getLogsCount(c.address, c.start, c.end), c.expected.size());
    }
    // Quotes in a filter are data, not SQL.
    EXPECT_TRUE(log.getLogs(0, 50, "' or 1=1 --", "", "").isEmpty());
}

TEST_F(ZvDBLogTest, PagesAndLimits)
{
    ZvDBLog log;
    log.checkUpgrade();
    sqlite(file("zvlog.db"), "with recursive n(i) as (select 1 union all select i + 1 from n where "
                             "i < 200) insert into alog(rtpAddress, dateTime) select 'A:1', "
                             "'2024-05-01 00:00:00' from n");
    const QVector<ZvLog> page = log.getLogs(100, 50, "", "", "");
    ASSERT_EQ(page.size(), 50);
    EXPECT_EQ(page.first().id, 100);
    EXPECT_EQ(page.last().id, 51);
    EXPECT_EQ(log.getLogs(180, 50, "A:1", "", "").size(), 20);
    EXPECT_TRUE(log.getLogs(200, 50, "", "", "").isEmpty());
    // A negative limit would be "every row"; it reads one.
    EXPECT_EQ(ids(log.getLogs(0, -1, "", "", "")), QVector<int>{200});
    EXPECT_EQ(ids(log.getLogs(-5, 1, "", "", "")), QVector<int>{200});
}

TEST_F(ZvDBLogTest, HundredThousandRowsPageDeepWithAFilter)
{
    ZvDBLog log;
    log.checkUpgrade();
    // Every 20th row belongs to another channel; one row a second.
    sqlite(file("zvlog.db"),
           "with recursive n(i) as (select 1 union all select i + 1 from n where i < 100000) "
           "insert into alog(volume, rtpId, rtpAddress, action, source, type, codec, dateTime) "
           "select 50, 1, case when i % 20 = 0 then '10.0.0.2:5004' else '10.0.0.1:5004' end, "
           "i % 2, 1, 1, 3, datetime('2024-01-01 00:00:00', '+' || i || ' seconds') from n");
    EXPECT_EQ(log.getLogsCount("", "", ""), 100000);
    EXPECT_EQ(log.getLogsCount("10.0.0.1:5004", "", ""), 95000);

    // Newest first: the k-th row (from 0) of the busy channel, counting from the newest id
    // 99999 down and skipping multiples of 20.
    QVector<int> expected;
    int skipped = 0;
    for (int id = 100000; id > 0 && expected.size() < 50; --id) {
        if (id % 20 == 0)
            continue;
        if (skipped++ >= 90000)
            expected.append(id);
    }
    const QVector<ZvLog> page = log.getLogs(90000, 50, "10.0.0.1:5004", "", "");
    EXPECT_EQ(ids(page), expected);
    ASSERT_FALSE(page.isEmpty());
    EXPECT_EQ(page.first().rtpAddress, "10.0.0.1:5004");

    // A time window: ids 10001..90000 lie within it, newest first.
    const QVector<ZvLog> window =
        log.getLogs(79950, 100, "", "2024-01-01 02:46:41", "2024-01-02 01:00:00");
    ASSERT_EQ(window.size(), 50);
    EXPECT_EQ(window.first().id, 10050);
    EXPECT_EQ(window.last().id, 10001);
    EXPECT_EQ(log.getLogsCount("", "2024-01-01 02:46:41", "2024-01-02 01:00:00"), 80000);

    // This connection now holds the whole log in its cache: rows that another writer adds or
    // changes afterwards, at the end and in the middle of the file, are seen by the next query.
    sqlite(file("zvlog.db"),
           "insert into alog(rtpAddress, dateTime) values('10.0.0.1:5004', '2024-01-02 12:00:00');"
           "update alog set rtpAddress = '10.0.0.3:5004', dateTime = '2023-12-31 23:59:59' "
           "where id = 50001");
    EXPECT_EQ(log.getLogsCount("", "", ""), 100001);
    EXPECT_EQ(log.getLogsCount("10.0.0.1:5004", "", ""), 95000);
    EXPECT_EQ(ids(log.getLogs(0, 2, "10.0.0.1:5004", "", "")), (QVector<int>{100001, 99999}));
    EXPECT_EQ(ids(log.getLogs(0, 50, "10.0.0.3:5004", "", "2024-01-01 00:00:00")), QVector<int>{50001});
    EXPECT_EQ(log.getLogsCount("", "2024-01-01 02:46:41", "2024-01-02 01:00:00"), 79999);
}

TEST_F(ZvDBLogTest, AnExistingLogIsReadWithoutAByteOfItChanging)
{
    // A log as an earlier run left it, written by another program: opening it, checking its
    // version, counting and paging it leave the file as it was.
    const QString log = file("zvlog.db");
    ASSERT_TRUE(QDir().mkpath(folder()));
    sqlite(log, QString::fromLatin1(ZvDBLog::kCreateTable) + VDBHelper::kCreateVersionTable +
                    ";insert into vdb_version(name, version) values('TABLE', '1.0.1');"
                    "with recursive n(i) as (select 1 union all select i + 1 from n where i < 3000) "
                    "insert into alog(volume, rtpId, rtpAddress, action, source, type, codec, dateTime) "
                    "select 50, 1, '10.0.0.' || (1 + i % 3) || ':5004', i % 2, 1, 1, 3, "
                    "datetime('2024-01-01 00:00:00', '+' || i || ' minutes') from n");
    const QByteArray before = digest(log);
    ASSERT_FALSE(before.isEmpty());
    {
        ZvDBLog reader;
        EXPECT_FALSE(reader.checkUpgrade());
        EXPECT_EQ(reader.getLogsCount("", "", ""), 3000);
        EXPECT_EQ(reader.getLogsCount("10.0.0.2:5004", "2024-01-01 00:00:00", "2024-01-01 23:59:59"),
                  480);
        EXPECT_EQ(ids(reader.getLogs(2990, 50, "", "", "")),
                  (QVector<int>{10, 9, 8, 7, 6, 5, 4, 3, 2, 1}));
        EXPECT_EQ(ids(reader.getLogs(0, 3, "10.0.0.2:5004", "", "2024-01-01 01:00:00")),
                  (QVector<int>{58, 55, 52}));
    }
    EXPECT_EQ(digest(log), before);
}

TEST_F(ZvDBLogTest, MissingTableFailsWithALoggedStatement)
{
    ZvDBLog log; // no version check: the file has no table
    ASSERT_TRUE(log.isOpen());
    EXPECT_EQ(log.insertLog(row("A:1", "2024-05-01 08:00:00")), -1);
    EXPECT_TRUE(log.getLogs(0, 50, "A:1", "", "").isEmpty());
    EXPECT_EQ(log.getLogsCount("", "", ""), 0);
    bool logged = false;
    for (const QString& line : logLines()) {
        logged = logged || (line.contains("ZvDBLog::insertLog: insert into alog(volume,rtpId,"
                                          "rtpAddress,action,source,type,codec,dateTime)") &&
                            line.contains("no such table: alog"));
    }
    EXPECT_TRUE(logged);
}

TEST_F(ZvDBLogTest, MalformedRowsReadWithoutHarm)
{
    ZvDBLog log;
    log.checkUpgrade();
    sqlite(file("zvlog.db"),
           "insert into alog(id, volume, rtpId, rtpAddress, action, source, type, codec, dateTime) "
           "values(1, 'loud', x'00', 42, 1e100, NULL, -3, 2.9, x'c328'),"
           "(0, 1, 1, 'zero id', 0, 0, 0, 0, ''), (-2, 1, 1, 'negative id', 0, 0, 0, 0, '')");
    const QVector<ZvLog> rows = log.getLogs(0, 50, "", "", "");
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].volume, 0);
    EXPECT_EQ(rows[0].rtpId, 0);
    EXPECT_EQ(rows[0].rtpAddress, "42");
    EXPECT_EQ(rows[0].action, 0);
    EXPECT_EQ(rows[0].source, 0);
    EXPECT_EQ(rows[0].type, -3);
    EXPECT_EQ(rows[0].codec, 2);
    EXPECT_EQ(log.getLogsCount("", "", ""), 3);
}

} // namespace
