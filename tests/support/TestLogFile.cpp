#include "TestLogFile.h"

#include "RDLog.h"
#include "RDThread.h"

#include <QFile>

TestLogFile::TestLogFile()
{
    // A test counts the lines its code writes: a burst of them (one per device, say) must not
    // be cut short by the per-site limit, whose own tests run without this class.
    RDLog::instance()->setSiteLimit(0, RDLog::kSiteWindowMs);
    RDLog::instance()->init(m_dir.path().toStdString(), 0);
}

TestLogFile::~TestLogFile()
{
    RDLog::instance()->close();
    RDLog::instance()->setSiteLimit(RDLog::kSiteLines, RDLog::kSiteWindowMs);
}

QString TestLogFile::text() const
{
    QFile file(QString::fromStdString(RDLog::instance()->currentPath()));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

bool TestLogFile::waitFor(const QString& needle, int times, int ms) const
{
    const double deadline = RDThread::tickTime() + ms / 1000.0;
    while (count(needle) < times) {
        if (RDThread::tickTime() >= deadline)
            return false;
        RDThread::msleep(10);
    }
    return true;
}
