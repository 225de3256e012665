#include "AutoStartEntry.h"

#include "RDLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

QString configHome()
{
    const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!xdg.isEmpty() && QDir::isAbsolutePath(xdg))
        return xdg;
    return QDir::homePath() + QStringLiteral("/.config");
}

bool hasControlCharacters(const QString& text)
{
    for (QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return true;
    }
    return false;
}

} // namespace

QString AutoStartEntry::filePath(const QString& applicationName)
{
    QString file = applicationName;
    file.replace(QLatin1Char('/'), QLatin1Char('_'));
    return configHome() + QStringLiteral("/autostart/") + file + QStringLiteral(".desktop");
}

QString AutoStartEntry::quoteExec(const QString& executablePath)
{
    QString quoted;
    quoted.reserve(executablePath.size() + 8);
    quoted += QLatin1Char('"');
    for (QChar c : executablePath) {
        switch (c.unicode()) {
        case '"':
        case '`':
        case '$':
            quoted += QStringLiteral("\\\\");
            quoted += c;
            break;
        case '\\':
            // Escaped for the quoted argument, then each backslash again for the string value.
            quoted += QStringLiteral("\\\\\\\\");
            break;
        case '%':
            quoted += QStringLiteral("%%");
            break;
        default:
            quoted += c;
        }
    }
    quoted += QLatin1Char('"');
    return quoted;
}

QByteArray AutoStartEntry::content(const QString& applicationName, const QString& executablePath)
{
    if (executablePath.isEmpty() || hasControlCharacters(executablePath) || hasControlCharacters(applicationName))
        return QByteArray();
    QByteArray text;
    text += "[Desktop Entry]\n";
    text += "Type=Application\n";
    text += "Name=" + applicationName.toUtf8() + "\n";
    text += "Exec=" + quoteExec(executablePath).toUtf8() + "\n";
    text += "X-GNOME-Autostart-enabled=true\n";
    return text;
}

bool AutoStartEntry::install(const QString& applicationName, const QString& executablePath)
{
    const QByteArray wanted = content(applicationName, executablePath);
    if (wanted.isEmpty()) {
        RDLOGLINE() << "autostart: cannot start this path at log-on: " << executablePath;
        return false;
    }
    const QString path = filePath(applicationName);
    {
        QFile current(path);
        if (current.open(QIODevice::ReadOnly) && current.readAll() == wanted)
            return true;
    }
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)) {
        RDLOGLINE() << "autostart: cannot create " << folder;
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(wanted) != wanted.size() || !file.commit()) {
        RDLOGLINE() << "autostart: cannot write " << path << ": " << file.errorString();
        return false;
    }
    return true;
}

bool AutoStartEntry::remove(const QString& applicationName)
{
    const QString path = filePath(applicationName);
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return true;
    if (!QFile::remove(path)) {
        RDLOGLINE() << "autostart: cannot remove " << path;
        return false;
    }
    return true;
}
