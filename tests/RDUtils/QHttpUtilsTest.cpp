#include "QHttpUtils.h"
#include "RDLog.h"
#include "RDString.h"
#include "RDTcpSocket.h"
#include "RDTcpSocketServer.h"
#include "RDThread.h"
#include "TestLogFile.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
#include <QSslSocket>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <list>
#include <mutex>
#include <random>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// Runs a function on an RDThread (a plain pthread that Qt adopts), the way the device tool's
// upload thread uses the client.
class Worker : public RDThread
{
public:
    explicit Worker(std::function<void()> body) : m_body(std::move(body)) { setName("QHttpUtilsTest"); }
    static void run(std::function<void()> body)
    {
        Worker worker(std::move(body));
        ASSERT_TRUE(worker.start());
        worker.wait();
    }

protected:
    void run() override { m_body(); }

private:
    std::function<void()> m_body;
};

// An HTTP/1.1 server on loopback that records each request and answers with what the test's
// responder returns (an empty answer holds the connection open without a reply).
class ScriptedServer
{
public:
    struct Request
    {
        std::string head;
        std::string body;
        std::string header(const std::string& name) const
        {
            size_t at = head.find("\r\n");
            while (at != std::string::npos && at + 2 < head.size()) {
                const size_t end = head.find("\r\n", at + 2);
                const std::string line = head.substr(at + 2, end - at - 2);
                const size_t colon = line.find(':');
                if (colon != std::string::npos && compareIgnoreCase(line.substr(0, colon), name) == 0) {
                    std::string value = line.substr(colon + 1);
                    return trim(value);
                }
                at = end;
            }
            return std::string();
        }
        bool hasHeader(const std::string& name) const
        {
            return head.find("\r\n" + name + ":") != std::string::npos;
        }
    };
    using Responder = std::function<std::string(const Request&)>;

    explicit ScriptedServer(Responder responder) : m_responder(std::move(responder))
    {
        m_server.open(RDSocketAddress("127.0.0.1", 0));
        m_thread = std::thread([this] { acceptLoop(); });
    }
    ~ScriptedServer()
    {
        m_stop = true;
        m_thread.join();
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto& c : m_clients) {
            c.second->shutdown();
            c.first.join();
            delete c.second;
        }
    }
    int port() const { return m_server.address().port(); }
    QString url(const QString& path) const { return QString("http://127.0.0.1:%1%2").arg(port()).arg(path); }
    std::vector<Request> requests()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_requests;
    }
    int connections() const { return m_connections; }

    static std::string answer(const std::string& body, const std::string& extraHeaders = std::string())
    {
        return "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) +
               "\r\nConnection: close\r\n" + extraHeaders + "\r\n" + body;
    }

private:
    void acceptLoop()
    {
        while (!m_stop) {
            if (m_server.waitReadable(0, 10000) != 1)
                continue;
            RDTcpSocket* socket = m_server.accept();
            if (!socket)
                continue;
            ++m_connections;
            std::lock_guard<std::mutex> lock(m_mutex);
            m_clients.emplace_back(std::thread([this, socket] { serve(socket); }), socket);
        }
    }
    void serve(RDTcpSocket* socket)
    {
        std::string pending;
        char buffer[65536];
        auto fill = [&]() {
            while (!m_stop && socket->isValid()) {
                if (socket->waitReadable(0, 10000) != 1)
                    continue;
                const int n = socket->recv(buffer, sizeof(buffer));
                if (n > 0) {
                    pending.append(buffer, static_cast<size_t>(n));
                    return true;
                }
            }
            return false;
        };
        size_t end;
        while ((end = pending.find("\r\n\r\n")) == std::string::npos) {
            if (!fill())
                return;
        }
        Request request;
        request.head = pending.substr(0, end);
        pending.erase(0, end + 4);
        const size_t length = std::strtoul(request.header("Content-Length").c_str(), nullptr, 10);
        while (pending.size() < length) {
            if (!fill())
                return;
        }
        request.body = pending.substr(0, length);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_requests.push_back(request);
        }
        const std::string response = m_responder(request);
        if (response.empty()) {
            while (fill()) {
            }
            return;
        }
        socket->sendAll(response.data(), static_cast<int>(response.size()), 5000);
        socket->shutdown();
    }

    Responder m_responder;
    RDTcpSocketServer m_server;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    std::thread m_thread;
    std::mutex m_mutex;
    std::list<std::pair<std::thread, RDTcpSocket*>> m_clients;
    std::vector<Request> m_requests;
};

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray randomBytes(int size, unsigned seed)
{
    std::mt19937 random(seed);
    QByteArray bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random() & 0xFF);
    return bytes;
}

