#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <atomic>
#include <string>
#include <thread>

// One SIPp process as the peer of the SIP agent, run on a thread of its own so that the test can
// act meanwhile. Every run is bounded: a number of calls, a 30 s time-out and a hard kill.
class SipSippRunner
{
public:
    struct Run
    {
        int exitCode = -1;
        QString output;
        QString messages; // -trace_msg
        QString errors; // -trace_err
        QString logs; // <log> actions
        std::string describe() const;
    };

    // SIPp binds ip and a free port of it.
    explicit SipSippRunner(const char* ip = "127.0.0.2");
    ~SipSippRunner();
    SipSippRunner(const SipSippRunner&) = delete;
    SipSippRunner& operator=(const SipSippRunner&) = delete;

    // A scenario file of this test folder.
    static QString scenario(const char* name);

    const char* ip() const { return m_ip; }
    int port() const { return m_port; }
    // The media port given to SIPp (-mp): its RTP comes from there and its SDP names it.
    int mediaPort() const { return m_mediaPort; }
    // SIPp runs in that folder (its pcap play reads files relative to it).
    void setWorkingDirectory(const QString& path) { m_workingDirectory = path; }
    // "sip:<ip>:<port>" style pieces for accounts.
    std::string host() const { return m_ip; }

    // Starts sipp with the arguments, calls as -m, and waits until it has bound its ports.
    bool start(const QStringList& arguments, int calls);
    // Waits for sipp to end and returns what it did.
    Run finish();

private:
    // One try at starting sipp: true once it has bound its ports.
    bool launch(const QStringList& arguments, int calls);
    int freeMediaPort() const;

    const char* m_ip;
    int m_port = 0;
    int m_mediaPort = 0;
    QString m_workingDirectory;
    QTemporaryDir m_dir;
    std::thread m_thread;
    Run m_run;
    bool m_started = false;
    std::atomic<bool> m_ended{false};
};
