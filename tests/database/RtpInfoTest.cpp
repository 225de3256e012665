#include "RtpInfo.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonValue>
#include <QTime>

#include <algorithm>
#include <random>

namespace {

RtpScheduleItem item(int type, const char* start, int source = 0)
{
    RtpScheduleItem i;
    i.type = type;
    i.startTime = QString::fromLatin1(start);
    i.source = source;
    return i;
}

RtpInfo channel(qint64 sortIndex, int id)
{
    RtpInfo info;
    info.sortIndex = sortIndex;
    info.id = id;
    return info;
}

// Every stored field set to something other than its default.
RtpInfo fullChannel()
{
    RtpInfo c;
    c.id = 42;
    c.sortIndex = qint64(1) << 40;
    c.name = QString::fromUtf8("Hall \xe5\xa4\xa7\xe5\x8e\x85");
    c.address = "192.168.1.50:5004";
    c.codec = 2;
    c.volume = 80;
    c.source = 1;
    c.playlist = {"/music/a.mp3", "/music/b b.wav"};
    c.deviceId = "{0.0.1.00000000}.{abc}";
    c.deviceName = "Line In";
    c.deviceType = 0;
    c.streamUrl = "http://radio.example/stream";
    c.bellPath = "/sounds/bell.mp3";
    c.bellLoopType = 2;
    c.bellDuration = 30;
    c.bellLoops = 3;
    c.schedule.status = 1;
    c.schedule.repeat = 2;
    c.schedule.value = "1;3;5;";
    c.schedule.items = {item(1, "07:00:00", 16), item(2, "08:30:00")};
    c.schedule.items[0].duration = 30;
    c.schedule.items[0].durationUnit = 2;
    c.schedule.items[1].argument = 9;
    c.sip.status = 1;
    c.sip.server = "10.0.0.1";
    c.sip.port = "5060";
    c.sip.username = "1001";
    c.sip.authId = "auth1001";
    c.sip.password = "pa;ss\nword";
    c.sip.displayName = "Hall";
    c.sip.expire = "3600";
    c.httpApi = 1;
    c.httpOutput = 1;
    c.startedSource = 16;
    c.startedType = 3;
    c.playingIndex = 1;
    c.playingGetTime = 1234.5;
    c.playingPosition = 12.5;
    c.playingDuration = 180.25;
    return c;
}

RtpInfo firstRunChannel()
{
    RtpInfo c;
    c.id = 1;
    c.name = "239.255.0.0:8000";
    c.address = "239.255.0.0:8000";
    c.codec = 3;
    c.playingIndex = -1;
    return c;
}

RtpInfo viaJsonText(const RtpInfo& in)
{
    const QByteArray text = QJsonDocument(in.toJson()).toJson(QJsonDocument::Compact);
    return RtpInfo::fromJson(QJsonDocument::fromJson(text).object());
}

} // namespace

TEST(RtpInfo, DefaultsAndClear)
{
    RtpInfo info;
    EXPECT_EQ(info.playingIndex, -1);
    EXPECT_FALSE(info.isValid());
    EXPECT_TRUE(info.address.isEmpty());
    RtpInfo full = fullChannel();
    EXPECT_TRUE(full.isValid());
    full.clear();
    EXPECT_EQ(full, RtpInfo());

    RtpInfo copy = fullChannel();
    RtpInfo other = copy;
    other.playlist[0] = "/changed.mp3";
    other.schedule.items[0].startTime = "09:00:00";
    EXPECT_EQ(copy.playlist[0], "/music/a.mp3");
    EXPECT_EQ(copy.schedule.items[0].startTime, "07:00:00");
}

TEST(RtpInfo, ChannelsSortByIndexThenIdDescending)
{
    QVector<RtpInfo> list{channel(5, 1), channel(7, 2), channel(5, 3)};
    std::sort(list.begin(), list.end());
    ASSERT_EQ(list.size(), 3);
    EXPECT_EQ(list[0].id, 2);
    EXPECT_EQ(list[1].id, 3);
    EXPECT_EQ(list[2].id, 1);
    EXPECT_EQ(RtpInfo::indexOf(list, 3), 1);
    EXPECT_EQ(RtpInfo::indexOf(list, 99), -1);

    QVector<RtpInfo> negative{channel(-1, 1), channel(0, 2), channel(qint64(1) << 40, 3)};
    std::sort(negative.begin(), negative.end());
    EXPECT_EQ(negative[0].id, 3);
    EXPECT_EQ(negative[2].id, 1);
}

