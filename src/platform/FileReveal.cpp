#include "FileReveal.h"

#include "RDLog.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThreadPool>
#include <QUrl>

#include <atomic>

#include <sys/stat.h>

namespace {

// A value in a D-Bus address: bytes outside [-0-9A-Za-z_/.\*] are written %XX, as the D-Bus
// address format ("Server Addresses") requires.
QString addressValue(const QString& value)
{
    static const QByteArray kPlain = QByteArrayLiteral("-_/.\\*");
    QString out;
    for (const char c : value.toLocal8Bit()) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z')
            || kPlain.contains(c))
            out += QLatin1Char(c);
        else
            out += QStringLiteral("%%1").arg(byte, 2, 16, QLatin1Char('0'));
    }
    return out;
}

} // namespace

void FileReveal::reveal(const QString& path, Done done, int answerTimeoutMs)
{
    QThreadPool::globalInstance()->start([path, done, answerTimeoutMs] {
        const Outcome outcome = run(path, answerTimeoutMs);
        if (done)
            done(outcome);
    });
}

QString FileReveal::sessionBusAddress()
{
    const QString address = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    if (!address.isEmpty())
        return address;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.isEmpty())
        return QString();
    const QString socket = runtime + QStringLiteral("/bus");
    struct stat info {};
    if (::stat(QFile::encodeName(socket).constData(), &info) != 0 || !S_ISSOCK(info.st_mode))
        return QString();
    return QStringLiteral("unix:path=") + addressValue(socket);
}

QString FileReveal::fileUri(const QString& path)
{
    return QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString(QUrl::FullyEncoded);
}

QString FileReveal::program()
{
    return QStringLiteral("xdg-open");
}

QStringList FileReveal::arguments(const QString& path)
{
    return {QFileInfo(path).absolutePath()};
}

FileReveal::Outcome FileReveal::run(const QString& path, int answerTimeoutMs)
{
    if (path.isEmpty())
        return Outcome::Failed;
    if (showItems(path, answerTimeoutMs))
        return Outcome::Shown;
    return openFolder(path) ? Outcome::FolderOpened : Outcome::Failed;
}

bool FileReveal::showItems(const QString& path, int answerTimeoutMs)
{
    // The bus is looked up for every reveal, the way libdbus does but without its X11
    // autolaunch (a bus started just now has no file manager on it). Qt's shared session
    // connection would keep the address of its first use for the life of the process, and stay
    // dead once that bus went away.
    const QString address = sessionBusAddress();
    if (address.isEmpty()) {
        RDLOG("No session bus to ask a file manager to show %s", path.toUtf8().constData());
        return false;
    }
    static std::atomic<unsigned> serial{0};
    const QString name = QStringLiteral("FileReveal-%1").arg(++serial);
    bool shown = false;
    {
        const QDBusConnection bus = QDBusConnection::connectToBus(address, name);
        if (!bus.isConnected()) {
            RDLOG("Cannot reach the session bus %s: %s", address.toUtf8().constData(),
                  bus.lastError().message().toUtf8().constData());
        } else {
            QDBusMessage call = QDBusMessage::createMethodCall(QLatin1String(kService), QLatin1String(kObjectPath),
                                                               QLatin1String(kInterface), QLatin1String(kMethod));
            // No startup notification id: the program has none of its own to hand on.
            call << QStringList{fileUri(path)} << QString();
            const QDBusMessage reply = bus.call(call, QDBus::Block, answerTimeoutMs);
            shown = reply.type() == QDBusMessage::ReplyMessage;
            if (!shown)
                RDLOG("No file manager showed %s: %s %s", path.toUtf8().constData(),
                      reply.errorName().toUtf8().constData(), reply.errorMessage().toUtf8().constData());
        }
    }
    QDBusConnection::disconnectFromBus(name);
    return shown;
}

bool FileReveal::openFolder(const QString& path)
{
    if (!QProcess::startDetached(program(), arguments(path))) {
        RDLOG("cannot start %s for %s", program().toUtf8().constData(), path.toUtf8().constData());
        return false;
    }
    return true;
}
