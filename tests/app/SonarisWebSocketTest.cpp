// Remote apps on the WebSocket API of the running program (a copy of the built binary): a strict
// standard client (python3-websockets) and a page in headless Chromium log in, list, start and
// stop a channel and get the notifications; the channel's RTP reaches a loopback receiver. Raw
// clients play apps that guess passwords, break the framing or listen in without logging in.
#include "AppRtpReceiver.h"
#include "SonarisRun.h"
#include "TestSupport.h"
#include "../VexaSDK/WS/WSTestPeer.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

#include <gtest/gtest.h>

#include <thread>

namespace {

constexpr int kChannel = 3;
constexpr int kPcmu = 0;
const char* const kUser = "admin";
const char* const kPassword = "s3cret";

QString md5Hex(const QString& text)
{
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Md5).toHex());
}

QString wsDir()
{
    return TestSupport::sourceDir() + QStringLiteral("/tests/VexaSDK/WS/");
}

// The messages a run printed ("recv <json>" lines), by their "id" and, for notifications, by
// method.
struct Received
{
    explicit Received(const QByteArray& output)
    {
        for (const QByteArray& line : output.split('\n')) {
            if (!line.startsWith("recv "))
                continue;
            const QJsonObject object = QJsonDocument::fromJson(line.mid(5)).object();
            messages.append(object);
        }
    }
    QJsonObject reply(int id, const QString& method) const
    {
        for (const QJsonObject& m : messages)
            if (m.value("id").toInt() == id && m.value("method").toString() == method)
                return m;
        return QJsonObject();
    }
    QList<QJsonObject> messages;
};

class SonarisWebSocketTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SONARIS_REQUIRE_COMMANDS("ffmpeg", "sqlite3");
        // The strict client, and the script that reads the browser's page through DevTools.
        SONARIS_REQUIRE_PYTHON_MODULE("websockets", "python3-websockets");
        ASSERT_TRUE(m_run.isValid());
        ASSERT_TRUE(m_receiver.start());
        m_apiPort = TestSupport::freeTcpPort();
        ASSERT_TRUE(m_run.seed({{QStringLiteral("http port"), QString::number(TestSupport::freeTcpPort())},
                                {QStringLiteral("sip port"), QString::number(AppRtpReceiver::freeEvenPort())},
                                {QStringLiteral("api enable"), QStringLiteral("1")},
                                {QStringLiteral("api port"), QString::number(m_apiPort)},
                                {QStringLiteral("auth enable"), QStringLiteral("1")},
                                {QStringLiteral("auth username"), QLatin1String(kUser)},
                                {QStringLiteral("auth password"), QLatin1String(kPassword)}}));
        const QString tone = m_run.path(QStringLiteral("tone.mp3"));
        ASSERT_TRUE(TestSupport::makeTone(tone, 1000, 30, {QStringLiteral("-ar"), QStringLiteral("44100")}));
        ASSERT_TRUE(m_run.addChannel(kChannel, QStringLiteral("127.0.0.1:%1").arg(m_receiver.port()), kPcmu, tone, false, false));
        ASSERT_TRUE(m_run.start());
        ASSERT_TRUE(m_run.waitForOutput("WebSocket server listens on 0.0.0.0:" + QByteArray::number(m_apiPort)))
            << m_run.output().toStdString();
    }

    QString url() const { return QStringLiteral("ws://127.0.0.1:%1/").arg(m_apiPort); }

    SonarisRun m_run;
    AppRtpReceiver m_receiver;
    int m_apiPort = 0;
};

} // namespace

// The close code of a close frame's payload.
int closeCode(const std::string& payload)
{
    return payload.size() < 2 ? -1 : (uint8_t(payload[0]) << 8) | uint8_t(payload[1]);
}

// The methods of the notifications the peer got until the reply to request id came or the
// server closed it.
QStringList notificationsUntilReply(WSTestPeer& peer, int id)
{
    QStringList heard;
    WSFrameHeader frame;
    std::string payload;
    while (peer.readFrame(&frame, &payload) && frame.opcode == static_cast<int>(WSOpcode::Text)) {
        const QJsonObject object = QJsonDocument::fromJson(QByteArray::fromStdString(payload)).object();
        if (object.value("id").toInt() == id && !object.contains("rtpId"))
            break;
        heard << object.value("method").toString();
    }
    return heard;
}