TEST(RtpScheduleItem, OrderByTimeThenTypeWithInvalidTimesFirst)
{
    QVector<RtpScheduleItem> items{item(2, "08:00:00"), item(1, "08:00:00"), item(2, "07:30:00")};
    std::sort(items.begin(), items.end(), RtpScheduleItem::lessThan);
    EXPECT_EQ(items[0].startTime, "07:30:00");
    EXPECT_EQ(items[1].type, 1);
    EXPECT_EQ(items[2].type, 2);

    // The comparator must be a strict weak order, or std::sort may run off the range.
    std::mt19937 random(7);
    const char* times[] = {"08:00:00", "07:30:00", "", "25:00:00", "bad", "23:59:59", "00:00:00"};
    QVector<RtpScheduleItem> kinds;
    for (int type = 0; type < 3; ++type)
        for (const char* t : times)
            kinds.append(item(type, t));
    auto less = RtpScheduleItem::lessThan;
    for (const auto& a : kinds) {
        EXPECT_FALSE(less(a, a));
        for (const auto& b : kinds) {
            if (less(a, b)) {
                EXPECT_FALSE(less(b, a));
            }
            for (const auto& c : kinds) {
                if (less(a, b) && less(b, c)) {
                    EXPECT_TRUE(less(a, c));
                }
                const bool abEq = !less(a, b) && !less(b, a);
                const bool bcEq = !less(b, c) && !less(c, b);
                if (abEq && bcEq) {
                    EXPECT_TRUE(!less(a, c) && !less(c, a));
                }
            }
        }
    }
    QVector<RtpScheduleItem> many;
    for (int i = 0; i < 50; ++i)
        many.append(kinds[int(random() % kinds.size())]);
    std::shuffle(many.begin(), many.end(), random);
    std::sort(many.begin(), many.end(), less);
    EXPECT_TRUE(std::is_sorted(many.begin(), many.end(), less));
    EXPECT_FALSE(QTime::fromString(many.first().startTime, "HH:mm:ss").isValid());
}

TEST(RtpInfo, PlaylistTextKeepsEveryPath)
{
    EXPECT_EQ(RtpInfo::playlistToString({"a.mp3", "b.mp3"}), "a.mp3\nb.mp3");
    EXPECT_EQ(RtpInfo::playlistToString({}), "");
    // Missing files stay: nothing named here exists.
    const QVector<QString> back = RtpInfo::playlistFromString("/nonexistent/a.mp3\n/nonexistent/b.mp3");
    EXPECT_EQ(back, (QVector<QString>{"/nonexistent/a.mp3", "/nonexistent/b.mp3"}));
    EXPECT_TRUE(RtpInfo::playlistFromString("").isEmpty());
    EXPECT_EQ(RtpInfo::playlistFromString("a\n\nb\n").size(), 2);
}

