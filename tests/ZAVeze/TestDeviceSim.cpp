#include "TestDeviceSim.h"

#include "TestSupport.h"

#include <QFile>
#include <QJsonDocument>
#include <QThread>

#include <chrono>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

QString TestDeviceSim::unavailableReason()
{
    if (interfaceName().isEmpty() || runDir().isEmpty())
        return QStringLiteral("not started by netns-run.sh (no test namespaces)");
    return QString();
}

QString TestDeviceSim::interfaceName()
{
    return qEnvironmentVariable("ZAVEZE_TEST_IF");
}

QString TestDeviceSim::runDir()
{
    return qEnvironmentVariable("ZAVEZE_TEST_DIR");
}

QJsonObject TestDeviceSim::command(const QJsonObject& command)
{
    const QByteArray path = (runDir() + QStringLiteral("/ctl.sock")).toLocal8Bit();
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.constData(), sizeof(address.sun_path) - 1);
    QJsonObject failed{{"ok", false}, {"error", "simulator not reachable"}};
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        if (fd >= 0)
            ::close(fd);
        return failed;
    }
    timeval timeout{60, 0}; // a burst of frames takes a few seconds
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
    const QByteArray line = QJsonDocument(command).toJson(QJsonDocument::Compact) + '\n';
    if (::send(fd, line.constData(), size_t(line.size()), MSG_NOSIGNAL) != line.size()) {
        ::close(fd);
        return failed;
    }
    QByteArray answer;
    char buffer[4096];
    while (!answer.contains('\n')) {
        const ssize_t got = ::recv(fd, buffer, sizeof(buffer), 0);
        if (got <= 0)
            break;
        answer.append(buffer, int(got));
    }
    ::close(fd);
    const QJsonDocument document = QJsonDocument::fromJson(answer.left(answer.indexOf('\n')));
    return document.isObject() ? document.object() : failed;
}

bool TestDeviceSim::fault(const QString& method, const QJsonObject& fault, int count, const QString& mac)
{
    QJsonObject c{{"cmd", "fault"}, {"method", method}, {"fault", fault}, {"count", count}};
    if (!mac.isEmpty())
        c.insert("mac", mac);
    return command(c).value("ok").toBool();
}

QList<QJsonObject> TestDeviceSim::log()
{
    QList<QJsonObject> entries;
    QFile file(runDir() + QStringLiteral("/requests.jsonl"));
    if (!file.open(QIODevice::ReadOnly))
        return entries;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QJsonDocument document = QJsonDocument::fromJson(line);
        if (document.isObject())
            entries.append(document.object());
    }
    return entries;
}

QJsonObject TestDeviceSim::waitForLog(const std::function<bool(const QJsonObject&)>& match, int limitMs)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    do {
        for (const QJsonObject& entry : log())
            if (match(entry))
                return entry;
        QThread::msleep(10);
    } while (std::chrono::steady_clock::now() < end);
    return QJsonObject();
}

bool TestDeviceSim::relink(double downSeconds)
{
    const TestSupport::Result result = TestSupport::run(qEnvironmentVariable("ZAVEZE_TEST_RELINK"),
                                                        {QString::number(downSeconds)});
    if (result.exitCode != 0)
        qWarning("relink failed: %s", result.err.constData());
    return result.exitCode == 0;
}