TEST_F(SonarisWebSocketTest, StrictClientLogsInListsStartsAndStops)
{
    // An app beside it that never logs in hears none of the channel's notifications.
    WSTestPeer stranger;
    ASSERT_TRUE(stranger.connect(m_apiPort) && stranger.handshake());

    const QString login = QStringLiteral(R"({"id":3,"method":"Login","username":"%1","password":"%2"})")
                              .arg(QLatin1String(kUser), md5Hex(QLatin1String(kPassword)));
    const TestSupport::Result r = TestSupport::run(
        QStringLiteral("/usr/bin/python3"),
        {wsDir() + "ws_session.py", url(), "--ping", "live", "--timeout", "30",
         R"({"id":1,"method":"GetDeviceInfo"})", R"({"id":2,"method":"GetRtp"})", login, R"({"id":4,"method":"GetRtp"})",
         QStringLiteral(R"({"id":5,"method":"StartRtp","rtpId":%1})").arg(kChannel),
         QStringLiteral(R"({"id":6,"method":"StopRtp","rtpId":%1})").arg(kChannel), "--until", "RtpStarted", "--until",
         "RtpStopped"},
        90000);
    ASSERT_EQ(r.exitCode, 0) << r.out.toStdString() << r.err.toStdString();
    EXPECT_TRUE(r.out.startsWith("pong\n"));
    EXPECT_TRUE(r.out.endsWith("closed 1000\n"));

    const Received got(r.out);
    EXPECT_EQ(got.reply(1, "GetDeviceInfo").value("auth").toInt(), 1);
    EXPECT_EQ(got.reply(1, "GetDeviceInfo").value("version").toString(), "3.2.9");
    EXPECT_EQ(got.reply(2, "GetRtp").value("result").toInt(), -9999);
    EXPECT_EQ(got.reply(3, "Login").value("result").toInt(), 0);
    bool listed = false;
    for (const QJsonValue& rtp : got.reply(4, "GetRtp").value("rtps").toArray())
        listed = listed || rtp.toObject().value("id").toInt() == kChannel;
    EXPECT_TRUE(listed) << r.out.toStdString();
    EXPECT_EQ(got.reply(5, "StartRtp").value("result").toInt(), 0);
    EXPECT_EQ(got.reply(6, "StopRtp").value("result").toInt(), 0);
    QStringList notifications;
    for (const QJsonObject& m : got.messages)
        if (m.value("method").toString().startsWith("Rtp") && m.value("rtpId").toInt() == kChannel)
            notifications.append(m.value("method").toString());
    ASSERT_FALSE(notifications.isEmpty());
    EXPECT_EQ(notifications.first(), "RtpStarted");
    EXPECT_EQ(notifications.last(), "RtpStopped");

    // Anything sent to it was queued before this reply (or before its close, should its login
    // time have run out on a slow machine).
    ASSERT_TRUE(stranger.sendFrame(WSOpcode::Text, R"({"id":9,"method":"GetDeviceInfo"})"));
    EXPECT_EQ(notificationsUntilReply(stranger, 9), QStringList());
}

