#pragma once

#include "TestSupport.h"

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVector>

#include <memory>
#include <vector>

// A private PulseAudio daemon for one test: its own runtime folder and socket, no real hardware
// (only the modules the test names, by default one null sink "spk"), never exiting while idle.
// While it runs, PULSE_SERVER points this process and the programs it starts (paplay, parec,
// pactl) at it. It is stopped and its folder removed when the object goes away.
class TestPulseServer
{
public:
    TestPulseServer();
    ~TestPulseServer();

    TestPulseServer(const TestPulseServer&) = delete;
    TestPulseServer& operator=(const TestPulseServer&) = delete;

    // Module lines as pulseaudio's --load takes them.
    static QStringList defaultModules();

    // Starts the daemon and waits until it answers. False when it cannot run here (no pulseaudio
    // program, or it does not come up); error() tells why, for GTEST_SKIP. Every null sink whose
    // sink_name is given in modules is kept clocked (see keepClocked).
    bool start(const QStringList& modules = defaultModules());
    void stop();
    bool isRunning() const;
    QString error() const { return m_error; }

    // The daemon's folder (a place for FIFOs and recordings) and its server address.
    QString dir() const;
    QString server() const;

    // pactl against this daemon.
    TestSupport::Result pactl(const QStringList& arguments, int timeoutMs = 10000) const;
    // Loads a module; its index, or -1.
    int loadModule(const QString& name, const QString& arguments = QString()) const;
    bool unloadModule(int index) const;
    // The index of the first loaded module of that name, or -1.
    int moduleIndex(const QString& name) const;
    // Recording streams connected to the server (the clock keepers included).
    int recorderCount() const;
    // Waits until at least count recording streams are connected; false after timeoutMs.
    bool waitForRecorders(int count, int timeoutMs = 5000) const;
    // Recording streams beyond the clock keepers.
    int keeperCount() const { return int(m_keepers.size()); }

    // A null sink with no stream runs its clock in 2-second blocks, and a stream that connects
    // then waits up to that long before anything moves. A real card runs on a short period: to
    // behave like one, the sink gets a recorder asking for 10 ms of latency that stays for the
    // daemon's life, and its clock is restarted (suspend, resume) at that period.
    bool keepClocked(const QString& sink);

    // Records what reaches the monitor of sink (s16le, stereo, 44100 Hz) into a file of dir(),
    // from now until stopRecording. False when the recorder does not connect.
    bool startRecording(const QString& sink = QStringLiteral("spk"));
    // The first channel of what has been recorded so far, as floats; the recording goes on.
    QVector<float> recorded() const;
    // Ends the recording; the first channel of all of it.
    QVector<float> stopRecording();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QProcess> m_process;
    std::vector<std::unique_ptr<QProcess>> m_keepers;
    std::unique_ptr<QProcess> m_recorder;
    QString m_recordingPath;
    QString m_error;
    QByteArray m_previousServer;
    bool m_hadPreviousServer = false;
};

// Starts server with the given modules; when no daemon can run, the test ends as a missing peer.
#define TEST_START_PULSE(server, ...)                                                              \
    do {                                                                                           \
        const bool sonarisPulseUp = (server).start(__VA_ARGS__);                                   \
        SONARIS_REQUIRE_PEER(sonarisPulseUp, "a private PulseAudio daemon: "                       \
                                                 + (server).error().toStdString());                \
    } while (0)
