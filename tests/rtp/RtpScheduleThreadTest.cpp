#include "RtpInfo.h"
#include "RtpManagerControl.h"
#include "RtpScheduleClock.h"
#include "RtpScheduleThread.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QStringList>
#include <QTimeZone>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <ostream>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kChannel = 7;

// The channel manager as the scheduler sees it: every start and stop, stamped with the wall
// clock of the pass that made it, as "yyyy-MM-dd HH:mm:ss start|stop <source> <trigger>".
class RtpScheduleRecorder : public RtpManagerControl
{
public:
    int getRtpInfo(int id, RtpInfo& out) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        out = RtpInfo();
        if (known.count(id)) {
            out.id = id;
            out.name = QStringLiteral("channel %1").arg(id);
        }
        return 0;
    }
    int startRtpInfo(const RtpInfo& info, int source, int startedType) override
    {
        record(info, "start", source, startedType);
        return 0;
    }
    int stopRtpInfo(const RtpInfo& info, int source, int startedType) override
    {
        record(info, "stop", source, startedType);
        return 0;
    }

    QStringList calls()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_calls;
    }
    // One call a line, for readable failures.
    std::string text() { return calls().join(QLatin1Char('\n')).toStdString(); }

    // Set by the test before each pass.
    qint64 nowUtcMs = 0;
    bool withOffsets = false;
    std::set<int> known{kChannel};

    static QString stamp(qint64 utcMs, bool withOffset)
    {
        const QDateTime local = QDateTime::fromMSecsSinceEpoch(utcMs, Qt::LocalTime);
        QString text = local.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        if (withOffset) {
            const int offset = local.offsetFromUtc();
            text += QStringLiteral("%1%2:%3")
                        .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                        .arg(std::abs(offset) / 3600, 2, 10, QLatin1Char('0'))
                        .arg(std::abs(offset) % 3600 / 60, 2, 10, QLatin1Char('0'));
        }
        return text;
    }

private:
    void record(const RtpInfo& info, const char* what, int source, int trigger)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls.append(QStringLiteral("%1 %2 %3 %4 (channel %5)")
                           .arg(stamp(nowUtcMs, withOffsets), QLatin1String(what))
                           .arg(source)
                           .arg(trigger)
                           .arg(info.id));
    }

    std::mutex m_mutex;
    QStringList m_calls;
};

