// The command-line client against a device of this process that answers every JSON request
// with its method and records the audio it is sent.
#include "LoopP2p.h"
#include "LoopP2pTestDevice.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr unsigned int kIoCtrlJson = 0x800;

// The device side: one session, its AV server, replies {"id","method","result":0}.
class EchoDevice
{
public:
    explicit EchoDevice(const std::string& uid)
    {
        m_loggedIn = LoopP2pTestDevice::logIn(uid, LoopP2pTestDevice::kSessionLimit, 8) == 0;
        m_thread = std::thread([this] { run(); });
    }
    ~EchoDevice()
    {
        m_stop = true;
        m_thread.join();
        avDeInitialize();
        IOTC_DeInitialize();
    }
    bool loggedIn() const { return m_loggedIn; }
    std::vector<std::string> requests()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_requests;
    }
    std::vector<std::string> audio()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_audio;
    }

private:
    void run()
    {
        while (!m_stop) {
            const int session = IOTC_Listen(20);
            if (session < 0)
                continue;
            serve(session);
            IOTC_Session_Close(session);
        }
    }

    void serve(int session)
    {
        LoopP2pAvStartInput start{};
        start.size = sizeof(start);
        start.session = session;
        start.timeoutSeconds = 5;
        LoopP2pAvStartOutput output{};
        output.size = sizeof(output);
        const int av = avServStartEx(&start, &output);
        if (av < 0)
            return;
        std::vector<char> buffer(131068);
        while (!m_stop) {
            unsigned int type = 0;
            const int got = avRecvIOCtrl(av, &type, buffer.data(), int(buffer.size()), 5);
            if (got == LoopP2pPeerClosed)
                break;
            if (got > 0 && type == kIoCtrlJson) {
                const QJsonObject request =
                    QJsonDocument::fromJson(QByteArray(buffer.data(), got)).object();
                QJsonObject reply{{"method", request.value("method")}, {"result", 0}};
                if (request.contains("id"))
                    reply.insert("id", request.value("id"));
                const QByteArray text = QJsonDocument(reply).toJson(QJsonDocument::Compact);
                avSendIOCtrl(av, kIoCtrlJson, text.constData(), text.size());
                std::lock_guard<std::mutex> lock(m_mutex);
                m_requests.emplace_back(buffer.data(), got);
            }
            char info[16];
            unsigned int number;
            const int frame = avRecvAudioData(av, buffer.data(), int(buffer.size()), info, 16, &number);
            if (frame > 0) {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_audio.emplace_back(buffer.data(), frame);
                m_audio.back().insert(0, info, 16);
            }
        }
        avServStop(av);
    }

    bool m_loggedIn = false;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    std::mutex m_mutex;
    std::vector<std::string> m_requests;
    std::vector<std::string> m_audio;
};

QString tool()
{
    return TestSupport::sourceDir() + "/tools/loopp2p_client.py";
}

TEST(LoopP2pClientToolTest, CodeLoginAndRequestsReachTheDevice)
{
    const std::string uid = "TOOL" + std::to_string(getpid());
    EchoDevice device(uid);
    ASSERT_TRUE(device.loggedIn());
    // The connection code the program's options page would store for this UID.
    const QString payload = QString::fromStdString(uid);
    QString code = QString("0101%1%2P0").arg(payload.size(), 2, 16, QChar('0')).arg(payload);
    int x = 0;
    for (const QChar c : code)
        x ^= static_cast<signed char>(c.toLatin1());
    code += QString::asprintf("%02x", static_cast<unsigned int>(x));

    const TestSupport::Result result = TestSupport::run(
        "/usr/bin/python3", {tool(), "--code", code, "--user", "admin", "--password", "pw",
                             "--json", R"({"id":7,"method":"GetRtp"})", "--wait", "0"}, 30000);
    ASSERT_EQ(result.exitCode, 0) << result.err.constData();
    const std::vector<std::string> requests = device.requests();
    ASSERT_EQ(requests.size(), 2u);
    const QJsonObject login = QJsonDocument::fromJson(QByteArray::fromStdString(requests[0])).object();
    EXPECT_EQ(login.value("method").toString(), "Login");
    EXPECT_EQ(login.value("username").toString(), "admin");
    EXPECT_EQ(login.value("password").toString(),
              QCryptographicHash::hash("pw", QCryptographicHash::Md5).toHex());
    EXPECT_EQ(requests[1], R"({"id": 7, "method": "GetRtp"})");
    EXPECT_TRUE(result.out.contains(R"({"id":7,"method":"GetRtp","result":0})")) << result.out.constData();
}

