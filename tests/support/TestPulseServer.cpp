#include "TestPulseServer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QProcessEnvironment>
#include <QThread>

#include <cstdlib>
#include <cstring>

TestPulseServer::TestPulseServer() = default;

TestPulseServer::~TestPulseServer()
{
    stop();
}

QStringList TestPulseServer::defaultModules()
{
    return QStringList{QStringLiteral("module-null-sink sink_name=spk")};
}

QString TestPulseServer::dir() const
{
    return m_dir ? m_dir->path() : QString();
}

QString TestPulseServer::server() const
{
    return m_dir ? QStringLiteral("unix:%1/pa.sock").arg(m_dir->path()) : QString();
}

bool TestPulseServer::isRunning() const
{
    return m_process && m_process->state() == QProcess::Running;
}

bool TestPulseServer::start(const QStringList& modules)
{
    stop();
    m_error.clear();
    const QString missing = TestSupport::missingCommands({QStringLiteral("pulseaudio"), QStringLiteral("pactl"),
                                                         QStringLiteral("pacat")});
    if (!missing.isEmpty()) {
        m_error = missing + QStringLiteral(" not installed");
        return false;
    }
    // A short path: unix socket paths hold about 100 bytes.
    m_dir.reset(new QTemporaryDir(QStringLiteral("/tmp/sonaris-pa-XXXXXX")));
    if (!m_dir->isValid()) {
        m_error = QStringLiteral("no temporary folder");
        m_dir.reset();
        return false;
    }
    const QString path = m_dir->path();

    QStringList arguments{QStringLiteral("-n"),
                          QStringLiteral("--daemonize=no"),
                          QStringLiteral("--system=false"),
                          QStringLiteral("--exit-idle-time=-1"),
                          QStringLiteral("--use-pid-file=no"),
                          QStringLiteral("--disallow-module-loading=no"),
                          QStringLiteral("--log-target=stderr"),
                          QStringLiteral("--load=module-native-protocol-unix auth-anonymous=1 "
                                         "socket=%1/pa.sock")
                              .arg(path)};
    for (const QString& module : modules)
        arguments << QStringLiteral("--load=%1").arg(module);

    // As root the daemon warns but runs; its home and runtime folders are ours, so it neither
    // reads nor writes the user's.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), path);
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), path);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), path + QStringLiteral("/config"));
    environment.insert(QStringLiteral("XDG_STATE_HOME"), path + QStringLiteral("/state"));
    environment.remove(QStringLiteral("PULSE_SERVER"));
    environment.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    environment.remove(QStringLiteral("DISPLAY"));

    m_process.reset(new QProcess);
    m_process->setProcessEnvironment(environment);
    m_process->setWorkingDirectory(path);
    m_process->setStandardOutputFile(path + QStringLiteral("/pulse.log"));
    m_process->setStandardErrorFile(path + QStringLiteral("/pulse.log"), QIODevice::Append);
    m_process->start(QStringLiteral("pulseaudio"), arguments);
    if (!m_process->waitForStarted(10000)) {
        m_error = QStringLiteral("pulseaudio does not start: %1").arg(m_process->errorString());
        stop();
        return false;
    }

    m_hadPreviousServer = qEnvironmentVariableIsSet("PULSE_SERVER");
    m_previousServer = qgetenv("PULSE_SERVER");
    qputenv("PULSE_SERVER", server().toUtf8());

    for (int attempt = 0; attempt < 100; ++attempt) {
        if (m_process->state() != QProcess::Running)
            break;
        if (QFile::exists(path + QStringLiteral("/pa.sock"))
            && pactl({QStringLiteral("info")}, 3000).exitCode == 0) {
            for (const QString& module : modules) {
                if (!module.startsWith(QStringLiteral("module-null-sink")))
                    continue;
                const QRegularExpression name(QStringLiteral("sink_name=(\\S+)"));
                const QRegularExpressionMatch match = name.match(module);
                if (match.hasMatch() && !keepClocked(match.captured(1))) {
                    m_error = QStringLiteral("the null sink %1 cannot be clocked")
                                  .arg(match.captured(1));
                    stop();
                    return false;
                }
            }
            return true;
        }
        QThread::msleep(100);
    }
    QFile log(path + QStringLiteral("/pulse.log"));
    log.open(QIODevice::ReadOnly);
    m_error = QStringLiteral("pulseaudio does not come up: %1")
                  .arg(QString::fromUtf8(log.readAll().right(2000)));
    stop();
    return false;
}

void TestPulseServer::stop()
{
    stopRecording();
    for (std::unique_ptr<QProcess>& keeper : m_keepers) {
        if (keeper->state() != QProcess::NotRunning) {
            keeper->kill();
            keeper->waitForFinished(5000);
        }
    }
    m_keepers.clear();
    if (m_process) {
        if (m_process->state() != QProcess::NotRunning) {
            m_process->terminate();
            if (!m_process->waitForFinished(5000)) {
                m_process->kill();
                m_process->waitForFinished(5000);
            }
        }
        m_process.reset();
        if (m_hadPreviousServer)
            qputenv("PULSE_SERVER", m_previousServer);
        else
            qunsetenv("PULSE_SERVER");
    }
    m_dir.reset();
}

