// The JSON method protocol through the application object: a test server's clients speak to
// Sonaris, which hands their messages to ZvAPI and the real channel manager on a database of
// the test's own.
#include "SonarisRemoteFixture.h"
#include "ZvAPI.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonObject>

#include <chrono>
#include <tuple>

namespace {

const char* const kUser = "admin";
const char* const kPassword = "s3cret-Pass";

std::string md5Hex(const char* text, bool upper = false)
{
    const QByteArray hex = QCryptographicHash::hash(QByteArray(text), QCryptographicHash::Md5).toHex();
    return (upper ? hex.toUpper() : hex).toStdString();
}

// depth nested arrays, the innermost empty.
std::string nested(int depth)
{
    return std::string(size_t(depth), '[') + std::string(size_t(depth), ']');
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

class ZvAPITest : public SonarisRemoteFixture
{
protected:
    // One row: which client asks (0 or 1), what, and the exact reply. In both, $ID is the test
    // channel's id; in the reply $RTPS is every channel as GetRtp lists it, $RTP the test
    // channel as GetRtpById gives it, $UID the installation id.
    struct Row
    {
        int client;
        std::string request;
        std::string reply;
        QStringList newLogRows; // the action-log rows the request adds ($ID as above)
    };

    void runTable(const std::vector<Row>& rows)
    {
        std::shared_ptr<FakeVexaClient> clients[] = {server.connect(), server.connect()};
        ASSERT_TRUE(clients[0] && clients[1]);
        const std::string id = std::to_string(channel.id);
        for (const Row& row : rows) {
            const std::string request = replaceAll(row.request, "$ID", id);
            SCOPED_TRACE(request);
            const QStringList before = logRows();
            std::string expected = replaceAll(row.reply, "$ID", id);
            // Read before the request for what it does not change, after it for what it does.
            const std::string got = ask(clients[row.client], request);
            RtpInfo info;
            RtpManager::instance()->getRtpInfo(channel.id, info);
            expected = replaceAll(expected, "$RTPS", compact(RtpInfo::toJsonArray(RtpManager::instance()->getRtpInfos())));
            expected = replaceAll(expected, "$RTP", compact(info.toJson()));
            expected = replaceAll(expected, "$UID", sonaris->installationId().toStdString());
            EXPECT_EQ(got, expected);
            QStringList want;
            for (const QString& line : row.newLogRows)
                want << QString(line).replace(QStringLiteral("$ID"), QString::fromStdString(id));
            // A session that ends by itself writes its row on the manager's thread, a moment later.
            QStringList added;
            TestSupport::waitUntil(
                [&] {
                    added = logRows().mid(before.size());
                    return added.size() >= want.size();
                },
                want.isEmpty() ? 0 : 10000);
            EXPECT_EQ(added, want);
        }
    }

    void SetUp() override
    {
        SonarisRemoteFixture::SetUp();
        if (HasFatalFailure() || IsSkipped())
            return;
        channel = storeChannel(QStringLiteral("api"), 1, 30);
    }

    RtpInfo channel;
};

TEST_F(ZvAPITest, AuthenticationOffTable)
{
    sonaris->updateAuth(false, QLatin1String(kUser), QLatin1String(kPassword));
    const std::string info = R"("name":"Quorvel Sonaris","result":0,"type":"Zv","uid":"$UID","version":"3.2.9"})";
    runTable({
        {0, R"({"id":"a1","method":"getrtp"})", R"({"id":"a1","method":"getrtp","result":0,"rtps":$RTPS})", {}},
        {0, R"({"id":7})", R"({"result":-10000})", {}},
        {0, R"({"id":[1],"method":"Nope"})", R"({"id":[1],"method":"Nope","result":-9998})", {}},
        {0, R"({"method":5})", R"({"method":5,"result":-9998})", {}},
        {0, R"({"id":2,"method":"GetDeviceInfo"})", R"({"auth":0,"id":2,"method":"GetDeviceInfo",)" + info, {}},
        {0, R"({"id":3,"method":"Login","username":"x","password":"y"})", R"({"id":3,"method":"Login","result":0})", {}},
        {0, R"({"id":3,"method":"AUTH"})", R"({"id":3,"method":"AUTH","result":0})", {}},
        {0, "hello", R"({"error":"invalid json format"})", {}},
        {0, "[1,2]", R"({"error":"invalid json format"})", {}},
        {0, "", R"({"error":"invalid json format"})", {}},
        {0, std::string("{\"id\":8,\"method\":\"GetRtp\"}\0", 27), R"({"error":"invalid json format"})", {}},
        // Of a repeated key the last value counts, whatever the earlier ones were.
        {0, R"({"id":{"a":[1,2,3]},"id":1,"method":{"a":[]},"method":"Nope"})", R"({"id":1,"method":"Nope","result":-9998})", {}},
        // Containers nest 1024 deep at most, the request's own object included.
        {0, R"({"id":)" + nested(1023) + R"(,"method":"Nope"})", R"({"id":)" + nested(1023) + R"(,"method":"Nope","result":-9998})", {}},
        {0, R"({"id":)" + nested(1024) + R"(,"method":"Nope"})", R"({"error":"invalid json format"})", {}},
        {0, R"({"id":4,"method":"GetRtpById","rtpId":$ID})", R"({"id":4,"method":"GetRtpById","result":0,"rtp":$RTP})", {}},
        {0, R"({"id":4,"method":"GetRtpById","rtpId":{"x":[]},"rtpId":$ID})", R"({"id":4,"method":"GetRtpById","result":0,"rtp":$RTP})", {}},
        {0, R"({"id":4,"method":"GetRtpById"})", R"({"id":4,"method":"GetRtpById","result":-10000})", {}},
        {0, R"({"id":4,"method":"GetRtpById","rtpId":0})", R"({"id":4,"method":"GetRtpById","result":-10000})", {}},
        {0, R"({"id":4,"method":"GetRtpById","rtpId":"$ID"})", R"({"id":4,"method":"GetRtpById","result":-10000})", {}},
        {0, R"({"id":4,"method":"GetRtpById","rtpId":9999})", R"({"id":4,"method":"GetRtpById","result":-10000})", {}},
        // Starts with the channel's own source and trigger 5; stops every source with trigger 6.
        {1, R"({"id":5,"method":"StartRtp","rtpId":$ID})", R"({"id":5,"method":"StartRtp","result":0})", {"$ID,0,1,5"}},
        {1, R"({"id":6,"method":"StopRtp","rtpId":$ID})", R"({"id":6,"method":"StopRtp","result":0})", {"$ID,1,247,6"}},
        {1, R"({"id":6,"method":"StartRtp","rtpId":$ID,"type":1})", R"({"id":6,"method":"StartRtp","result":0})", {"$ID,0,1,1"}},
        {1, R"({"id":6,"method":"StopRtp","rtpId":$ID,"type":3})", R"({"id":6,"method":"StopRtp","result":0})", {"$ID,1,247,3"}},
        // A whole record: only its id counts, the stored channel is what starts.
        {1, R"({"method":"StartRtp","rtp":{"id":$ID,"address":"10.9.9.9:9","source":16}})", R"({"method":"StartRtp","result":0})", {"$ID,0,1,5"}},
        {1, R"({"method":"StopRtp","rtpId":0,"rtp":{"id":$ID}})", R"({"method":"StopRtp","result":0})", {"$ID,1,247,6"}},
        {1, R"({"method":"StartRtp","rtp":{"id":9999},"rtp":{"id":$ID},"type":{"a":[]},"type":1})", R"({"method":"StartRtp","result":0})", {"$ID,0,1,1"}},
        {1, R"({"method":"StopRtp","rtpId":[9999],"rtpId":$ID})", R"({"method":"StopRtp","result":0})", {"$ID,1,247,6"}},
        // Naming no stored channel: nothing starts or stops.
        {1, R"({"method":"StartRtp"})", R"({"method":"StartRtp","result":-10000})", {}},
        {1, R"({"method":"StartRtp","rtpId":9999})", R"({"method":"StartRtp","result":-10000})", {}},
        {1, R"({"method":"StartRtp","rtpId":-$ID})", R"({"method":"StartRtp","result":-10000})", {}},
        {1, R"({"method":"StartRtp","rtp":{"id":0,"address":"10.9.9.9:9"}})", R"({"method":"StartRtp","result":-10000})", {}},
        {1, R"({"method":"StartRtp","rtp":{"id":9999}})", R"({"method":"StartRtp","result":-10000})", {}},
        {1, R"({"method":"StartRtp","rtp":[$ID]})", R"({"method":"StartRtp","result":-10000})", {}},
        {1, R"({"method":"StopRtp","rtpId":9999})", R"({"method":"StopRtp","result":-10000})", {}},
        // Talk and listen: the client's audio as the channel's source (128, trigger 5), the
        // channel's audio to the client.
        {0, R"({"method":"StartListenRtp","rtpId":$ID})", R"({"method":"StartListenRtp","result":-1})", {}},
        {0, R"({"method":"StartTalkRtp","rtpId":$ID})", R"({"method":"StartTalkRtp","result":0})", {"$ID,0,128,5"}},
        {0, R"({"method":"StartListenRtp","rtpId":$ID})", R"({"method":"StartListenRtp","result":0})", {}},
        {0, R"({"method":"StopListenRtp","rtpId":$ID})", R"({"method":"StopListenRtp","result":0})", {}},
        // Without its one source the session ends by itself (trigger 5).
        {0, R"({"method":"StopTalkRtp","rtpId":$ID})", R"({"method":"StopTalkRtp","result":0})", {"$ID,1,247,5"}},
        {0, R"({"method":"StartTalkRtp","rtpId":9999})", R"({"method":"StartTalkRtp","result":-1})", {}},
        {0, R"({"method":"StartTalkRtp"})", R"({"method":"StartTalkRtp","result":-10000})", {}},
        {0, R"({"method":"StopListenRtp","rtpId":0})", R"({"method":"StopListenRtp","result":-10000})", {}},
    });
}

TEST_F(ZvAPITest, AuthenticationOnTable)
{
    sonaris->updateAuth(true, QLatin1String(kUser), QLatin1String(kPassword));
    const std::string hex = md5Hex(kPassword);
    const std::string info = R"("name":"Quorvel Sonaris","result":0,"type":"Zv","uid":"$UID","version":"3.2.9"})";
    runTable({
        {0, R"({"id":1,"method":"GetRtp"})", R"({"id":1,"method":"GetRtp","result":-9999})", {}},
        {0, R"({"id":1,"method":"nothing"})", R"({"id":1,"method":"nothing","result":-9999})", {}},
        {0, R"({"id":1,"method":"StartRtp","rtpId":$ID})", R"({"id":1,"method":"StartRtp","result":-9999})", {}},
        {0, R"({"id":2,"method":"GetDeviceInfo"})", R"({"auth":1,"id":2,"method":"GetDeviceInfo",)" + info, {}},
        {0, R"({"id":3,"method":"Login","username":"admin","password":")" + md5Hex(kPassword, true) + R"("})",
         R"({"id":3,"method":"Login","result":-9999})", {}},
        {0, R"({"id":3,"method":"Login","username":"admin","password":")" + std::string(kPassword) + R"("})",
         R"({"id":3,"method":"Login","result":-9999})", {}},
        {0, R"({"id":3,"method":"Login","username":"Admin","password":")" + hex + R"("})",
         R"({"id":3,"method":"Login","result":-9999})", {}},
        {0, R"({"id":3,"method":"Login","password":")" + hex + R"("})", R"({"id":3,"method":"Login","result":-9999})", {}},
        {0, R"({"id":4,"method":"login","username":"admin","password":")" + hex + R"("})",
         R"({"id":4,"method":"login","result":0})", {}},
        {0, R"({"id":5,"method":"GetRtp"})", R"({"id":5,"method":"GetRtp","result":0,"rtps":$RTPS})", {}},
        {0, R"({"id":6,"method":"GetDeviceInfo"})", R"({"id":6,"method":"GetDeviceInfo",)" + info, {}},
        // A later failing check does not undo the login.
        {0, R"({"id":7,"method":"Auth","username":"x","password":"y"})", R"({"id":7,"method":"Auth","result":0})", {}},
        {0, R"({"id":8,"method":"Bogus"})", R"({"id":8,"method":"Bogus","result":-9998})", {}},
        // The other client is not logged in by the first one's login; credentials in
        // GetDeviceInfo log it in.
        {1, R"({"id":9,"method":"GetRtp"})", R"({"id":9,"method":"GetRtp","result":-9999})", {}},
        {1, R"({"id":10,"method":"GetDeviceInfo","username":"admin","password":"bad"})",
         R"({"auth":1,"id":10,"method":"GetDeviceInfo",)" + info, {}},
        {1, R"({"id":11,"method":"GetDeviceInfo","username":"admin","password":")" + hex + R"("})",
         R"({"id":11,"method":"GetDeviceInfo",)" + info, {}},
        {1, R"({"id":12,"method":"StartRtp","rtpId":$ID})", R"({"id":12,"method":"StartRtp","result":0})", {"$ID,0,1,5"}},
        {1, R"({"id":13,"method":"StopRtp","rtpId":$ID})", R"({"id":13,"method":"StopRtp","result":0})", {"$ID,1,247,6"}},
        // Bad JSON needs no login to be told so.
        {1, "{\"id\":", R"({"error":"invalid json format"})", {}},
    });
    // Neither the password nor its digest reaches the log; the messages that carried them do.
    const QByteArray log = logText();
    EXPECT_TRUE(log.contains("Read CMD")) << "nothing logged";
    EXPECT_TRUE(log.contains(R"("password":"***")"));
    EXPECT_FALSE(log.contains(kPassword));
    EXPECT_FALSE(log.contains(QByteArray::fromStdString(hex)));
    EXPECT_FALSE(log.contains(QByteArray::fromStdString(md5Hex(kPassword, true))));
}

// A start the channel manager refuses (a stored source kind that is no source) is answered
// with its code, not 0.
TEST_F(ZvAPITest, AFailedStartReportsTheManagersCode)
{
    const RtpInfo broken = storeChannel(QStringLiteral("broken"), 3, 1);
    auto client = server.connect();
    const std::string reply = ask(client, R"({"method":"StartRtp","rtpId":)" + std::to_string(broken.id) + "}");
    EXPECT_EQ(reply, R"({"method":"StartRtp","result":-1})");
}

// A channel started and stopped by any path (a remote app, the manager's other callers, its own
// end) is announced to every client of every listed server: started, changed, stopped in that
// order per channel, each event to the first server and then the second, with consecutive ids.
TEST_F(ZvAPITest, NotificationsReachEveryClientInOrderWithConsecutiveIds)
{
    second.addObserver(sonaris);
    sonaris->addRemoteServer(&second);
    const RtpInfo bell = storeChannel(QStringLiteral("bell"), 32, 1);
    std::shared_ptr<FakeVexaClient> clients[] = {server.connect(), server.connect(), second.connect(), second.connect()};

    EXPECT_EQ(ask(clients[0], R"({"method":"StartRtp","rtpId":)" + std::to_string(channel.id) + "}"),
              R"({"method":"StartRtp","result":0})");
    ASSERT_TRUE(receiver.waitForPackets(10, 10000));
    // Another caller (a window, "/api", the scheduler) stops it.
    EXPECT_EQ(RtpManager::instance()->stopRtpInfo(channel, RtpInfo::kSourceAll, RtpInfo::kTriggerManual), 0);
    // The bell ends by itself.
    EXPECT_EQ(RtpManager::instance()->startRtpInfo(bell, RtpInfo::kSourceBell, RtpInfo::kTriggerManual), 0);

    // What each client heard, as (id, method, rtpId); the reply to the request is not one.
    auto heard = [](const std::shared_ptr<FakeVexaClient>& client) {
        std::vector<std::tuple<uint32_t, std::string, int>> notices;
        for (const std::string& text : client->messages()) {
            const QJsonObject object = QJsonDocument::fromJson(QByteArray::fromStdString(text)).object();
            if (isNotification(object))
                notices.emplace_back(uint32_t(object.value(QStringLiteral("id")).toDouble()),
                                     object.value(QStringLiteral("method")).toString().toStdString(),
                                     object.value(QStringLiteral("rtpId")).toInt());
        }
        return notices;
    };
    auto stoppedBoth = [&](const std::shared_ptr<FakeVexaClient>& client) {
        int stopped = 0;
        for (const auto& notice : heard(client))
            stopped += std::get<1>(notice) == "RtpStopped";
        return stopped == 2;
    };
    ASSERT_TRUE(TestSupport::waitUntil([&] { return stoppedBoth(clients[3]); }, 20000));

    const auto first = heard(clients[0]);
    const auto other = heard(clients[2]);
    EXPECT_EQ(heard(clients[1]), first);
    EXPECT_EQ(heard(clients[3]), other);
    ASSERT_EQ(first.size(), other.size());
    ASSERT_FALSE(first.empty());
    // Each event takes one id per listed server: the test's two and the application's own (its
    // WebSocket server, listed even while it does not listen).
    const uint32_t stride = first.size() > 1 ? std::get<0>(first[1]) - std::get<0>(first[0]) : 2;
    EXPECT_GE(stride, 2u);
    for (size_t i = 0; i < first.size(); ++i) {
        // The second server's copy of each event follows the first's at once.
        EXPECT_EQ(std::get<0>(other[i]), std::get<0>(first[i]) + 1);
        EXPECT_EQ(std::get<1>(other[i]), std::get<1>(first[i]));
        EXPECT_EQ(std::get<2>(other[i]), std::get<2>(first[i]));
        if (i > 0) {
            EXPECT_EQ(std::get<0>(first[i]), std::get<0>(first[i - 1]) + stride);
        }
    }
    for (int id : {channel.id, bell.id}) {
        std::string kinds;
        for (const auto& notice : first) {
            if (std::get<2>(notice) == id)
                kinds += std::get<1>(notice) == "RtpStarted" ? 'S' : std::get<1>(notice) == "RtpStopped" ? 'P' : 'C';
        }
        // One run: started, any number of changes, stopped.
        const bool oneRun = kinds.size() >= 2 && kinds.front() == 'S' && kinds.back() == 'P'
                            && kinds.find_first_not_of('C', 1) == kinds.size() - 1;
        EXPECT_TRUE(oneRun) << id << ": " << kinds;
    }
}

} // namespace