TEST(QHttpUtils, SessionCookieTable)
{
    struct Case
    {
        QString setCookie;
        QString session;
    } cases[] = {
        {"session=abc; Path=/", "abc"},
        {"session=abc", "abc"},
        {"SESSION=XYZ; HttpOnly", "XYZ"},
        {"Session=1", "1"},
        {"session=ab==; Path=/", "ab=="},
        {"other=1; session=zzz", ""},
        {"other=1;session=zzz", "zzz"},
        {"session", ""},
        {"sessionid=5", ""},
        {"", ""},
        {"session=", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(QHttpUtils::parseSessionCookie(c.setCookie), c.session) << c.setCookie.toStdString();
}

TEST(QHttpUtils, FileNamesAreQuotedSafely)
{
    EXPECT_EQ(QHttpUtils::quotedFileName("fw-1.2.bin"), "fw-1.2.bin");
    EXPECT_EQ(QHttpUtils::quotedFileName("a\"b\\c.bin"), "a\\\"b\\\\c.bin");
    EXPECT_EQ(QHttpUtils::quotedFileName(QString("a\r\nb\tc") + QChar(0x7F) + "d"), "abcd");
}

TEST(QHttpUtils, FormPostsCarryTheSessionCookieLearnedOnAWorkerThread)
{
    std::atomic<int> step{0};
    ScriptedServer server([&](const ScriptedServer::Request&) {
        switch (step++) {
        case 0:
            return ScriptedServer::answer("login ok", "Set-Cookie: session=abc; Path=/\r\n");
        case 1:
            return ScriptedServer::answer("no cookie here");
        case 2:
            return ScriptedServer::answer("other", "Set-Cookie: theme=dark; session=zzz\r\n");
        case 3:
            return ScriptedServer::answer("renewed", "Set-Cookie: lang=en\r\nSet-Cookie: SESSION=q==; Secure\r\n");
        default:
            return ScriptedServer::answer("last");
        }
    });
    std::vector<QByteArray> replies;
    std::vector<QString> sessions;
    Worker::run([&] {
        QHttpUtils client;
        for (int i = 0; i < 5; ++i) {
            replies.push_back(client.post(server.url("/cgi-bin/CGI?login"), "user=admin&pass=a%26b"));
            sessions.push_back(client.session());
        }
    });
    ASSERT_EQ(replies.size(), 5u);
    EXPECT_EQ(replies[0], "login ok");
    EXPECT_EQ(replies[4], "last");
    EXPECT_EQ(sessions, (std::vector<QString>{"abc", "abc", "abc", "q==", "q=="}));
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 5u);
    EXPECT_EQ(requests[0].head.rfind("POST /cgi-bin/CGI?login HTTP/1.1\r\n", 0), 0u) << requests[0].head;
    EXPECT_EQ(requests[0].header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(requests[0].body, "user=admin&pass=a%26b");
    EXPECT_EQ(requests[0].header("cookie"), "");
    EXPECT_FALSE(requests[0].hasHeader("cookie"));
    EXPECT_TRUE(requests[1].hasHeader("cookie")) << "the header name is sent as \"cookie\"";
    for (int i = 1; i <= 3; ++i)
        EXPECT_EQ(requests[i].header("Cookie"), "session=abc") << i;
    EXPECT_EQ(requests[4].header("Cookie"), "session=q==");
}

TEST(QHttpUtils, UploadSendsOneFilePartThatPythonReadsBack)
{
    SONARIS_REQUIRE_COMMANDS("python3");
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("firmware \"v2\".bin");
    const QByteArray content = randomBytes(700 * 1024 + 17, 3);
    ASSERT_TRUE(writeFile(path, content));
    ScriptedServer server([](const ScriptedServer::Request&) { return ScriptedServer::answer("{\"result\":0}"); });
    QByteArray reply, missing;
    Worker::run([&] {
        QHttpUtils client;
        client.post(server.url("/login"), "a=b");
        reply = client.upload(server.url("/cgi-bin/upload"), path);
        missing = client.upload(server.url("/cgi-bin/upload"), dir.filePath("absent.bin"));
    });
    EXPECT_EQ(reply, "{\"result\":0}");
    EXPECT_TRUE(missing.isEmpty());
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u) << "a missing file must not be sent";
    EXPECT_EQ(server.connections(), 2);
    const auto& upload = requests[1];
    EXPECT_EQ(upload.head.rfind("POST /cgi-bin/upload HTTP/1.1\r\n", 0), 0u);
    EXPECT_EQ(upload.header("Content-Type"), "multipart/form-data; boundary=window-zaveze-upload");

    const QString message = dir.filePath("message");
    const std::string mime =
        "Content-Type: " + upload.header("Content-Type") + "\r\nMIME-Version: 1.0\r\n\r\n" + upload.body;
    ASSERT_TRUE(writeFile(message, QByteArray::fromStdString(mime)));
    const char* script = "import email, email.policy, hashlib, sys\n"
                         "m = email.message_from_bytes(open(sys.argv[1], 'rb').read(), policy=email.policy.HTTP)\n"
                         "parts = list(m.iter_parts())\n"
                         "print(len(parts))\n"
                         "for p in parts:\n"
                         "    print(p.get_param('name', header='content-disposition'))\n"
                         "    print(p.get_filename())\n"
                         "    print(p.get_content_type())\n"
                         "    print(hashlib.sha256(p.get_payload(decode=True)).hexdigest())\n";
    const auto r = TestSupport::run("python3", {"-c", script, message});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList lines = QString::fromUtf8(r.out).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 5) << r.out.toStdString();
    EXPECT_EQ(lines[0], "1");
    EXPECT_EQ(lines[1], "file");
    EXPECT_EQ(lines[2], "firmware \"v2\".bin");
    EXPECT_EQ(lines[3], "application/octet-stream");
    EXPECT_EQ(lines[4], QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex()));
    EXPECT_EQ(upload.header("Cookie"), "");
}

