#include "ZAVezeDeviceFirmwareSetDialog.h"
#include "ZAVezeFirmwareUploadThread.h"

#include "DeviceFixtures.h"
#include "GuiTest.h"
#include "TestLogFile.h"
#include "TestSupport.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace {

const char* const kPython = "/usr/bin/python3";

// The device web interfaces of fakeweb.py: one port per device on 127.0.0.1.
class FakeWeb
{
public:
    ~FakeWeb()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    bool start(int count, const QStringList& extra = {})
    {
        const QString script = TestSupport::sourceDir() + "/tests/ZAVeze/ui/fakeweb.py";
        m_process.start(kPython, QStringList{script, "--count", QString::number(count)} + extra);
        if (!m_process.waitForStarted(10000))
            return false;
        if (!waitFor([this] { return !eventsOf("ports").isEmpty(); }, 20000))
            return false;
        for (const QJsonValue& port : eventsOf("ports").first().value("ports").toArray())
            ports << port.toInt();
        return ports.size() == count;
    }

    // Reads what has come; events of one kind in arrival order.
    QList<QJsonObject> eventsOf(const QString& kind)
    {
        while (m_process.canReadLine() || m_process.waitForReadyRead(0)) {
            if (!m_process.canReadLine())
                continue;
            m_events << QJsonDocument::fromJson(m_process.readLine()).object();
        }
        QList<QJsonObject> found;
        for (const QJsonObject& e : qAsConst(m_events))
            if (e.value("event").toString() == kind)
                found << e;
        return found;
    }

    bool waitFor(const std::function<bool()>& condition, int ms = 20000)
    {
        return GuiTest::waitFor(condition, ms);
    }

    QList<int> ports;

private:
    QProcess m_process;
    QList<QJsonObject> m_events;
};

ZAVezeDevice webDevice(int index, int port, bool https)
{
    ZAVezeDevice d = DeviceFixtures::device(index);
    d.info.insert("ip", "127.0.0.1");
    if (https) {
        d.info.insert("https", 1);
        d.info.insert("httpsPort", port);
        d.info.insert("httpPort", 1);   // plays no part
    } else {
        d.info.insert("httpPort", port);
    }
    d.info.insert("account", QStringLiteral("admin%1").arg(index));
    d.info.insert("password", QStringLiteral("pw%1").arg(index));
    return d;
}

QByteArray makeFirmware(const QString& path, int size)
{
    QByteArray bytes(size, 0);
    for (int i = 0; i < size; ++i)
        bytes[i] = char(QRandomGenerator::global()->bounded(256));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != size)
        return QByteArray();
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

bool makeCertificate(const QString& dir, QString* cert, QString* key)
{
    *cert = dir + "/device.crt";
    *key = dir + "/device.key";
    const auto made = TestSupport::run("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", *key,
                                                   "-out", *cert, "-days", "1", "-subj", "/CN=device"});
    return made.exitCode == 0;
}

} // namespace

TEST(ZAVezeFirmwareUploadThread, UrlsFollowTheDeviceSchemeAndPort)
{
    struct Case
    {
        QJsonObject info;
        QString login; // empty: refused
        QString upload;
    };
    const Case cases[] = {
        {{{"ip", "10.0.0.5"}, {"httpPort", 80}}, "http://10.0.0.5:80/cgi-bin/CGI?login", "http://10.0.0.5:80/cgi-bin/upload"},
        {{{"ip", "10.0.0.5"}}, "http://10.0.0.5/cgi-bin/CGI?login", "http://10.0.0.5/cgi-bin/upload"},
        {{{"ip", "10.0.0.5"}, {"https", "1"}, {"httpsPort", "8443"}, {"httpPort", 80}},
         "https://10.0.0.5:8443/cgi-bin/CGI?login", "https://10.0.0.5:8443/cgi-bin/upload"},
        {{{"ip", "10.0.0.5"}, {"https", "1"}, {"httpPort", 80}}, "https://10.0.0.5/cgi-bin/CGI?login",
         "https://10.0.0.5/cgi-bin/upload"},
        {{{"ip", "10.0.0.5"}, {"https", 1}, {"httpsPort", 443}}, "https://10.0.0.5:443/cgi-bin/CGI?login",
         "https://10.0.0.5:443/cgi-bin/upload"},
        {{{"ip", "10.0.0.5"}, {"https", true}, {"httpPort", 80}}, "http://10.0.0.5:80/cgi-bin/CGI?login",
         "http://10.0.0.5:80/cgi-bin/upload"},
        {{{"ip", "10.0.0.5"}, {"https", "yes"}, {"httpPort", 80}}, "http://10.0.0.5:80/cgi-bin/CGI?login",
         "http://10.0.0.5:80/cgi-bin/upload"},
        // Leading zeros would read as octal in the URL: the numbers are written out plainly.
        {{{"ip", "010.000.000.005"}, {"httpPort", "0080"}}, "http://10.0.0.5:80/cgi-bin/CGI?login",
         "http://10.0.0.5:80/cgi-bin/upload"},
        // What a device reports must not steer the request elsewhere.
        {{{"ip", "evil.example/x?"}, {"httpPort", 80}}, "", ""},
        {{{"ip", "10.0.0.5@evil"}}, "", ""},
        {{{"ip", "10.0.0.5"}, {"httpPort", "80/../x"}}, "", ""},
        {{{"ip", "10.0.0.5"}, {"httpPort", 0}}, "", ""},
        {{{"ip", "10.0.0.5"}, {"httpPort", 65536}}, "", ""},
        {{{"httpPort", 80}}, "", ""},
    };
    for (const Case& c : cases) {
        ZAVezeDevice device;
        device.info = c.info;
        QString login = "untouched";
        QString upload = "untouched";
        const bool ok = ZAVezeFirmwareUploadThread::deviceUrls(device, &login, &upload);
        SCOPED_TRACE(QJsonDocument(c.info).toJson(QJsonDocument::Compact).toStdString());
        EXPECT_EQ(ok, !c.login.isEmpty());
        if (ok) {
            EXPECT_EQ(login, c.login);
            EXPECT_EQ(upload, c.upload);
        } else {
            EXPECT_EQ(login, "untouched");
        }
    }
}

