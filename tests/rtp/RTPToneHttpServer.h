#pragma once

#include "TestSupport.h"

#include "RDThread.h"

#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// A live internet-radio stand-in: the ffmpeg command serving a sine as an MP3 stream over HTTP
// on 127.0.0.1, in real time, to one client (then it exits). It can be killed and started again
// on the same port.
class RTPToneHttpServer
{
public:
    RTPToneHttpServer() = default;
    ~RTPToneHttpServer() { kill(); }
    RTPToneHttpServer(const RTPToneHttpServer&) = delete;
    RTPToneHttpServer& operator=(const RTPToneHttpServer&) = delete;

    // A TCP port of 127.0.0.1 that nothing listens on just now; 0 on failure.
    static int freePort() { return TestSupport::freeTcpPort(); }

    // Serves frequency Hz for seconds (0: without end) on port; true once it listens.
    bool start(int port, double frequency, double seconds = 0)
    {
        kill();
        m_port = port;
        QString source = QStringLiteral("sine=frequency=%1:sample_rate=44100").arg(frequency);
        if (seconds > 0)
            source += QStringLiteral(":duration=%1").arg(seconds);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral("ffmpeg"),
                        {"-hide_banner", "-nostdin", "-loglevel", "error", "-re", "-f", "lavfi", "-i", source,
                         "-ac", "2", "-c:a", "libmp3lame", "-b:a", "128k", "-f", "mp3", "-listen", "1", url()});
        if (!m_process.waitForStarted(10000))
            return false;
        for (int i = 0; i < 10000; i += 5) {
            if (isListening())
                return true;
            if (m_process.state() == QProcess::NotRunning)
                return false;
            RDThread::msleep(5);
        }
        return false;
    }

    QString url() const { return QStringLiteral("http://127.0.0.1:%1/tone.mp3").arg(m_port); }
    int port() const { return m_port; }

    // Ends the server at once (SIGKILL), as a crash or a pulled cable would.
    void kill()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    // True when the server has ended by itself within ms.
    bool waitForExit(int ms)
    {
        return m_process.state() == QProcess::NotRunning || m_process.waitForFinished(ms);
    }

    // A socket of 127.0.0.1 listens on the port (read from the kernel's table, so that no
    // connection is spent on finding out: the server takes only one).
    bool isListening() const
    {
        QFile table(QStringLiteral("/proc/net/tcp"));
        if (!table.open(QIODevice::ReadOnly))
            return false;
        const QString local = QStringLiteral("0100007F:%1").arg(m_port, 4, 16, QLatin1Char('0')).toUpper();
        for (const QByteArray& line : table.readAll().split('\n')) {
            const QStringList fields = QString::fromLatin1(line).simplified().split(QLatin1Char(' '));
            if (fields.size() > 3 && fields.at(1) == local && fields.at(3) == QLatin1String("0A"))
                return true;
        }
        return false;
    }

private:
    QProcess m_process;
    int m_port = 0;
};