TEST(QHttpUtils, AServerThatNeverAnswersEndsInTheTimeOut)
{
    ScriptedServer server([](const ScriptedServer::Request&) { return std::string(); });
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("fw.bin");
    ASSERT_TRUE(writeFile(path, randomBytes(4096, 4)));
    double postMs = 0, uploadMs = 0;
    QByteArray postReply = "x", uploadReply = "x";
    Worker::run([&] {
        QHttpUtils client;
        client.setTimeouts(300, 300);
        auto t0 = Clock::now();
        postReply = client.post(server.url("/login"), "a=b");
        postMs = TestSupport::msSince(t0);
        t0 = Clock::now();
        uploadReply = client.upload(server.url("/upload"), path);
        uploadMs = TestSupport::msSince(t0);
    });
    EXPECT_TRUE(postReply.isEmpty());
    EXPECT_TRUE(uploadReply.isEmpty());
    EXPECT_GE(postMs, 250);
    EXPECT_LT(postMs, 3000);
    EXPECT_GE(uploadMs, 250);
    EXPECT_LT(uploadMs, 3000);
}

// A peer posing as a device could otherwise send a body as long as it likes into our memory.
TEST(QHttpUtils, AnswersPastTheLimitAreDroppedAndAnswersUpToItKept)
{
    const std::string atLimit(static_cast<size_t>(QHttpUtils::kMaxReplyBytes), 'a');
    const std::string pastLimit(static_cast<size_t>(QHttpUtils::kMaxReplyBytes) * 8, 'b');
    ScriptedServer server([&](const ScriptedServer::Request& request) {
        return ScriptedServer::answer(request.head.find("/long") != std::string::npos ? pastLimit : atLimit);
    });
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("fw.bin");
    ASSERT_TRUE(writeFile(path, randomBytes(4096, 5)));
    const TestLogFile log;
    QByteArray postAt, postPast, uploadAt, uploadPast;
    Worker::run([&] {
        QHttpUtils client;
        postAt = client.post(server.url("/login"), "a=b");
        postPast = client.post(server.url("/long/login"), "a=b");
        uploadAt = client.upload(server.url("/upload"), path);
        uploadPast = client.upload(server.url("/long/upload"), path);
    });
    EXPECT_EQ(postAt.size(), QHttpUtils::kMaxReplyBytes);
    EXPECT_EQ(uploadAt.size(), QHttpUtils::kMaxReplyBytes);
    EXPECT_TRUE(postPast.isEmpty()) << postPast.size();
    EXPECT_TRUE(uploadPast.isEmpty()) << uploadPast.size();
    for (const char* where : {"/long/login", "/long/upload"})
        EXPECT_EQ(log.count(QStringLiteral("%1 is longer than 1048576 bytes, dropped").arg(where)), 1)
            << where << "\n" << log.text().toStdString();
}

