// Resident memory of the running program (a copy of the built binary in a temporary folder, on
// the offscreen platform, authentication on) while one WebSocket client that never logs in
// sends many messages, each answered with -9999:
//   plain      {"id0":{"a":[1,2,3]},"id":1,"method0":{"a":[]},"method":"Nope"}
//   repeated   {"id":{"a":[1,2,3]},"id":1,"method":{"a":[]},"method":"Nope"}
// The two have the same size and shape; only the repeated keys differ. Each kind runs in a
// fresh process; the client keeps at most kInFlight messages unanswered, and the baseline is
// taken after kWarmUp messages of the same kind.
//
//   bench_json_ws_rss [--messages N] [--binary PATH]

#include "BenchProcess.h"
#include "VDB.h"
#include "ZvDB.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kInFlight = 64;
// Messages sent before the baseline is taken: the heap of the program's threads settles by then
// (64 left it some 6 MB short of its level).
constexpr int kWarmUp = 10000;
const uint8_t kMask[4] = {0x12, 0x34, 0x56, 0x78};

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

int freeTcpPort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    socklen_t length = sizeof(address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

// A WebSocket client on a raw socket: masked text frames out, the server's frames counted.
class Client
{
public:
    ~Client()
    {
        if (m_fd >= 0)
            close(m_fd);
    }

    bool connectTo(int port, double timeoutSeconds)
    {
        for (const double end = now() + timeoutSeconds; now() < end; usleep(50 * 1000)) {
            m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            const int on = 1;
            setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(uint16_t(port));
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0)
                return handshake();
            close(m_fd);
            m_fd = -1;
        }
        return false;
    }

    bool sendText(const std::string& text)
    {
        std::string frame;
        frame += char(0x81);
        if (text.size() < 126) {
            frame += char(0x80 | text.size());
        } else {
            frame += char(0x80 | 126);
            frame += char(text.size() >> 8);
            frame += char(text.size() & 0xff);
        }
        frame.append(reinterpret_cast<const char*>(kMask), 4);
        for (size_t i = 0; i < text.size(); ++i)
            frame += char(text[i] ^ kMask[i % 4]);
        return sendAll(frame);
    }

    // Reads what has come within timeoutMs and counts the whole text frames in it.
    bool readFrames(int timeoutMs)
    {
        pollfd p{m_fd, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) != 1)
            return false;
        char chunk[65536];
        const ssize_t n = recv(m_fd, chunk, sizeof(chunk), 0);
        if (n <= 0)
            return false;
        m_buffer.append(chunk, size_t(n));
        for (;;) {
            if (m_buffer.size() < 2)
                break;
            size_t length = uint8_t(m_buffer[1]) & 0x7f;
            size_t head = 2;
            if (length == 126) {
                if (m_buffer.size() < 4)
                    break;
                length = size_t(uint8_t(m_buffer[2])) << 8 | uint8_t(m_buffer[3]);
                head = 4;
            } else if (length == 127) {
                if (m_buffer.size() < 10)
                    break;
                length = 0;
                for (int i = 2; i < 10; ++i)
                    length = length << 8 | uint8_t(m_buffer[size_t(i)]);
                head = 10;
            }
            if (m_buffer.size() < head + length)
                break;
            // Answers are text frames; a ping of an idle connection is not one.
            if ((uint8_t(m_buffer[0]) & 0x0f) == 1)
                ++frames;
            m_buffer.erase(0, head + length);
        }
        return true;
    }

    long frames = 0;