// The process's time zone for one test: the schedules' wall clock is the local one.
class ScopedTimeZone
{
public:
    explicit ScopedTimeZone(const char* zone)
    {
        const char* old = std::getenv("TZ");
        m_had = old != nullptr;
        if (m_had)
            m_old = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ScopedTimeZone()
    {
        if (m_had)
            setenv("TZ", m_old.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    bool m_had = false;
    std::string m_old;
};

struct Schedule
{
    int repeat = 1;
    const char* value = "";
    // Storage lines "type;argument;source;startTime;duration;durationUnit".
    std::vector<const char*> items;
    int status = 1;

    RtpInfo channel(int id) const
    {
        RtpInfo info;
        info.id = id;
        info.name = QStringLiteral("channel %1").arg(id);
        info.schedule.status = status;
        info.schedule.repeat = repeat;
        info.schedule.value = QString::fromLatin1(value);
        for (const char* line : items)
            info.schedule.items.append(RtpScheduleItem::fromString(QString::fromLatin1(line)));
        return info;
    }
};

// One row: the channel's schedule is handed over before the first step; each step is one pass
// ("yyyy-MM-dd HH:mm:ss", with "+hh:mm" where the wall clock shows an hour twice), a run of
// passes ("A .. B / seconds"), one pass a day at a time ("each D1 .. D2 at HH:mm:ss"), or a
// change handed to the scheduler before the next pass: "rename" (the same schedule again),
// "edit" (the row's edited schedule), "disable", "remove", "remove other" (a channel without a
// schedule).
struct Row
{
    const char* name;
    Schedule schedule;
    std::vector<const char*> steps;
    std::vector<const char*> expected;
    Schedule edited = {};
    bool withOffsets = false;  // the calls carry the wall clock's UTC offset
    int invalidLogLines = 0;   // "never runs" lines expected
    bool channelKnown = true;  // the manager has the channel
};

std::ostream& operator<<(std::ostream& out, const Row& row)
{
    return out << row.name;
}

qint64 instant(const QString& text)
{
    QDateTime at = QDateTime::fromString(QString(text).replace(QLatin1Char(' '), QLatin1Char('T')), Qt::ISODate);
    EXPECT_TRUE(at.isValid()) << text.toStdString();
    return at.toMSecsSinceEpoch();
}

// The instants of the passes of one step; empty for a change.
std::vector<qint64> passes(const QString& step)
{
    std::vector<qint64> out;
    if (step.startsWith(QLatin1String("each "))) {
        const QStringList parts = step.mid(5).split(QLatin1Char(' '), Qt::SkipEmptyParts); // D1 .. D2 at T
        const QDate first = QDate::fromString(parts.value(0), Qt::ISODate);
        const QDate last = QDate::fromString(parts.value(2), Qt::ISODate);
        const QTime time = QTime::fromString(parts.value(4), QStringLiteral("HH:mm:ss"));
        EXPECT_TRUE(first.isValid() && last.isValid() && time.isValid()) << step.toStdString();
        for (QDate day = first; day.isValid() && day <= last; day = day.addDays(1))
            out.push_back(QDateTime(day, time, Qt::LocalTime).toMSecsSinceEpoch());
        return out;
    }
    const int dots = step.indexOf(QLatin1String(" .. "));
    if (dots < 0) {
        out.push_back(instant(step));
        return out;
    }
    const int slash = step.indexOf(QLatin1String(" / "));
    const qint64 from = instant(step.left(dots));
    const qint64 to = instant(step.mid(dots + 4, slash - dots - 4));
    const qint64 every = step.mid(slash + 3).toLongLong() * 1000;
    EXPECT_GT(every, 0) << step.toStdString();
    for (qint64 at = from; every > 0 && at <= to; at += every)
        out.push_back(at);
    return out;
}

int g_invalidLines = 0;
QtMessageHandler g_previousHandler = nullptr;

void countInvalid(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (message.contains(QLatin1String("never runs")))
        ++g_invalidLines;
    if (g_previousHandler)
        g_previousHandler(type, context, message);
}

// Items used below.
const char* const kBellAt8 = "1;0;32;08:00:00;0;0";            // start the bell, no limit
const char* const kPlaylist8For30Min = "1;0;1;08:00:00;30;2";   // start the playlist for 30 min
const char* const kStopAt12 = "2;0;0;12:00:00;0;0";

const Row kRows[] = {
    // Day tests.
    {"weekly 0 is Sunday", {2, "0;", {kBellAt8}}, {"each 2026-03-01 .. 2026-03-14 at 08:00:00"},
     {"2026-03-01 08:00:00 start 32 3", "2026-03-08 08:00:00 start 32 3"}},
    {"weekly 7 is Sunday", {2, "7;", {kBellAt8}}, {"each 2026-03-01 .. 2026-03-14 at 08:00:00"},
     {"2026-03-01 08:00:00 start 32 3", "2026-03-08 08:00:00 start 32 3"}},
    {"weekly Monday Wednesday Friday", {2, "1;3;5;", {kBellAt8}}, {"each 2026-03-01 .. 2026-03-14 at 08:00:00"},
     {"2026-03-02 08:00:00 start 32 3", "2026-03-04 08:00:00 start 32 3", "2026-03-06 08:00:00 start 32 3",
      "2026-03-09 08:00:00 start 32 3", "2026-03-11 08:00:00 start 32 3", "2026-03-13 08:00:00 start 32 3"}},
    {"weekly ignores what is not a day", {2, "x;;8;-1;3", {kBellAt8}}, {"each 2026-03-01 .. 2026-03-14 at 08:00:00"},
     {"2026-03-04 08:00:00 start 32 3", "2026-03-11 08:00:00 start 32 3"}},
    {"weekly without a day never runs", {2, "", {kBellAt8}}, {"each 2026-03-01 .. 2026-03-14 at 08:00:00"}, {}},
    {"monthly 15 and 31 skip the 30-day month's end", {3, "15;31;", {kBellAt8}},
     {"each 2026-04-01 .. 2026-06-01 at 08:00:00"},
     {"2026-04-15 08:00:00 start 32 3", "2026-05-15 08:00:00 start 32 3", "2026-05-31 08:00:00 start 32 3"}},
    {"monthly 0 is the 31st", {3, "0;", {kBellAt8}}, {"each 2026-02-01 .. 2026-06-01 at 08:00:00"},
     {"2026-03-31 08:00:00 start 32 3", "2026-05-31 08:00:00 start 32 3"}},
    {"monthly 29 in February only in a leap year", {3, "29;", {kBellAt8}},
     {"each 2027-02-20 .. 2027-03-02 at 08:00:00", "each 2028-02-20 .. 2028-03-02 at 08:00:00"},
     {"2028-02-29 08:00:00 start 32 3"}},
    {"once on its date only", {0, "2026-03-01", {kBellAt8}}, {"each 2026-02-27 .. 2026-03-03 at 08:00:00"},
     {"2026-03-01 08:00:00 start 32 3"}},
    {"once on a leap day", {0, "2028-02-29", {kBellAt8}}, {"each 2028-02-27 .. 2028-03-02 at 08:00:00"},
     {"2028-02-29 08:00:00 start 32 3"}},
    {"once with a date that does not parse", {0, "2026-02-30", {kBellAt8}},
     {"each 2026-02-27 .. 2026-03-03 at 08:00:00"}, {}},
    {"a repeat out of range never runs", {4, "", {kBellAt8}}, {"each 2026-03-01 .. 2026-03-03 at 08:00:00"}, {}},

    // Start and stop items.
    {"start item without limit runs each day and is never stopped", {1, "", {"1;0;1;06:00:00;0;0"}},
     {"2026-03-02 05:59:58 .. 2026-03-02 06:00:03 / 1", "2026-03-02 23:59:59", "2026-03-03 05:59:58 .. 2026-03-03 06:00:03 / 1"},
     {"2026-03-02 06:00:00 start 1 3", "2026-03-03 06:00:00 start 1 3"}},
    {"stop item stops every source once a day", {1, "", {kStopAt12}},
     {"2026-03-02 11:59:58 .. 2026-03-02 12:00:03 / 1", "2026-03-03 11:59:59 .. 2026-03-03 12:00:01 / 1"},
     {"2026-03-02 12:00:00 stop 247 3", "2026-03-03 12:00:00 stop 247 3"}},
    {"items of one time act in list order", {1, "", {"1;0;1;09:00:00;0;0", "2;0;0;09:00:00;0;0"}},
     {"2026-03-02 08:59:59 .. 2026-03-02 09:00:01 / 1"},
     {"2026-03-02 09:00:00 start 1 3", "2026-03-02 09:00:00 stop 247 3"}},
    {"an item that is neither start nor stop never acts", {1, "", {"3;0;1;09:00:00;0;0"}},
     {"2026-03-02 08:59:59 .. 2026-03-02 09:00:01 / 1"}, {}},
    {"a channel the manager does not have is skipped", {1, "", {kBellAt8}},
     {"2026-03-02 07:59:59 .. 2026-03-02 08:00:01 / 1"}, {}, {}, false, 0, false},

    // Windows.
    {"window started at its start and stopped after its end", {1, "", {kPlaylist8For30Min}},
     {"2026-03-02 07:59:00 .. 2026-03-02 08:31:00 / 1", "2026-03-03 07:59:59 .. 2026-03-03 08:00:01 / 1"},
     {"2026-03-02 08:00:00 start 1 3", "2026-03-02 08:30:01 stop 1 3", "2026-03-03 08:00:00 start 1 3"}},
    {"window first seen inside it starts late", {1, "", {kPlaylist8For30Min}},
     {"2026-03-02 08:10:00 .. 2026-03-02 08:31:00 / 1"},
     {"2026-03-02 08:10:00 start 1 3", "2026-03-02 08:30:01 stop 1 3"}},
    {"window first seen after it waits for the next day", {1, "", {kPlaylist8For30Min}},
     {"2026-03-02 08:40:00 .. 2026-03-02 08:41:00 / 1", "2026-03-03 08:00:00"}, {"2026-03-03 08:00:00 start 1 3"}},
    {"window across midnight", {1, "", {"1;0;1;23:30:00;1;1"}},
     {"2026-03-10 23:29:59 .. 2026-03-11 00:30:02 / 1"},
     {"2026-03-10 23:30:00 start 1 3", "2026-03-11 00:30:01 stop 1 3"}},
    {"window across midnight first seen after midnight", {1, "", {"1;0;1;23:30:00;1;1"}},
     {"2026-03-11 00:10:00 .. 2026-03-11 00:30:02 / 1"},
     {"2026-03-11 00:10:00 start 1 3", "2026-03-11 00:30:01 stop 1 3"}},
    {"window of 25 hours", {0, "2026-03-10", {"1;0;1;10:00:00;25;1"}},
     {"2026-03-10 09:59:59 .. 2026-03-10 10:00:01 / 1", "2026-03-11 00:00:01", "2026-03-11 10:00:00",
      "2026-03-11 10:59:59 .. 2026-03-11 11:00:02 / 1"},
     {"2026-03-10 10:00:00 start 1 3", "2026-03-11 11:00:01 stop 1 3"}},
    {"window in seconds", {1, "", {"1;0;16;08:00:00;90;3"}}, {"2026-03-02 07:59:59 .. 2026-03-02 08:01:31 / 1"},
     {"2026-03-02 08:00:00 start 16 3", "2026-03-02 08:01:31 stop 16 3"}},

    // Re-firing.
    {"first build in the afternoon does not replay the morning", {1, "", {kBellAt8, kStopAt12}},
     {"2026-03-02 15:00:00 .. 2026-03-02 15:00:05 / 1", "2026-03-03 07:59:59 .. 2026-03-03 08:00:01 / 1",
      "2026-03-03 12:00:00"},
     {"2026-03-03 08:00:00 start 32 3", "2026-03-03 12:00:00 stop 247 3"}},
    {"first build a minute late still acts, later not", {1, "", {"2;0;0;14:59:00;0;0", "2;0;0;14:58:59;0;0"}},
     {"2026-03-02 15:00:00 .. 2026-03-02 15:00:02 / 1"}, {"2026-03-02 15:00:00 stop 247 3"}},
    {"rename and edit at 15:00", {1, "", {kBellAt8, kStopAt12}},
     {"2026-03-02 15:00:00 .. 2026-03-02 15:00:05 / 1", "rename", "2026-03-02 15:00:06 .. 2026-03-02 15:00:10 / 1",
      "edit", "2026-03-02 15:00:11 .. 2026-03-02 15:01:00 / 1"},
     {"2026-03-02 15:00:30 start 32 3"}, {1, "", {"1;0;32;15:00:30;0;0", kStopAt12}}},
    {"an unchanged stop item keeps its state across an edit", {1, "", {kStopAt12}},
     {"2026-03-02 11:59:59 .. 2026-03-02 12:00:01 / 1", "2026-03-02 15:00:00", "rename",
      "2026-03-02 15:00:01 .. 2026-03-02 15:00:03 / 1", "edit", "2026-03-02 15:00:04 .. 2026-03-02 15:00:06 / 1"},
     {"2026-03-02 12:00:00 stop 247 3"}, {1, "", {"1;0;1;18:00:00;0;0", kStopAt12}}},
    {"a running window whose length is edited stops at its new end", {1, "", {kPlaylist8For30Min}},
     {"2026-03-02 07:59:59 .. 2026-03-02 08:10:00 / 1", "edit", "2026-03-02 08:10:01 .. 2026-03-02 09:00:02 / 1"},
     {"2026-03-02 08:00:00 start 1 3", "2026-03-02 09:00:01 stop 1 3"}, {1, "", {"1;0;1;08:00:00;1;1"}}},
    {"a start time that does not parse never acts and is logged once", {1, "", {"1;0;32;8:00;0;0", kStopAt12}},
     {"2026-03-02 00:00:00 .. 2026-03-02 00:00:03 / 1", "2026-03-02 07:59:59 .. 2026-03-02 08:00:01 / 1", "rename",
      "2026-03-03 08:00:00", "2026-03-03 12:00:00"},
     {"2026-03-03 12:00:00 stop 247 3"}, {}, false, 1},
    {"disabling removes the schedule", {1, "", {kBellAt8}}, {"2026-03-02 07:00:00", "disable", "2026-03-02 08:00:00"}, {}},
    {"removing the channel removes the schedule", {1, "", {kBellAt8}},
     {"2026-03-02 07:00:00", "remove", "2026-03-02 08:00:00"}, {}},
    {"removing another channel changes nothing", {1, "", {kBellAt8}},
     {"2026-03-02 07:00:00", "remove other", "2026-03-02 08:00:00"}, {"2026-03-02 08:00:00 start 32 3"}},

    // Local time changes (Europe/Berlin: 2026-03-29 02:00 CET -> 03:00 CEST, 2026-10-25 03:00
    // CEST -> 02:00 CET).
    {"spring forward: items in the skipped hour act once when it is over",
     {1, "", {"1;0;32;02:30:00;0;0", "2;0;0;02:45:00;0;0"}},
     {"2026-03-29 01:59:00 .. 2026-03-29 03:01:00 / 1", "2026-03-30 02:29:59 .. 2026-03-30 02:30:01 / 1"},
     {"2026-03-29 03:00:00+02:00 start 32 3", "2026-03-29 03:00:00+02:00 stop 247 3",
      "2026-03-30 02:30:00+02:00 start 32 3"},
     {}, true},
    {"spring forward: a window in the skipped hour keeps its length", {1, "", {"1;0;1;02:30:00;1;1"}},
     {"2026-03-29 01:59:00 .. 2026-03-29 04:01:00 / 1"},
     {"2026-03-29 03:00:00+02:00 start 1 3", "2026-03-29 04:00:01+02:00 stop 1 3"}, {}, true},
    {"spring forward: a window across the change lasts its real length", {1, "", {"1;0;1;01:30:00;2;1"}},
     {"2026-03-29 01:29:59 .. 2026-03-29 04:31:00 / 1"},
     {"2026-03-29 01:30:00+01:00 start 1 3", "2026-03-29 04:30:01+02:00 stop 1 3"}, {}, true},
    {"fall back: items in the repeated hour act once", {1, "", {"1;0;32;02:30:00;0;0", "2;0;0;02:45:00;0;0"}},
     {"2026-10-25 01:59:00+02:00 .. 2026-10-25 03:01:00+01:00 / 1"},
     {"2026-10-25 02:30:00+02:00 start 32 3", "2026-10-25 02:45:00+02:00 stop 247 3"}, {}, true},
    {"fall back: a window in the repeated hour does not start again", {1, "", {"1;0;1;02:15:00;30;2"}},
     {"2026-10-25 01:59:00+02:00 .. 2026-10-25 03:01:00+01:00 / 1"},
     {"2026-10-25 02:15:00+02:00 start 1 3", "2026-10-25 02:45:01+02:00 stop 1 3"}, {}, true},
    {"fall back: a window across the change lasts its real length", {1, "", {"1;0;1;02:30:00;1;1"}},
     {"2026-10-25 02:29:59+02:00 .. 2026-10-25 03:01:00+01:00 / 1"},
     {"2026-10-25 02:30:00+02:00 start 1 3", "2026-10-25 02:30:01+01:00 stop 1 3"}, {}, true},
};

class RtpScheduleRows : public ::testing::TestWithParam<Row>
{
protected:
    void SetUp() override
    {
        g_invalidLines = 0;
        g_previousHandler = qInstallMessageHandler(countInvalid);
    }
    void TearDown() override { qInstallMessageHandler(g_previousHandler); }

    ScopedTimeZone m_zone{"Europe/Berlin"};
};

} // namespace

// Each row: the schedule handed over, the passes at the row's wall-clock times, and exactly the
// starts and stops expected of them, all with trigger 3.
TEST_P(RtpScheduleRows, ActsAsExpected)
{
    const Row& row = GetParam();
    RtpScheduleRecorder manager;
    manager.withOffsets = row.withOffsets;
    if (!row.channelKnown)
        manager.known.clear();

    RtpScheduleThread scheduler(&manager);
    scheduler.addRtpInfos({row.schedule.channel(kChannel), RtpInfo()});
    for (const char* stepText : row.steps) {
        const QString step = QString::fromLatin1(stepText);
        if (step == QLatin1String("rename")) {
            RtpInfo info = row.schedule.channel(kChannel);
            info.name = QStringLiteral("renamed");
            scheduler.updateRtpInfo(info);
        } else if (step == QLatin1String("edit")) {
            scheduler.updateRtpInfo(row.edited.channel(kChannel));
        } else if (step == QLatin1String("disable")) {
            Schedule disabled = row.schedule;
            disabled.status = 0;
            scheduler.updateRtpInfo(disabled.channel(kChannel));
        } else if (step == QLatin1String("remove")) {
            scheduler.removeRtpInfo(row.schedule.channel(kChannel));
        } else if (step == QLatin1String("remove other")) {
            scheduler.removeRtpInfo(Schedule().channel(kChannel + 1));
        } else {
            for (qint64 at : passes(step)) {
                manager.nowUtcMs = at;
                scheduler.pass(RtpScheduleClock::at(at));
            }
        }
    }

    QStringList expected;
    for (const char* call : row.expected)
        expected.append(QStringLiteral("%1 (channel %2)").arg(QLatin1String(call)).arg(kChannel));
    EXPECT_EQ(manager.text(), expected.join(QLatin1Char('\n')).toStdString());
    EXPECT_EQ(g_invalidLines, row.invalidLogLines);
}

INSTANTIATE_TEST_SUITE_P(Schedules, RtpScheduleRows, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& info) {
                             std::string name;
                             for (const char* c = info.param.name; *c; ++c)
                                 name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
                             return name;
                         });

namespace {

// A wall clock that stands still at a chosen instant; the waits stay on the real monotonic clock.
class RtpScheduleFixedClock : public RtpScheduleClock
{
public:
    explicit RtpScheduleFixedClock(qint64 utcMs) : m_utcMs(utcMs) {}
    Reading now() const override { return at(m_utcMs); }

private:
    qint64 m_utcMs;
};

} // namespace

// The thread itself: it applies what was queued before it started, acts on its first pass, and
// a stop ends it at once rather than after its second of waiting.
TEST(RtpScheduleThreadTest, ThreadActsAndStopsPromptly)
{
    ScopedTimeZone zone("Europe/Berlin");
    RtpScheduleRecorder manager;
    const qint64 at = instant(QStringLiteral("2026-03-02 08:00:00"));
    manager.nowUtcMs = at;
    RtpScheduleFixedClock clock(at);

    RtpScheduleThread scheduler(&manager, &clock);
    Schedule schedule{1, "", {kBellAt8}};
    scheduler.addRtpInfos({schedule.channel(kChannel)});
    ASSERT_TRUE(scheduler.startScheduling());

    const auto begin = std::chrono::steady_clock::now();
    while (manager.calls().isEmpty() && std::chrono::steady_clock::now() - begin < std::chrono::seconds(5))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(manager.text(), "2026-03-02 08:00:00 start 32 3 (channel 7)");

    // Let it sit in its wait between passes, then stop it.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto stopBegin = std::chrono::steady_clock::now();
    scheduler.stopScheduling();
    const auto stopMs = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - stopBegin).count();
    EXPECT_LT(stopMs, 500);
    EXPECT_FALSE(scheduler.isRunning());

    // Changes queued while it is stopped are dropped by the next stop, not applied.
    scheduler.removeRtpInfo(schedule.channel(kChannel));
    scheduler.stopScheduling();
    scheduler.pass(RtpScheduleClock::at(at + 24 * 3600 * 1000LL));
    EXPECT_EQ(scheduler.stateCount(), 1);
    EXPECT_EQ(manager.calls().size(), 2);
}
