#include "TestLogFile.h"

#include "RDLog.h"

#include <QFile>

TestLogFile::TestLogFile()
{
    RDLog::instance()->init(m_dir.path().toStdString(), 0);
}

TestLogFile::~TestLogFile()
{
    RDLog::instance()->close();
}

QString TestLogFile::text() const
{
    QFile file(QString::fromStdString(RDLog::instance()->currentPath()));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}