TEST(QHttpUtils, AbortFromAnotherThreadEndsAPostAndAnUploadAtOnce)
{
    ScriptedServer server([](const ScriptedServer::Request&) { return std::string(); });
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("fw.bin");
    ASSERT_TRUE(writeFile(path, randomBytes(64 * 1024, 5)));
    for (const bool isUpload : {false, true}) {
        SCOPED_TRACE(isUpload ? "upload" : "post");
        std::atomic<QHttpUtils*> client{nullptr};
        std::atomic<double> endedAt{0};
        const size_t before = server.requests().size();
        const auto t0 = Clock::now();
        QByteArray reply = "x", later = "x";
        Worker worker([&] {
            QHttpUtils own;
            client = &own;
            reply = isUpload ? own.upload(server.url("/upload"), path) : own.post(server.url("/login"), "a=b");
            endedAt = TestSupport::msSince(t0);
            // An aborted helper sends nothing more.
            later = own.post(server.url("/again"), "a=b");
            while (client) // the aborting thread lets go first
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        });
        ASSERT_TRUE(worker.start());
        // The request has reached the server, which holds it unanswered.
        while (server.requests().size() == before)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const double abortAt = TestSupport::msSince(t0);
        client.load()->abort();
        client = nullptr;
        worker.wait();
        EXPECT_TRUE(reply.isEmpty());
        EXPECT_TRUE(later.isEmpty());
        EXPECT_LT(endedAt - abortAt, 500) << "abort did not end the wait promptly";
    }
    EXPECT_EQ(server.connections(), 2);
}

