#include "RDDurationCache.h"

#include "AVConverter.h"
#include "RDFunctionThread.h"
#include "RDLog.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QThread>

RDDurationCache::RDDurationCache()
{
    m_thread.reset(new RDFunctionThread(
        "RDDurationCache", [this](RDThread*) { probeLoop(); },
        [this] {
            std::lock_guard<std::mutex> lock(m_queueMutex);
            m_stopping = true;
            m_queueChanged.notify_all();
        }));
    if (!m_thread->start())
        RDLOG("cannot start the duration probe thread");
}

RDDurationCache::~RDDurationCache()
{
    m_thread->stop();
    m_thread->wait();
}

RDDurationCache* RDDurationCache::instance()
{
    static QPointer<RDDurationCache> cache;
    if (!cache) {
        cache = new RDDurationCache;
        // Deleted with the application, while the event loop's objects still exist.
        cache->setParent(QCoreApplication::instance());
    }
    return cache;
}

RDDurationCache::Stamp RDDurationCache::stampOf(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return Stamp();
    return Stamp{info.size(), info.lastModified().toMSecsSinceEpoch()};
}

bool RDDurationCache::cached(const QString& path, double* seconds) const
{
    const auto found = m_entries.constFind(path);
    if (found == m_entries.constEnd())
        return false;
    const Stamp stamp = stampOf(path);
    if (found->size != stamp.size || found->modified != stamp.modified)
        return false;
    *seconds = found->seconds;
    return true;
}

double RDDurationCache::duration(const QString& path)
{
    double seconds = kUnknown;
    if (cached(path, &seconds))
        return seconds;
    std::lock_guard<std::mutex> lock(m_queueMutex);
    if (m_probing != path && !m_queue.contains(path)) {
        m_queue.append(path);
        m_queueChanged.notify_all();
    }
    return kUnknown;
}

int RDDurationCache::pendingCount() const
{
    std::lock_guard<std::mutex> lock(m_queueMutex);
    return m_queue.size() + (m_probing.isNull() ? 0 : 1);
}

// One file at a time, in the order asked: the rows on screen were asked for first. The stamp is
// taken before the probe, so a file rewritten meanwhile is measured again on its next lookup.
void RDDurationCache::probeLoop()
{
    for (;;) {
        QString path;
        {
            std::unique_lock<std::mutex> lock(m_queueMutex);
            m_probing = QString();
            m_queueChanged.wait(lock, [this] { return m_stopping || !m_queue.isEmpty(); });
            if (m_stopping)
                return;
            path = m_queue.takeFirst();
            m_probing = path;
        }
        const Stamp stamp = stampOf(path);
        const double seconds = AVConverter::duration(path);
        if (!QMetaObject::invokeMethod(this, "onProbed", Qt::QueuedConnection, Q_ARG(QString, path),
                                       Q_ARG(qint64, stamp.size), Q_ARG(qint64, stamp.modified),
                                       Q_ARG(double, seconds)))
            RDLOG("cannot post the duration of %s", path.toUtf8().constData());
    }
}

void RDDurationCache::onProbed(const QString& path, qint64 size, qint64 modified, double seconds)
{
    if (m_entries.size() >= kMaxEntries)
        m_entries.clear();
    m_entries.insert(path, Entry{size, modified, seconds});
    emit durationReady(path, seconds);
}
