#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <condition_variable>
#include <memory>
#include <mutex>

class RDFunctionThread;

// Playing times of media files for the lists of the windows (playlist rows, bell table). Opening
// every file to measure it took the GUI thread tens of milliseconds per file, so the files are
// probed on one worker thread and the results kept by (path, size, modification time): a list
// shows at once with the times it knows, and the rest arrive through durationReady. A file that
// changes on disk is measured again; one that cannot be read measures 0.
//
// GUI thread only, apart from the worker. The worker is stopped and joined by the destructor.
class RDDurationCache : public QObject
{
    Q_OBJECT
public:
    RDDurationCache();
    ~RDDurationCache() override;

    RDDurationCache(const RDDurationCache&) = delete;
    RDDurationCache& operator=(const RDDurationCache&) = delete;

    // The process-wide cache, made on first use and deleted with the application object.
    static RDDurationCache* instance();

    // The seconds when known for the file as it is now; otherwise the probe is queued (once per
    // path) and kUnknown returned, and durationReady follows.
    double duration(const QString& path);
    // Seconds measured so far, as duration() would answer them, without queuing anything.
    bool cached(const QString& path, double* seconds) const;

    // Paths queued or being probed.
    int pendingCount() const;

    static constexpr double kUnknown = -1.0;
    // Entries kept; past it the cache starts again empty (a list of this many files is far
    // beyond what an operator builds by hand).
    static constexpr int kMaxEntries = 20000;

signals:
    // On the GUI thread, for each probe that finished.
    void durationReady(const QString& path, double seconds);

private slots:
    void onProbed(const QString& path, qint64 size, qint64 modified, double seconds);

private:
    struct Entry
    {
        qint64 size = -1;
        qint64 modified = -1;
        double seconds = kUnknown;
    };
    struct Stamp
    {
        qint64 size = -1;
        qint64 modified = -1;
    };
    static Stamp stampOf(const QString& path);
    void probeLoop();

    QHash<QString, Entry> m_entries;

    // Shared with the worker.
    mutable std::mutex m_queueMutex;
    std::condition_variable m_queueChanged;
    QStringList m_queue;
    QString m_probing;
    bool m_stopping = false;

    std::unique_ptr<RDFunctionThread> m_thread;
};
