#include "SipSippRunner.h"

#include "SipTestPeer.h"
#include "TestSupport.h"

#include <QFile>

namespace {

QString readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()) : QString();
}

} // namespace

std::string SipSippRunner::Run::describe() const
{
    return (output + "\n--- errors\n" + errors + "\n--- logs\n" + logs + "\n--- messages\n" + messages)
        .toStdString();
}

SipSippRunner::SipSippRunner(const char* ip) : m_ip(ip)
{
}

SipSippRunner::~SipSippRunner()
{
    if (m_thread.joinable())
        m_thread.join();
}

QString SipSippRunner::scenario(const char* name)
{
    return QStringLiteral(SIP_TEST_DIR "/sipp/") + QString::fromLatin1(name);
}

bool SipSippRunner::start(const QStringList& arguments, int calls)
{
    if (!m_dir.isValid() || m_started)
        return false;
    m_started = true;
    m_port = SipTestPeer::freePort(m_ip);
    m_mediaPort = SipTestPeer::freePort(m_ip);
    const QString messages = m_dir.filePath("messages.log");
    const QString errors = m_dir.filePath("errors.log");
    const QString logs = m_dir.filePath("logs.log");
    QStringList all = arguments;
    all << "-i" << m_ip << "-p" << QString::number(m_port) << "-mp" << QString::number(m_mediaPort)
        << "-m" << QString::number(calls) << "-timeout" << "30s" << "-timeout_error" << "-nostdin"
        << "-trace_msg" << "-message_file" << messages << "-trace_err" << "-error_file" << errors << "-trace_logs"
        << "-log_file" << logs;
    QString program = "sipp";
    if (!m_workingDirectory.isEmpty()) {
        // TestSupport::run has no working directory of its own: a shell changes into it.
        all = QStringList{"-c", "cd \"$1\" && shift && exec \"$@\"", "sh", m_workingDirectory, "sipp"} + all;
        program = "sh";
    }
    m_thread = std::thread([this, program, all, messages, errors, logs] {
        const TestSupport::Result result = TestSupport::run(program, all, 45000);
        m_run.exitCode = result.exitCode;
        m_run.output = QString::fromLocal8Bit(result.out + result.err);
        m_run.messages = readFile(messages);
        m_run.errors = readFile(errors);
        m_run.logs = readFile(logs);
    });
    return SipTestPeer::waitBound(m_ip, m_port, 10000);
}

SipSippRunner::Run SipSippRunner::finish()
{
    if (m_thread.joinable())
        m_thread.join();
    return m_run;
}
