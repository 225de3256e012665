#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <memory>

// A private D-Bus session bus for one test, so that nothing a test asks reaches the desktop's
// own bus or its programs. For the object's life this process sees no session bus but its own:
// DBUS_SESSION_BUS_ADDRESS is cleared and XDG_RUNTIME_DIR names an empty folder of the object's.
// start runs a dbus-daemon with a configuration of its own (no service folders, so nothing can be
// started on it) listening on the socket "bus" of that folder, and points
// DBUS_SESSION_BUS_ADDRESS at it until stop. Both variables come back when the object goes away.
// Threads: the test's thread; nothing may read the two variables meanwhile on another thread.
class TestSessionBus
{
public:
    TestSessionBus();
    ~TestSessionBus();

    TestSessionBus(const TestSessionBus&) = delete;
    TestSessionBus& operator=(const TestSessionBus&) = delete;

    // Starts the daemon and waits until it prints its address. False when it cannot run here;
    // error() tells why.
    bool start();
    void stop();
    bool isRunning() const;
    QString error() const { return m_error; }

    // The daemon's address ("unix:path=<folder>/bus,guid=..."), empty when it does not run.
    QString address() const { return m_address; }
    // The runtime folder that XDG_RUNTIME_DIR names, where the daemon's socket "bus" lies.
    QString runtimeDir() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
    std::unique_ptr<QProcess> m_process;
    QString m_address;
    QString m_error;
    QByteArray m_oldAddress;
    QByteArray m_oldRuntime;
    bool m_hadAddress = false;
    bool m_hadRuntime = false;
};

// Starts bus; when no daemon can run, the test ends as a missing peer.
#define TEST_START_SESSION_BUS(bus)                                                                \
    do {                                                                                           \
        const bool sonarisBusUp = (bus).start();                                                   \
        SONARIS_REQUIRE_PEER(sonarisBusUp, "a private D-Bus session bus: " + (bus).error().toStdString()); \
    } while (0)
