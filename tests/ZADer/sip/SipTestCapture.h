#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A tshark recording of the loopback interface for one test, read back field by field.
class SipTestCapture
{
public:
    SipTestCapture() = default;
    ~SipTestCapture();
    SipTestCapture(const SipTestCapture&) = delete;
    SipTestCapture& operator=(const SipTestCapture&) = delete;

    // Starts recording what the capture filter lets through; true once tshark captures.
    bool start(const QString& filter);
    // Ends the recording (waits a moment for the last packets first).
    void stop();
    // One line a packet of tshark's field output (separated by ';'), after the decode-as rules
    // (e.g. "udp.port==6000,rtp") and the display filter.
    QStringList fields(const QStringList& decodeAs, const QString& displayFilter, const QStringList& fieldNames) const;
    QString error() const { return m_error; }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_path;
    QString m_error;
};
