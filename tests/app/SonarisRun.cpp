#include "SonarisRun.h"

#include "TestSupport.h"
#include "VDB.h"
#include "ZvDB.h"
#include "ZvDBLog.h"

#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QThread>

#include <chrono>
#include <csignal>

SonarisRun::SonarisRun(const QString& runtimeDir)
{
    if (runtimeDir.isEmpty()) {
        m_ownRuntime = std::make_unique<QTemporaryDir>();
        m_runtimeDir = m_ownRuntime->path();
    } else {
        m_runtimeDir = runtimeDir;
    }
    const QString built = TestSupport::binaryDir() + QStringLiteral("/src/");
    m_valid = m_dir.isValid() && QFile::copy(built + QStringLiteral("sonaris"), path(QStringLiteral("sonaris")))
              && copyFiles(built + QStringLiteral("language"), path(QStringLiteral("language")));
}

bool SonarisRun::copyFiles(const QString& from, const QString& to)
{
    const QStringList names = QDir(from).entryList(QDir::Files);
    if (names.isEmpty() || !QDir().mkpath(to))
        return false;
    for (const QString& name : names)
        if (!QFile::copy(from + QLatin1Char('/') + name, to + QLatin1Char('/') + name))
            return false;
    return true;
}

SonarisRun::~SonarisRun()
{
    if (isRunning()) {
        signal(SIGTERM);
        if (!m_process->waitForFinished(20000)) {
            m_process->kill();
            m_process->waitForFinished(5000);
        }
    }
}

bool SonarisRun::seed(const QList<QPair<QString, QString>>& settings)
{
    VDB::setDataRoot(dir());
    bool stored = true;
    {
        ZvDB db;
        db.checkUpgrade();
        db.initDefaults();
        for (const auto& setting : settings)
            stored = db.setSetting(setting.first, setting.second) >= 0 && stored;
    }
    {
        ZvDBLog log;
        log.checkUpgrade();
    }
    VDB::setDataRoot(QString());
    return stored;
}

QByteArray SonarisRun::sqlite(const QString& sql) const
{
    const TestSupport::Result result = TestSupport::run(QStringLiteral("sqlite3"), {databaseFile(), sql}, 20000);
    if (result.exitCode != 0)
        return QByteArray();
    return result.out.isNull() ? QByteArray("") : result.out;
}

bool SonarisRun::addChannel(int id, const QString& address, int codec, const QString& file, bool httpApi,
                            bool httpOutput)
{
    const QString sql =
        QStringLiteral("insert into rtp(id, sortIndex, name, address, codec, volume, source, playlist, "
                       "scheduleStatus, sipStatus, httpApi, httpOutput) values(%1, %1, 'channel %1', '%2', %3, "
                       "100, 1, '%4', 0, 0, %5, %6);")
            .arg(id)
            .arg(address)
            .arg(codec)
            .arg(QString(file).replace(QLatin1Char('\''), QStringLiteral("''")))
            .arg(httpApi ? 1 : 0)
            .arg(httpOutput ? 1 : 0);
    return !sqlite(sql).isNull();
}

bool SonarisRun::start(const QStringList& environment)
{
    if (!m_valid)
        return false;
    m_output.clear();
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->setWorkingDirectory(dir());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtimeDir);
    env.remove(QStringLiteral("SONARIS_APP_DIR"));
    for (const QString& entry : environment) {
        const int equals = entry.indexOf(QLatin1Char('='));
        env.insert(entry.left(equals), entry.mid(equals + 1));
    }
    m_process->setProcessEnvironment(env);
    m_process->start(path(QStringLiteral("sonaris")), QStringList());
    return m_process->waitForStarted(10000);
}

void SonarisRun::collect()
{
    if (m_process)
        m_output += m_process->readAll();
}

bool SonarisRun::waitForOutput(const QByteArray& text, int timeoutMs)
{
    const auto t0 = std::chrono::steady_clock::now();
    while (TestSupport::msSince(t0) < timeoutMs) {
        collect();
        if (m_output.contains(text))
            return true;
        if (!isRunning())
            break;
        m_process->waitForReadyRead(50);
    }
    collect();
    return m_output.contains(text);
}

int SonarisRun::waitForExit(int timeoutMs)
{
    if (!m_process)
        return -1000;
    const auto t0 = std::chrono::steady_clock::now();
    while (isRunning() && TestSupport::msSince(t0) < timeoutMs) {
        collect();
        m_process->waitForFinished(50);
    }
    collect();
    if (isRunning() || m_process->exitStatus() != QProcess::NormalExit)
        return -1000;
    return m_process->exitCode();
}

void SonarisRun::signal(int number)
{
    if (isRunning())
        ::kill(static_cast<pid_t>(m_process->processId()), number);
}

qint64 SonarisRun::pid() const
{
    return m_process ? m_process->processId() : 0;
}

bool SonarisRun::isRunning() const
{
    return m_process && m_process->state() != QProcess::NotRunning;
}

QByteArray SonarisRun::output()
{
    collect();
    return m_output;
}

QStringList SonarisRun::logFiles() const
{
    return QDir(path(QStringLiteral("log"))).entryList(QDir::Files, QDir::Name);
}
