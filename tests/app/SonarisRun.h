#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// One copy of the program in a temporary folder of its own, the way a user installs it: the
// binary with the "language" folder the build put beside it, and its "database", "log" and
// "crash" folders. Settings and channels are seeded before the start (the settings through the
// database layer, the channels with the sqlite3 command), the program runs on the offscreen
// platform with a runtime directory of the test's own (where its single-instance lock lives),
// and what it prints is collected.
class SonarisRun
{
public:
    // runtimeDir: the folder of the single-instance lock; empty makes one for this run. Give
    // two runs the same one to have them compete for the lock.
    explicit SonarisRun(const QString& runtimeDir = QString());
    ~SonarisRun();

    bool isValid() const { return m_valid; }
    QString dir() const { return m_dir.path(); }
    QString runtimeDir() const { return m_runtimeDir; }
    QString path(const QString& relative) const { return m_dir.path() + QLatin1Char('/') + relative; }
    QString databaseFile() const { return path(QStringLiteral("database/zv.db")); }

    // Makes the databases with their defaults (as a first run would) and stores settings.
    bool seed(const QList<QPair<QString, QString>>& settings);
    // Runs SQL on the channel database with the sqlite3 command; the output, or a null
    // QByteArray when it failed.
    QByteArray sqlite(const QString& sql) const;
    // Inserts a channel with the given id: a playlist of one file, unicast to address.
    bool addChannel(int id, const QString& address, int codec, const QString& file, bool httpApi, bool httpOutput);

    // Starts the program (again); extra environment entries ("NAME=value") are added. The
    // output of an earlier run is dropped.
    bool start(const QStringList& environment = QStringList());
    // Waits until the output holds text; false after timeoutMs or when the program ended first.
    bool waitForOutput(const QByteArray& text, int timeoutMs = 30000);
    // Waits for the end of the program: its exit status (255 for -1), or -1000 on a time-out
    // or a crash.
    int waitForExit(int timeoutMs = 30000);
    // Sends a signal to the running program.
    void signal(int number);
    qint64 pid() const;
    bool isRunning() const;
    // Everything the program printed so far (standard output and error).
    QByteArray output();

    // The files in the log folder.
    QStringList logFiles() const;

    // A started program is waited for (SIGTERM, then SIGKILL) when the object goes away.

private:
    void collect();
    // Copies the files of folder from into folder to (made when missing); false when from has
    // none or a copy failed.
    static bool copyFiles(const QString& from, const QString& to);

    QTemporaryDir m_dir;
    QString m_runtimeDir;
    std::unique_ptr<QTemporaryDir> m_ownRuntime;
    std::unique_ptr<QProcess> m_process;
    QByteArray m_output;
    bool m_valid = false;
};