private:
    bool sendAll(const std::string& bytes)
    {
        for (size_t sent = 0; sent < bytes.size();) {
            const ssize_t n = ::send(m_fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            sent += size_t(n);
        }
        return true;
    }

    bool handshake()
    {
        if (!sendAll("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                     "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n"))
            return false;
        while (m_buffer.find("\r\n\r\n") == std::string::npos) {
            pollfd p{m_fd, POLLIN, 0};
            char chunk[1024];
            if (poll(&p, 1, 10000) != 1)
                return false;
            const ssize_t n = recv(m_fd, chunk, sizeof(chunk), 0);
            if (n <= 0)
                return false;
            m_buffer.append(chunk, size_t(n));
        }
        const bool switched = m_buffer.compare(0, 12, "HTTP/1.1 101") == 0;
        m_buffer.erase(0, m_buffer.find("\r\n\r\n") + 4);
        return switched;
    }

    int m_fd = -1;
    std::string m_buffer;
};

// Sends count messages, at most kInFlight unanswered, and waits for every answer.
bool exchange(Client& client, const std::string& message, int count)
{
    const long answered = client.frames;
    long sent = 0;
    bool alive = true;
    while (alive && client.frames < answered + count) {
        while (alive && sent < count && sent - (client.frames - answered) < kInFlight) {
            alive = client.sendText(message);
            ++sent;
        }
        alive = alive && client.readFrames(10000);
    }
    return alive;
}

struct Run
{
    bool ok = false;
    long before = 0;
    long after = 0;
    double seconds = 0;
};

Run runOnce(const QString& binary, const std::string& message, int messages)
{
    Run run;
    QTemporaryDir dir;
    if (!dir.isValid() || !QFile::copy(binary, dir.path() + QStringLiteral("/sonaris")))
        return run;
    const int apiPort = freeTcpPort();
    VDB::setDataRoot(dir.path());
    {
        ZvDB db;
        db.checkUpgrade();
        db.initDefaults();
        db.setSetting(QStringLiteral("http port"), QString::number(freeTcpPort()));
        db.setSetting(QStringLiteral("sip port"), QString::number(freeTcpPort()));
        db.setSetting(QStringLiteral("api enable"), QStringLiteral("1"));
        db.setSetting(QStringLiteral("api port"), QString::number(apiPort));
        db.setSetting(QStringLiteral("auth enable"), QStringLiteral("1"));
        db.setSetting(QStringLiteral("auth username"), QStringLiteral("admin"));
        db.setSetting(QStringLiteral("auth password"), QStringLiteral("0192023a7bbd73250516f069df18b500"));
    }
    VDB::setDataRoot(QString());

    QProcess program;
    program.setStandardOutputFile(QProcess::nullDevice());
    program.setStandardErrorFile(QProcess::nullDevice());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path());
    program.setProcessEnvironment(env);
    program.start(dir.path() + QStringLiteral("/sonaris"), QStringList());
    if (!program.waitForStarted(10000))
        return run;
    Client client;
    if (client.connectTo(apiPort, 30)) {
        run.ok = exchange(client, message, kWarmUp);
        run.before = BenchProcess::rssKiB(program.processId());
        const double t0 = now();
        run.ok = run.ok && exchange(client, message, messages);
        run.seconds = now() - t0;
        run.after = BenchProcess::rssKiB(program.processId());
    }
    ::kill(pid_t(program.processId()), SIGTERM);
    program.waitForFinished(30000);
    return run;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int messages = 200000;
    QString binary = QStringLiteral(SONARIS_BINARY_DIR "/src/sonaris");
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--messages"))
            messages = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--binary"))
            binary = QString::fromLocal8Bit(argv[i + 1]);
    }
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    const struct
    {
        const char* name;
        std::string message;
    } kinds[] = {
        {"plain", R"({"id0":{"a":[1,2,3]},"id":1,"method0":{"a":[]},"method":"Nope"})"},
        {"repeated keys", R"({"id":{"a":[1,2,3]},"id":1,"method":{"a":[]},"method":"Nope"})"},
    };
    std::printf("RSS across %d WebSocket messages, one client that never logs in\n", messages);
    for (const auto& kind : kinds) {
        const Run run = runOnce(binary, kind.message, messages);
        if (!run.ok) {
            std::printf("%-14s failed (program not reached or connection closed)\n", kind.name);
            continue;
        }
        std::printf("%-14s %7.1f MB -> %7.1f MB (%+6.1f MB) in %5.2f s\n", kind.name, run.before * 1024 / 1e6,
                    run.after * 1024 / 1e6, (run.after - run.before) * 1024 / 1e6, run.seconds);
    }
    return 0;
}
