#include "SipSippRunner.h"

#include "SipTestPeer.h"
#include "TestSupport.h"

#include <QFile>

#include <cstdio>

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
    // The ports are only free when they are chosen: another test can take one before SIPp binds
    // it, and SIPp then ends at once. Nothing has reached the agent by then, so it is started
    // again on other ports.
    for (int attempt = 1; attempt <= 3; ++attempt) {
        if (launch(arguments, calls))
            return true;
        if (!m_ended.load()) {
            std::fprintf(stderr, "sipp has not bound %s:%d, %d and %d within 10 s\n", m_ip, m_port, m_mediaPort,
                         m_mediaPort + 2);
            return false;
        }
        m_thread.join();
        const bool portTaken = (m_run.output + m_run.errors).contains(QLatin1String("Unable to bind"));
        std::fprintf(stderr, "sipp ended before it had bound its ports (attempt %d):\n%s\n", attempt,
                     m_run.describe().c_str());
        if (!portTaken)
            return false;
    }
    return false;
}

bool SipSippRunner::launch(const QStringList& arguments, int calls)
{
    m_port = SipTestPeer::freePort(m_ip);
    m_mediaPort = freeMediaPort();
    m_ended = false;
    const QString messages = m_dir.filePath("messages.log");
    const QString errors = m_dir.filePath("errors.log");
    const QString logs = m_dir.filePath("logs.log");
    for (const QString& file : {messages, errors, logs})
        QFile::remove(file);
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
        m_ended = true;
    });
    // SIPp binds its SIP port and both media ports (audio, and video two above) before it sends
    // anything; one taken ends it within milliseconds, often before a poll could see the others.
    bool bound = false;
    TestSupport::waitUntil(
        [&] {
            bound = SipTestPeer::isBound(m_ip, m_port) && SipTestPeer::isBound(m_ip, m_mediaPort) &&
                    SipTestPeer::isBound(m_ip, m_mediaPort + 2);
            return bound || m_ended.load();
        },
        10000);
    return bound && !m_ended.load();
}

int SipSippRunner::freeMediaPort() const
{
    // SIPp takes the media port and the one two above it, for video.
    for (int tries = 0; tries < 100; ++tries) {
        SipTestPeer audio(m_ip);
        if (!audio.isOpen() || audio.port() + 2 > 65535 || audio.port() == m_port || audio.port() + 2 == m_port)
            continue;
        SipTestPeer video(m_ip, audio.port() + 2);
        if (video.isOpen())
            return audio.port();
    }
    return SipTestPeer::freePort(m_ip);
}

SipSippRunner::Run SipSippRunner::finish()
{
    if (m_thread.joinable())
        m_thread.join();
    return m_run;
}