TEST(RtpInfo, ScheduleItemText)
{
    RtpScheduleItem one = item(1, "07:00:00", 16);
    one.duration = 30;
    one.durationUnit = 2;
    EXPECT_EQ(RtpInfo::scheduleItemsToString({one}), "1;0;16;07:00:00;30;2");
    EXPECT_EQ(RtpInfo::scheduleItemsToString({}), "");

    struct Case
    {
        const char* text;
        QVector<RtpScheduleItem> expected;
    };
    RtpScheduleItem letters;
    letters.startTime = "d";
    const Case cases[] = {
        {"1;0;16;07:00:00;30;2", {one}},
        {"1;0;16", {RtpScheduleItem()}},
        {"", {}},
        {"\n\n", {}},
        {"a;b;c;d;e;f;g", {letters}},
        {"0;0;0;;0;0", {RtpScheduleItem()}},
        {"1;0;16;07:00:00;30;2\n\n1;0;16;07:00:00;30;2", {one, one}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(RtpInfo::scheduleItemsFromString(c.text), c.expected) << c.text;
}

TEST(RtpInfo, JsonRoundTripIsLossless)
{
    RtpInfo loopback = fullChannel();
    loopback.source = 6;
    loopback.deviceType = 1;
    RtpInfo microphone = fullChannel();
    microphone.source = 6;
    microphone.deviceType = 0;
    RtpInfo negative = fullChannel();
    negative.sortIndex = -(qint64(1) << 35);
    negative.playlist.clear();
    negative.schedule.items.clear();
    const RtpInfo records[] = {RtpInfo(), fullChannel(), firstRunChannel(), loopback, microphone, negative};
    for (const RtpInfo& record : records) {
        EXPECT_EQ(viaJsonText(record), record) << QJsonDocument(record.toJson()).toJson().constData();
        EXPECT_EQ(RtpInfo::fromJson(record.toJson()), record);
    }
    const QJsonArray array = RtpInfo::toJsonArray({fullChannel(), firstRunChannel()});
    ASSERT_EQ(array.size(), 2);
    EXPECT_EQ(array[1].toObject().value("name").toString(), "239.255.0.0:8000");
}

TEST(RtpInfo, JsonWriterUsesThePeersKeys)
{
    RtpInfo c = fullChannel();
    QJsonObject o = c.toJson();
    EXPECT_EQ(o.size(), 26);
    EXPECT_EQ(o.value("playingPostion").toDouble(), 12.5);
    EXPECT_FALSE(o.contains("playingPosition"));
    EXPECT_EQ(o.value("sortIndex").toDouble(), double(qint64(1) << 40));
    EXPECT_EQ(o.value("playlist").toString(), "/music/a.mp3\n/music/b b.wav");
    const QJsonObject s = o.value("schedule").toObject();
    EXPECT_EQ(s.value("status").toInt(), 1);
    EXPECT_EQ(s.value("repeta").toInt(), 2);
    EXPECT_FALSE(s.contains("repeat"));
    EXPECT_EQ(s.value("items").toArray().size(), 2);
    EXPECT_EQ(o.value("sip").toObject().value("expire").toString(), "3600");

    struct Case
    {
        int source, deviceType, written;
    };
    for (const Case& k : {Case{6, 1, 4}, Case{6, 0, 2}, Case{1, 1, 1}, Case{16, 0, 16}, Case{32, 1, 32}}) {
        c.source = k.source;
        c.deviceType = k.deviceType;
        EXPECT_EQ(c.toJson().value("source").toInt(), k.written) << k.source << "/" << k.deviceType;
    }
}

TEST(RtpInfo, JsonReaderTakesDefaultsForWrongTypes)
{
    const QJsonObject o = QJsonDocument::fromJson(R"({
        "id": 1.5, "codec": 2147483648, "volume": "7", "source": -3,
        "name": 5, "address": "1.2.3.4:5", "sortIndex": 1e300,
        "playlist": "", "schedule": {"schedule": 1, "repeat": 3, "items": [7, {"type": 2}]},
        "sip": [], "playingGetTime": "x", "playingPosition": 3.5, "playingPostion": 9.0
    })").object();
    ASSERT_FALSE(o.isEmpty());
    const RtpInfo r = RtpInfo::fromJson(o);
    EXPECT_EQ(r.id, 0);
    EXPECT_EQ(r.codec, 0);
    EXPECT_EQ(r.volume, 0);
    EXPECT_EQ(r.source, -3);
    EXPECT_EQ(r.name, "");
    EXPECT_EQ(r.address, "1.2.3.4:5");
    EXPECT_EQ(r.sortIndex, 0);
    EXPECT_TRUE(r.playlist.isEmpty());
    EXPECT_EQ(r.playingIndex, 0); // missing key
    EXPECT_EQ(r.schedule.status, 1);
    EXPECT_EQ(r.schedule.repeat, 3);
    ASSERT_EQ(r.schedule.items.size(), 2);
    EXPECT_EQ(r.schedule.items[0], RtpScheduleItem());
    EXPECT_EQ(r.schedule.items[1].type, 2);
    EXPECT_EQ(r.sip, RtpSip());
    EXPECT_EQ(r.playingGetTime, 0.0);
    EXPECT_EQ(r.playingPosition, 3.5);

    // Text that is not JSON at all gives an empty object and so the reader's defaults.
    for (const char* text : {"", "{", "[1,2]", "{\"id\":}", "\xff\xfe"}) {
        RtpInfo d = RtpInfo::fromJson(QJsonDocument::fromJson(text).object());
        RtpInfo expected;
        expected.playingIndex = 0;
        EXPECT_EQ(d, expected) << text;
    }
}

TEST(RtpInfo, SummaryTexts)
{
    RtpSchedule s;
    s.items = {item(1, "01:00:00"), item(1, ""), item(1, "03:00:00"), item(1, "04:00:00"),
               item(1, "05:00:00"), item(1, "06:00:00")};
    EXPECT_EQ(s.startTimesText(), "01:00:00;03:00:00;04:00:00;05:00:00;");

    struct Case
    {
        const char *user, *server, *port, *text;
    };
    for (const Case& c : {Case{"1001", "", "5060", "1001"}, Case{"1001", "pbx", "5060", "1001@pbx:5060"},
                          Case{"", "pbx", "", "pbx"}, Case{"1001", "pbx", "", "1001@pbx"},
                          Case{"", "", "", ""}}) {
        RtpSip sip;
        sip.username = c.user;
        sip.server = c.server;
        sip.port = c.port;
        EXPECT_EQ(sip.addressText(), c.text);
    }
}
