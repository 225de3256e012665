#include "QBreakpadHandler.h"

#include "CrashWriter.h"
#include "QBreakpadHttpUploader.h"
#include "Sonaris.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>

QBreakpadHandler* QBreakpadHandler::instance()
{
    static QBreakpadHandler handler;
    return &handler;
}

void QBreakpadHandler::setDumpPath(const QString& path)
{
    QString folder = path;
    if (QDir::isRelativePath(folder))
        folder = QDir::cleanPath(Sonaris::applicationDir() + QLatin1Char('/') + folder);
    QDir().mkpath(folder);
    if (!QFileInfo(folder).isDir()) {
        qDebug("Failed to set dump path which not exists: %s", qUtf8Printable(folder));
        return;
    }
    m_dumpPath = folder;
    if (CrashWriter::underSanitizer()) {
        qDebug("The sanitizer reports crashes in this build: no crash writer for %s", qUtf8Printable(folder));
        return;
    }
    if (!CrashWriter::install(QFile::encodeName(folder).constData(), Sonaris::kApplicationName, Sonaris::kVersion))
        qDebug("Cannot install the crash writer for %s", qUtf8Printable(folder));
}

void QBreakpadHandler::sendDumps()
{
    if (m_dumpPath.isEmpty())
        return;
    const QStringList dumps = QDir(m_dumpPath).entryList({QStringLiteral("*.dmp")}, QDir::Files);
    for (const QString& name : dumps) {
        qDebug().noquote() << "Sending" << name;
        auto* uploader = new QBreakpadHttpUploader(m_uploadUrl);
        connect(uploader, &QBreakpadHttpUploader::finished, uploader, &QObject::deleteLater);
        uploader->uploadDump(m_dumpPath + QLatin1Char('/') + name);
    }
}
