// Figures of the running program (a copy of the built binary in a temporary folder, on the
// offscreen platform): the time from the start of the process to an "/api" that answers, the
// CPU it uses while idle with 8 stopped channels, and the time from an "/api" start to the
// first RTP packet of that channel at a loopback receiver.
//
//   bench_app [--rounds R] [--idle-seconds S] [--binary PATH]

#include "VDB.h"
#include "ZvDB.h"
#include "ZvDBLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <QSqlDatabase>
#include <QSqlQuery>

#include <algorithm>
#include <cstring>
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kStoppedChannels = 8;
constexpr int kStartChannel = 100;

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

int boundSocket(int type, int* port)
{
    const int fd = socket(AF_INET, type, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        close(fd);
        return -1;
    }
    socklen_t length = sizeof(address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    *port = ntohs(address.sin_port);
    return fd;
}

int freeTcpPort()
{
    int port = 0;
    const int fd = boundSocket(SOCK_STREAM, &port);
    close(fd);
    return port;
}

// One GET; the status (0: no answer).
int httpGet(int port, const char* target, int timeoutMs)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int status = 0;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) {
        char request[256];
        const int n = std::snprintf(request, sizeof(request), "GET %s HTTP/1.0\r\n\r\n", target);
        if (send(fd, request, size_t(n), MSG_NOSIGNAL) == n) {
            pollfd waiting = {fd, POLLIN, 0};
            char reply[512] = {};
            if (poll(&waiting, 1, timeoutMs) > 0 && recv(fd, reply, sizeof(reply) - 1, 0) > 12)
                status = std::atoi(reply + 9);
        }
    }
    close(fd);
    return status;
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(p * double(values.size())))];
}

long cpuTicks(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    // Fields 14 and 15 of the line (utime, stime), counted after the command name.
    return fields.size() > 13 ? fields[11].toLong() + fields[12].toLong() : -1;
}

class Program
{
public:
    Program(const QString& binary, int httpPort, int receiverPort)
    {
        m_ok = m_dir.isValid() && QFile::copy(binary, m_dir.path() + QStringLiteral("/sonaris"));
        // The language tables go with the binary, as in an installation: start-up reads one.
        const QDir languages(QFileInfo(binary).absolutePath() + QStringLiteral("/language"));
        QDir().mkpath(m_dir.path() + QStringLiteral("/language"));
        for (const QString& name : languages.entryList(QDir::Files))
            QFile::copy(languages.filePath(name), m_dir.path() + QStringLiteral("/language/") + name);
        VDB::setDataRoot(m_dir.path());
        {
            ZvDB db;
            db.checkUpgrade();
            db.initDefaults();
            db.setSetting(QStringLiteral("http port"), QString::number(httpPort));
            db.setSetting(QStringLiteral("sip port"), QString::number(freeTcpPort()));
            QSqlQuery query(QSqlDatabase::database(db.connectionName()));
            for (int i = 0; i < kStoppedChannels + 1; ++i) {
                const int id = i < kStoppedChannels ? i + 10 : kStartChannel;
                query.exec(QStringLiteral("insert into rtp(id, sortIndex, name, address, codec, volume, source, playlist, "
                                          "httpApi, httpOutput) values(%1, %1, 'c%1', '127.0.0.1:%2', 0, 100, 1, '%3', 1, 1)")
                               .arg(id)
                               .arg(receiverPort)
                               .arg(m_dir.path() + QStringLiteral("/tone.mp3")));
            }
        }
        {
            ZvDBLog log;
            log.checkUpgrade();
        }
        VDB::setDataRoot(QString());
        m_ok = m_ok && QProcess::execute(QStringLiteral("ffmpeg"),
                                         {QStringLiteral("-loglevel"), QStringLiteral("error"), QStringLiteral("-f"),
                                          QStringLiteral("lavfi"), QStringLiteral("-i"), QStringLiteral("sine=f=1000:d=60"),
                                          QStringLiteral("-ar"), QStringLiteral("44100"),
                                          m_dir.path() + QStringLiteral("/tone.mp3")}) == 0;
    }