// Of 2,000 wrong logins sent at once only five are answered before the connection is closed with
// 1008, and the program logs that once; an unmasked frame closes its connection with 1002. The
// program goes on serving: an app with the right credentials logs in.
TEST_F(SonarisWebSocketTest, GuessersAndUnmaskedFramesAreCutOff)
{
    WSTestPeer guesser;
    ASSERT_TRUE(guesser.connect(m_apiPort) && guesser.handshake());
    std::thread flood([&] {
        for (int id = 1; id <= 2000; ++id) {
            const QString request = QStringLiteral(R"({"id":%1,"method":"Login","username":"%2","password":"%3"})")
                                        .arg(id)
                                        .arg(QLatin1String(kUser), md5Hex(QStringLiteral("guess")));
            if (!guesser.sendFrame(WSOpcode::Text, request.toStdString()))
                return;
        }
    });
    QList<int> answered;
    int code = 0;
    WSFrameHeader frame;
    std::string payload;
    while (guesser.readFrame(&frame, &payload)) {
        if (frame.opcode == static_cast<int>(WSOpcode::Close)) {
            code = closeCode(payload);
            break;
        }
        const QJsonObject reply = QJsonDocument::fromJson(QByteArray::fromStdString(payload)).object();
        EXPECT_EQ(reply.value("result").toInt(), -9999);
        answered << reply.value("id").toInt();
    }
    EXPECT_TRUE(guesser.waitClosed());
    flood.join();
    EXPECT_EQ(answered, (QList<int>{1, 2, 3, 4, 5}));
    EXPECT_EQ(code, 1008);
    ASSERT_TRUE(m_run.waitForOutput("failed logins on one connection: it is closed"));
    EXPECT_EQ(m_run.output().count("failed logins on one connection: it is closed"), 1);

    WSTestPeer unmasked;
    ASSERT_TRUE(unmasked.connect(m_apiPort) && unmasked.handshake());
    ASSERT_TRUE(unmasked.sendRaw(std::string("\x81\x02{}", 4)));
    ASSERT_TRUE(unmasked.readFrame(&frame, &payload));
    EXPECT_EQ(frame.opcode, static_cast<int>(WSOpcode::Close));
    EXPECT_EQ(closeCode(payload), 1002);
    EXPECT_TRUE(unmasked.waitClosed());

    WSTestPeer user;
    ASSERT_TRUE(user.connect(m_apiPort) && user.handshake());
    const QString login = QStringLiteral(R"({"id":1,"method":"Login","username":"%1","password":"%2"})")
                              .arg(QLatin1String(kUser), md5Hex(QLatin1String(kPassword)));
    ASSERT_TRUE(user.sendFrame(WSOpcode::Text, login.toStdString()));
    ASSERT_TRUE(user.readFrame(&frame, &payload));
    EXPECT_EQ(QJsonDocument::fromJson(QByteArray::fromStdString(payload)).object().value("result").toInt(-1), 0);
}

TEST_F(SonarisWebSocketTest, BrowserPageStartsAChannel)
{
    SONARIS_REQUIRE_PEER(QFileInfo::exists(QStringLiteral("/usr/bin/chromium")), "/usr/bin/chromium");
    const QString messages =
        QStringLiteral(R"([{"id":1,"method":"GetDeviceInfo"},{"id":2,"method":"Login","username":"%1","password":"%2"},)"
                       R"({"id":3,"method":"StartRtp","rtpId":%3}])")
            .arg(QLatin1String(kUser), md5Hex(QLatin1String(kPassword)))
            .arg(kChannel);
    const QString page = QUrl::fromLocalFile(wsDir() + "ws_page.html").toString() +
                         QStringLiteral("#port=%1&until=RtpStarted&messages=%2")
                             .arg(m_apiPort)
                             .arg(QString::fromLatin1(QUrl::toPercentEncoding(messages)));
    const TestSupport::Result r =
        TestSupport::run(QStringLiteral("/usr/bin/python3"), {wsDir() + "chromium_page.py", page, "--timeout", "90"}, 120000);
    ASSERT_EQ(r.exitCode, 0) << r.out.toStdString() << r.err.toStdString();
    QList<QJsonObject> received;
    for (const QJsonValue& text : QJsonDocument::fromJson(r.out.trimmed()).array())
        received.append(QJsonDocument::fromJson(text.toString().toUtf8()).object());
    ASSERT_GE(received.size(), 4) << r.out.toStdString();
    EXPECT_EQ(received.at(0).value("method").toString(), "GetDeviceInfo");
    EXPECT_EQ(received.at(0).value("uid").toString().isEmpty(), false);
    EXPECT_EQ(received.at(1).value("method").toString(), "Login");
    EXPECT_EQ(received.at(1).value("result").toInt(), 0);
    bool started = false;
    for (const QJsonObject& m : received) {
        if (m.value("method") == "StartRtp") {
            EXPECT_EQ(m.value("result").toInt(), 0);
        }
        started = started || (m.value("method") == "RtpStarted" && m.value("rtpId").toInt() == kChannel);
    }
    EXPECT_TRUE(started);
    EXPECT_TRUE(m_receiver.waitForPackets(25, 20000)) << m_receiver.packetCount();
}
