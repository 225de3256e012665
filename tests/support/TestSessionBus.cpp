#include "TestSessionBus.h"

#include "TestSupport.h"

#include <QElapsedTimer>
#include <QFile>

namespace {

// dbus-daemon prints its address at once; a loaded machine under a sanitizer may take seconds.
constexpr int kStartMs = 20000;
constexpr int kStopMs = 5000;

// The session bus of the system's own configuration, less its service folders and its
// listening address.
const char* const kConfig = R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=%1/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

} // namespace

TestSessionBus::TestSessionBus()
    : m_dir(QStringLiteral("/tmp/sonaris-bus-XXXXXX")) // a short path: socket paths hold ~100 bytes
    , m_oldAddress(qgetenv("DBUS_SESSION_BUS_ADDRESS"))
    , m_oldRuntime(qgetenv("XDG_RUNTIME_DIR"))
    , m_hadAddress(qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS"))
    , m_hadRuntime(qEnvironmentVariableIsSet("XDG_RUNTIME_DIR"))
{
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_dir.path()));
}

TestSessionBus::~TestSessionBus()
{
    stop();
    if (m_hadAddress)
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_oldAddress);
    else
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    if (m_hadRuntime)
        qputenv("XDG_RUNTIME_DIR", m_oldRuntime);
    else
        qunsetenv("XDG_RUNTIME_DIR");
}

bool TestSessionBus::isRunning() const
{
    return m_process && m_process->state() == QProcess::Running;
}

bool TestSessionBus::start()
{
    stop();
    m_error.clear();
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder");
        return false;
    }
    if (!TestSupport::haveCommand(QStringLiteral("dbus-daemon"))) {
        m_error = QStringLiteral("dbus-daemon not installed");
        return false;
    }
    const QString config = m_dir.filePath(QStringLiteral("bus.conf"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly) || file.write(QString::fromLatin1(kConfig).arg(m_dir.path()).toUtf8()) < 0) {
        m_error = QStringLiteral("cannot write %1").arg(config);
        return false;
    }
    file.close();

    m_process.reset(new QProcess);
    m_process->setProcessChannelMode(QProcess::SeparateChannels);
    m_process->start(QStringLiteral("dbus-daemon"),
                     {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                      QStringLiteral("--nopidfile"), QStringLiteral("--print-address")});
    QElapsedTimer timer;
    timer.start();
    QByteArray out;
    while (!out.contains('\n') && timer.elapsed() < kStartMs && m_process->state() != QProcess::NotRunning) {
        m_process->waitForReadyRead(200);
        out += m_process->readAllStandardOutput();
    }
    const QString address = QString::fromUtf8(out.left(out.indexOf('\n'))).trimmed();
    if (address.isEmpty() || m_process->state() != QProcess::Running) {
        m_error = QStringLiteral("dbus-daemon does not come up: %1")
                      .arg(QString::fromUtf8(m_process->readAllStandardError().right(2000)));
        stop();
        return false;
    }
    m_address = address;
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_address.toUtf8());
    return true;
}

void TestSessionBus::stop()
{
    if (m_process) {
        if (m_process->state() != QProcess::NotRunning) {
            m_process->terminate();
            if (!m_process->waitForFinished(kStopMs)) {
                m_process->kill();
                m_process->waitForFinished(kStopMs);
            }
        }
        m_process.reset();
    }
    if (!m_address.isEmpty())
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    m_address.clear();
    QFile::remove(m_dir.filePath(QStringLiteral("bus")));
}