TEST(QHttpUtils, AbortRacingTheReplyIsClean)
{
    // The answer comes after about as long as the client takes to notice an abort.
    ScriptedServer server([](const ScriptedServer::Request&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return ScriptedServer::answer("done");
    });
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("fw.bin");
    ASSERT_TRUE(writeFile(path, randomBytes(32 * 1024, 6)));
    std::mt19937 random(7);
    int completed = 0;
    for (int i = 0; i < 20; ++i) {
        std::atomic<QHttpUtils*> client{nullptr};
        std::atomic<bool> release{false};
        QByteArray reply;
        Worker worker([&] {
            QHttpUtils own;
            client = &own;
            reply = i % 2 ? own.upload(server.url("/upload"), path) : own.post(server.url("/login"), "a=b");
            while (!release)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        });
        ASSERT_TRUE(worker.start());
        while (!client)
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 25000));
        client.load()->abort();
        release = true;
        worker.wait();
        EXPECT_TRUE(reply.isEmpty() || reply == "done") << reply.toStdString();
        completed += reply == "done";
    }
    RecordProperty("completed", completed);
}

TEST(QHttpUtils, DeviceModeAcceptsASelfSignedCertificateAndLogsItsFingerprint)
{
    SONARIS_REQUIRE_PEER(QSslSocket::supportsSsl(), "a TLS backend for Qt (libssl)");
    SONARIS_REQUIRE_COMMANDS("openssl", "python3");
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString cert = dir.filePath("cert.pem"), key = dir.filePath("key.pem");
    auto made = TestSupport::run("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out",
                                             cert, "-days", "1", "-subj", "/CN=127.0.0.1"});
    ASSERT_EQ(made.exitCode, 0) << made.err.toStdString();
    auto print = TestSupport::run("openssl", {"x509", "-in", cert, "-noout", "-fingerprint", "-sha256"});
    ASSERT_EQ(print.exitCode, 0);
    const QString fingerprint = QString::fromLatin1(print.out).trimmed().section('=', 1);
    ASSERT_FALSE(fingerprint.isEmpty());

    const char* script = "import http.server, ssl, sys\n"
                         "class H(http.server.BaseHTTPRequestHandler):\n"
                         "    def do_POST(self):\n"
                         "        self.rfile.read(int(self.headers.get('Content-Length', 0)))\n"
                         "        self.send_response(200)\n"
                         "        self.send_header('Content-Length', '2')\n"
                         "        self.end_headers()\n"
                         "        self.wfile.write(b'ok')\n"
                         "    def log_message(self, *a):\n"
                         "        pass\n"
                         "s = http.server.HTTPServer(('127.0.0.1', 0), H)\n"
                         "c = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)\n"
                         "c.load_cert_chain(sys.argv[1], sys.argv[2])\n"
                         "s.socket = c.wrap_socket(s.socket, server_side=True)\n"
                         "print(s.server_address[1], flush=True)\n"
                         "s.serve_forever()\n";
    QProcess python;
    python.start("python3", {"-c", script, cert, key});
    ASSERT_TRUE(python.waitForReadyRead(10000));
    const int port = python.readLine().trimmed().toInt();
    ASSERT_GT(port, 0);
    const QString url = QString("https://127.0.0.1:%1/cgi-bin/CGI?login").arg(port);

    QTemporaryDir logDir;
    RDLog::instance()->init(logDir.path().toStdString(), 0);
    QByteArray verified = "x", device;
    Worker::run([&] {
        QHttpUtils normal;
        normal.setTimeouts(5000, 5000);
        verified = normal.post(url, "a=b");
        QHttpUtils forDevice;
        forDevice.setTimeouts(5000, 5000);
        forDevice.setAcceptDeviceCertificates(true);
        device = forDevice.post(url, "a=b");
    });
    const std::string logPath = RDLog::instance()->currentPath();
    RDLog::instance()->close();
    python.kill();
    python.waitForFinished(5000);

    EXPECT_TRUE(verified.isEmpty()) << "a self-signed certificate passed verification";
    EXPECT_EQ(device, "ok");
    QFile log(QString::fromStdString(logPath));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QByteArray text = log.readAll();
    EXPECT_TRUE(text.contains(("accepting the certificate of 127.0.0.1, SHA-256 fingerprint " + fingerprint).toLatin1()))
        << text.toStdString() << "\nexpected " << fingerprint.toStdString();
}

} // namespace
