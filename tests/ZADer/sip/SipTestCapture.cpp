#include "SipTestCapture.h"

#include "RDThread.h"
#include "TestSupport.h"

SipTestCapture::~SipTestCapture()
{
    stop();
}

bool SipTestCapture::start(const QString& filter)
{
    if (!m_dir.isValid())
        return false;
    m_path = m_dir.filePath("wire.pcapng");
    m_process.start("tshark", {"-q", "-i", "lo", "-f", filter, "-w", m_path});
    if (!m_process.waitForStarted(10000)) {
        m_error = "tshark does not start";
        return false;
    }
    QByteArray log;
    for (int waited = 0; waited < 15000 && !log.contains("Capturing on"); waited += 50) {
        m_process.waitForReadyRead(50);
        log += m_process.readAllStandardError();
    }
    m_error = QString::fromLocal8Bit(log);
    return log.contains("Capturing on");
}

void SipTestCapture::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    RDThread::msleep(300);
    m_process.terminate();
    if (!m_process.waitForFinished(10000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QStringList SipTestCapture::fields(const QStringList& decodeAs, const QString& displayFilter,
                                   const QStringList& fieldNames) const
{
    QStringList arguments{"-r", m_path};
    for (const QString& rule : decodeAs)
        arguments << "-d" << rule;
    if (!displayFilter.isEmpty())
        arguments << "-Y" << displayFilter;
    arguments << "-T" << "fields" << "-E" << "separator=;";
    for (const QString& name : fieldNames)
        arguments << "-e" << name;
    const TestSupport::Result result = TestSupport::run("tshark", arguments);
    if (result.exitCode != 0)
        return {};
    return QString::fromLocal8Bit(result.out).split('\n', Qt::SkipEmptyParts);
}