TEST(ZAVezeFirmwareUploadThread, LoginAnswersThatLetTheUploadGo)
{
    struct Case
    {
        QByteArray answer;
        bool accepted;
    };
    const Case cases[] = {
        {R"({"result":0})", true},      {"{}", true},
        {R"({"result":"1"})", true},    {R"({"result":1})", false},
        {R"({"result":-1})", false},    {"<html><body>login</body></html>", false},
        {"", false},                    {"[1,2]", true},
        {R"({"result":0)", false},
        // A number other than 0 refuses, however large or fractional.
        {R"({"result":0.5})", false},   {R"({"result":4294967296})", false},
        {R"({"result":-0.0})", true},   {R"({"result":1e300})", false},
        // Of a repeated "result" the last one counts, whatever came before it.
        {R"({"result":{"a":[]},"result":0})", true},
        {R"({"result":[0],"result":{},"result":1})", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ZAVezeFirmwareUploadThread::loginAccepted(c.answer), c.accepted) << c.answer.constData();
}

TEST(ZAVezeFirmwareUploadThread, LoginValuesArePercentEncoded)
{
    EXPECT_EQ(ZAVezeFirmwareUploadThread::loginBody("ad min", "p&=%+w"),
              "username=ad%20min&password=p%26%3D%25%2Bw");
}

class FirmwareUpload : public ::testing::TestWithParam<bool>
{
};

// Twelve devices, at most ten at a time: every file arrives whole, with the session cookie of
// its own device's login, and a password full of form characters arrives as it was.
TEST_P(FirmwareUpload, TwelveDevicesGetTheFileTenAtATime)
{
    const bool https = GetParam();
    SONARIS_REQUIRE_PEER(QFile::exists(kPython), kPython);
    if (https) {
        SONARIS_REQUIRE_COMMANDS("openssl");
    }
    QTemporaryDir dir;
    const QString firmware = dir.filePath("fw-v2.bin");
    const QByteArray sha = makeFirmware(firmware, 300 * 1024);
    ASSERT_FALSE(sha.isEmpty());
    QStringList extra = {"--upload-delay", "0.5"};
    if (https) {
        QString cert;
        QString key;
        ASSERT_TRUE(makeCertificate(dir.path(), &cert, &key));
        extra << "--cert" << cert << "--key" << key;
    }
    FakeWeb web;
    ASSERT_TRUE(web.start(12, extra));
    QVector<ZAVezeDevice> devices;
    for (int i = 0; i < 12; ++i)
        devices << webDevice(i + 1, web.ports[i], https);
    devices[4].info.insert("password", "p&=%+w");

    TestLogFile log;
    ZAVezeDeviceFirmwareSetDialog dialog(nullptr, nullptr, nullptr);
    dialog.setDevices(devices, firmware);
    GuiTest::onModal([](QWidget* modal) { GuiTest::grabToPng(modal, "firmware-dialog"); });
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_EQ(dialog.peakUploads(), ZAVezeDeviceFirmwareSetDialog::kMaxUploads);

    ASSERT_TRUE(web.waitFor([&] { return web.eventsOf("upload").size() == 12; }));
    const QList<QJsonObject> logins = web.eventsOf("login");
    ASSERT_EQ(logins.size(), 12);
    for (const QJsonObject& login : logins) {
        const int index = web.ports.indexOf(login.value("port").toInt());
        EXPECT_EQ(login.value("username").toString(), QStringLiteral("admin%1").arg(index + 1));
        EXPECT_EQ(login.value("password").toString(), index == 4 ? "p&=%+w" : QStringLiteral("pw%1").arg(index + 1));
    }
    QList<int> seen;
    for (const QJsonObject& upload : web.eventsOf("upload")) {
        const int port = upload.value("port").toInt();
        seen << port;
        EXPECT_EQ(upload.value("cookie").toString(), QStringLiteral("session=s%1").arg(port));
        EXPECT_EQ(upload.value("boundary").toString(), "window-zaveze-upload");
        const QJsonArray parts = upload.value("parts").toArray();
        ASSERT_EQ(parts.size(), 1);
        const QJsonObject part = parts[0].toObject();
        EXPECT_EQ(part.value("name").toString(), "file");
        EXPECT_EQ(part.value("filename").toString(), "fw-v2.bin");
        EXPECT_EQ(part.value("size").toInt(), 300 * 1024);
        EXPECT_EQ(part.value("sha256").toString().toLatin1(), sha);
        EXPECT_LE(upload.value("peak").toInt(), ZAVezeDeviceFirmwareSetDialog::kMaxUploads);
    }
    std::sort(seen.begin(), seen.end());
    QList<int> ports = web.ports;
    std::sort(ports.begin(), ports.end());
    EXPECT_EQ(seen, ports);
    int peakUploads = 0;
    for (const QJsonObject& e : web.eventsOf("upload-start"))
        peakUploads = std::max(peakUploads, e.value("active").toInt());
    EXPECT_LE(peakUploads, ZAVezeDeviceFirmwareSetDialog::kMaxUploads);
    if (https) {
        EXPECT_TRUE(log.waitFor("SHA-256 fingerprint", 12));
    }
}

INSTANTIATE_TEST_SUITE_P(HttpAndHttps, FirmwareUpload, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Https" : "Http"; });

TEST(ZAVezeFirmwareUploadThread, AStalledLoginEndsAtItsTimeOutOrAtOnceOnStop)
{
    SONARIS_REQUIRE_PEER(QFile::exists(kPython), kPython);
    QTemporaryDir dir;
    const QString firmware = dir.filePath("fw.bin");
    ASSERT_FALSE(makeFirmware(firmware, 1024).isEmpty());
    FakeWeb web;
    ASSERT_TRUE(web.start(2, {"--stall-login"}));

    ZAVezeFirmwareUploadThread timed(webDevice(1, web.ports[0], false), firmware);
    timed.setTimeouts(1000, 0);
    QElapsedTimer timer;
    timer.start();
    ASSERT_TRUE(timed.start());
    ASSERT_TRUE(TestSupport::waitUntil([&] { return !timed.isRunning(); }, 10000));
    timed.wait();
    EXPECT_GE(timer.elapsed(), 900);

    ZAVezeFirmwareUploadThread stopped(webDevice(2, web.ports[1], false), firmware);
    ASSERT_TRUE(stopped.start());
    ASSERT_TRUE(web.waitFor([&] { return web.eventsOf("login").size() == 2; }));
    timer.restart();
    stopped.stop();
    stopped.wait();
    EXPECT_LT(timer.elapsed(), 1000);
    EXPECT_TRUE(web.eventsOf("upload-start").isEmpty());
}

TEST(ZAVezeFirmwareUploadThread, ARefusedLoginUploadsNothing)
{
    SONARIS_REQUIRE_PEER(QFile::exists(kPython), kPython);
    QTemporaryDir dir;
    const QString firmware = dir.filePath("fw.bin");
    ASSERT_FALSE(makeFirmware(firmware, 1024).isEmpty());
    FakeWeb web;
    ASSERT_TRUE(web.start(1, {"--login-answer", R"({"result":1})"}));
    TestLogFile log;
    ZAVezeFirmwareUploadThread thread(webDevice(1, web.ports[0], false), firmware);
    ASSERT_TRUE(thread.start());
    ASSERT_TRUE(TestSupport::waitUntil([&] { return !thread.isRunning(); }, 10000));
    thread.wait();
    EXPECT_EQ(web.eventsOf("login").size(), 1);
    EXPECT_TRUE(web.eventsOf("upload-start").isEmpty());
    EXPECT_TRUE(log.contains("login refused"));
}

TEST(ZAVezeDeviceFirmwareSetDialog, ClosingMidWayReturnsWithinASecond)
{
    SONARIS_REQUIRE_PEER(QFile::exists(kPython), kPython);
    QTemporaryDir dir;
    const QString firmware = dir.filePath("fw.bin");
    ASSERT_FALSE(makeFirmware(firmware, 64 * 1024).isEmpty());
    FakeWeb web;
    ASSERT_TRUE(web.start(12, {"--stall-upload"}));
    QVector<ZAVezeDevice> devices;
    for (int i = 0; i < 12; ++i)
        devices << webDevice(i + 1, web.ports[i], false);
    ZAVezeDeviceFirmwareSetDialog dialog(nullptr, nullptr, nullptr);
    dialog.setDevices(devices, firmware);
    qint64 closing = -1;
    GuiTest::onModal([&](QWidget* modal) {
        EXPECT_TRUE(web.waitFor([&] { return web.eventsOf("upload-start").size() == 10; }));
        QElapsedTimer timer;
        timer.start();
        modal->close();
        closing = timer.elapsed();
    });
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
    EXPECT_GE(closing, 0);
    EXPECT_LT(closing, 1000);
    EXPECT_EQ(web.eventsOf("upload-start").size(), 10);   // the last two never started
}