TEST(LoopP2pClientToolTest, UntilWaitsForAMethodAndFailsWhenItNeverComes)
{
    const std::string uid = "UNTIL" + std::to_string(getpid());
    EchoDevice device(uid);
    ASSERT_TRUE(device.loggedIn());
    // A reply that came while its request was waited for counts.
    const TestSupport::Result seen = TestSupport::run(
        "/usr/bin/python3", {tool(), QString::fromStdString(uid), "--json", R"({"id":1,"method":"GetRtp"})",
                             "--until", "GetRtp", "--wait", "0"}, 30000);
    EXPECT_EQ(seen.exitCode, 0) << seen.err.constData();
    const TestSupport::Result missing = TestSupport::run(
        "/usr/bin/python3", {tool(), QString::fromStdString(uid), "--json", R"({"id":2,"method":"GetRtp"})",
                             "--until", "GetRtp", "--until", "RtpStarted", "--timeout", "1", "--wait", "0"}, 30000);
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_TRUE(missing.err.contains("no RtpStarted")) << missing.err.constData();
}

TEST(LoopP2pClientToolTest, TalkSendsHeaderedFramesWithTheServersFrameInfo)
{
    const std::string uid = "TALK" + std::to_string(getpid());
    EchoDevice device(uid);
    ASSERT_TRUE(device.loggedIn());
    QTemporaryDir dir;
    const QString raw = dir.filePath("tone.ulaw");
    QFile file(raw);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(160 * 5, '\x55'));
    file.close();

    const TestSupport::Result result = TestSupport::run(
        "/usr/bin/python3", {tool(), QString::fromStdString(uid), "--talk", raw, "--pt", "0",
                             "--rate", "8000", "--ms", "20", "--wait", "0.2"}, 30000);
    ASSERT_EQ(result.exitCode, 0) << result.err.constData();
    const std::vector<std::string> audio = device.audio();
    ASSERT_EQ(audio.size(), 5u);
    for (const std::string& frame : audio) {
        ASSERT_EQ(frame.size(), 16u + 8u + 160u);
        EXPECT_EQ(static_cast<unsigned char>(frame[0]) | (static_cast<unsigned char>(frame[1]) << 8), 137);
        EXPECT_EQ(frame[2], 2);
        // payload type 0, 1 channel, 8000 Hz (0x1F40), 20000 us (0x4E20), big-endian
        EXPECT_EQ(frame.substr(16, 8), std::string("\x00\x01\x1f\x40\x00\x00\x4e\x20", 8));
    }
}

TEST(LoopP2pClientToolTest, NoDeviceOrBadCodeEndsWithClearStatus)
{
    const TestSupport::Result none = TestSupport::run(
        "/usr/bin/python3", {tool(), "NOBODY" + QString::number(getpid()), "--timeout", "1"});
    EXPECT_EQ(none.exitCode, 2);
    EXPECT_TRUE(none.err.contains("no device")) << none.err.constData();
    const TestSupport::Result bad =
        TestSupport::run("/usr/bin/python3", {tool(), "--code", "0101051234P0zz"});
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_TRUE(bad.err.contains("not a connection code")) << bad.err.constData();
}

} // namespace
