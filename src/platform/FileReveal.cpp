#include "FileReveal.h"

#include "RDLog.h"

#include <QFileInfo>
#include <QProcess>
#include <QStringList>

QString FileReveal::program()
{
    return QStringLiteral("xdg-open");
}

QStringList FileReveal::arguments(const QString& path)
{
    return {QFileInfo(path).absolutePath()};
}

bool FileReveal::reveal(const QString& path)
{
    if (path.isEmpty())
        return false;
    if (!QProcess::startDetached(program(), arguments(path))) {
        RDLOG("cannot start %s for %s", program().toUtf8().constData(), path.toUtf8().constData());
        return false;
    }
    return true;
}