    bool ok() const { return m_ok; }

    bool start()
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.setStandardErrorFile(QProcess::nullDevice());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.path());
        m_process.setProcessEnvironment(env);
        m_process.start(m_dir.path() + QStringLiteral("/sonaris"), QStringList());
        return m_process.waitForStarted(10000);
    }

    int stop()
    {
        ::kill(pid_t(m_process.processId()), SIGTERM);
        m_process.waitForFinished(30000);
        return m_process.exitCode();
    }

    qint64 pid() const { return m_process.processId(); }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    bool m_ok = false;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int rounds = 10;
    int idleSeconds = 10;
    QString binary = QStringLiteral(SONARIS_BINARY_DIR "/src/sonaris");
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--rounds"))
            rounds = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--idle-seconds"))
            idleSeconds = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--binary"))
            binary = QString::fromLocal8Bit(argv[i + 1]);
    }
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});

    int receiverPort = 0;
    const int receiver = boundSocket(SOCK_DGRAM, &receiverPort);
    const int httpPort = freeTcpPort();
    Program program(binary, httpPort, receiverPort);
    if (!program.ok()) {
        std::fprintf(stderr, "cannot prepare the program folder\n");
        return 1;
    }

    // Start-up: from the spawn to the first "/api" answer.
    std::vector<double> startups;
    for (int round = 0; round < rounds; ++round) {
        const double t0 = now();
        if (!program.start())
            return 1;
        while (httpGet(httpPort, "/api?id=0", 100) != 200 && now() - t0 < 30)
            usleep(1000);
        startups.push_back((now() - t0) * 1000);
        if (round + 1 < rounds)
            program.stop();
    }
    std::printf("start-up to a listening \"/api\" (%d runs): median %.1f ms, p90 %.1f ms, max %.1f ms\n", rounds,
                percentile(startups, 0.5), percentile(startups, 0.9), percentile(startups, 1.0));

    // Idle: 8 stopped channels (and the scheduler, the SIP agent and the servers waiting).
    usleep(2000000);
    const long ticks0 = cpuTicks(program.pid());
    const double idle0 = now();
    usleep(useconds_t(idleSeconds) * 1000000);
    const long ticks1 = cpuTicks(program.pid());
    const double cpu = double(ticks1 - ticks0) / double(sysconf(_SC_CLK_TCK)) / (now() - idle0) * 100;
    std::printf("idle CPU with %d stopped channels over %d s: %.3f %% of a core\n", kStoppedChannels, idleSeconds, cpu);

    // "/api" start to the first RTP packet.
    std::vector<double> firsts;
    char target[64];
    for (int round = 0; round < rounds; ++round) {
        char drain[2048];
        while (recv(receiver, drain, sizeof(drain), MSG_DONTWAIT) > 0) {
        }
        std::snprintf(target, sizeof(target), "/api?action=start&id=%d", kStartChannel);
        const double t0 = now();
        if (httpGet(httpPort, target, 5000) != 200)
            std::fprintf(stderr, "start failed\n");
        pollfd waiting = {receiver, POLLIN, 0};
        if (poll(&waiting, 1, 5000) > 0)
            firsts.push_back((now() - t0) * 1000);
        std::snprintf(target, sizeof(target), "/api?action=stop&id=%d", kStartChannel);
        httpGet(httpPort, target, 5000);
        usleep(100000);
    }
    std::printf("\"/api\" start to the first RTP packet (%zu runs): median %.1f ms, p90 %.1f ms, max %.1f ms\n",
                firsts.size(), percentile(firsts, 0.5), percentile(firsts, 0.9), percentile(firsts, 1.0));
    const int code = program.stop();
    close(receiver);
    return code;
}