TestSupport::Result TestPulseServer::pactl(const QStringList& arguments, int timeoutMs) const
{
    QStringList all{QStringLiteral("--server=%1").arg(server())};
    all += arguments;
    return TestSupport::run(QStringLiteral("pactl"), all, timeoutMs);
}

int TestPulseServer::loadModule(const QString& name, const QString& arguments) const
{
    QStringList all{QStringLiteral("load-module"), name};
    if (!arguments.isEmpty())
        all += arguments.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const TestSupport::Result result = pactl(all);
    if (result.exitCode != 0)
        return -1;
    bool ok = false;
    const int index = QString::fromUtf8(result.out).trimmed().toInt(&ok);
    return ok ? index : -1;
}

bool TestPulseServer::unloadModule(int index) const
{
    return pactl({QStringLiteral("unload-module"), QString::number(index)}).exitCode == 0;
}

int TestPulseServer::moduleIndex(const QString& name) const
{
    const TestSupport::Result result =
        pactl({QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("modules")});
    for (const QByteArray& line : result.out.split('\n')) {
        const QList<QByteArray> fields = line.split('\t');
        if (fields.size() >= 2 && QString::fromUtf8(fields[1]) == name)
            return fields[0].toInt();
    }
    return -1;
}

bool TestPulseServer::keepClocked(const QString& sink)
{
    if (!isRunning() || !TestSupport::haveCommand(QStringLiteral("pacat")))
        return false;
    const int before = recorderCount();
    std::unique_ptr<QProcess> keeper(new QProcess);
    keeper->setStandardOutputFile(QProcess::nullDevice());
    keeper->setStandardErrorFile(QProcess::nullDevice());
    keeper->start(QStringLiteral("pacat"),
                  {QStringLiteral("--record"), QStringLiteral("--server=%1").arg(server()),
                   QStringLiteral("--device=%1.monitor").arg(sink),
                   QStringLiteral("--latency-msec=10"), QStringLiteral("--raw")});
    if (!keeper->waitForStarted(5000))
        return false;
    const bool connected = waitForRecorders(before + 1);
    m_keepers.push_back(std::move(keeper));
    if (!connected)
        return false;
    return pactl({QStringLiteral("suspend-sink"), sink, QStringLiteral("1")}).exitCode == 0
        && pactl({QStringLiteral("suspend-sink"), sink, QStringLiteral("0")}).exitCode == 0;
}

int TestPulseServer::recorderCount() const
{
    return pactl({QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("source-outputs")})
        .out.count('\n');
}

bool TestPulseServer::waitForRecorders(int count, int timeoutMs) const
{
    QElapsedTimer timer;
    timer.start();
    while (recorderCount() < count) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QThread::msleep(10);
    }
    return true;
}

bool TestPulseServer::startRecording(const QString& sink)
{
    stopRecording();
    if (!isRunning() || !TestSupport::havePeer(QStringLiteral("parec")))
        return false;
    const int before = recorderCount();
    m_recordingPath = dir() + QStringLiteral("/%1-monitor.raw").arg(sink);
    m_recorder.reset(new QProcess);
    m_recorder->setStandardOutputFile(m_recordingPath);
    m_recorder->setStandardErrorFile(QProcess::nullDevice());
    m_recorder->start(QStringLiteral("parec"),
                      {QStringLiteral("--server=%1").arg(server()),
                       QStringLiteral("--device=%1.monitor").arg(sink), QStringLiteral("--raw"),
                       QStringLiteral("--format=s16le"), QStringLiteral("--rate=44100"),
                       QStringLiteral("--channels=2"), QStringLiteral("--latency-msec=20")});
    return m_recorder->waitForStarted(5000) && waitForRecorders(before + 1);
}

QVector<float> TestPulseServer::recorded() const
{
    QVector<float> samples;
    QFile file(m_recordingPath);
    if (m_recordingPath.isEmpty() || !file.open(QIODevice::ReadOnly))
        return samples;
    const QByteArray raw = file.readAll();
    samples.reserve(raw.size() / 4);
    for (int i = 0; i + 3 < raw.size(); i += 4) {
        int16_t v;
        std::memcpy(&v, raw.constData() + i, 2);
        samples.append(v / 32768.0f);
    }
    return samples;
}

QVector<float> TestPulseServer::stopRecording()
{
    if (!m_recorder)
        return QVector<float>();
    m_recorder->terminate();
    if (!m_recorder->waitForFinished(5000)) {
        m_recorder->kill();
        m_recorder->waitForFinished(5000);
    }
    m_recorder.reset();
    QVector<float> samples = recorded();
    m_recordingPath.clear();
    return samples;
}
