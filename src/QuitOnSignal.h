#pragma once

#include <QObject>

#include <memory>

class QSocketNotifier;

// Ends the Qt event loop on SIGTERM or SIGINT, so that main runs the ordered shutdown and the
// process exits 0. The signal handler only writes a byte to a pipe (all a handler may safely
// do); the event loop reads it through a socket notifier and quits. One per process.
class QuitOnSignal : public QObject
{
    Q_OBJECT
public:
    // Installs the handlers; they stay until the object goes away.
    explicit QuitOnSignal(QObject* parent = nullptr);
    ~QuitOnSignal() override;

    // False when the pipe could not be made (the signals then keep their default action).
    bool isInstalled() const { return m_installed; }
    // The signal that arrived last (0 for none).
    int lastSignal() const { return m_lastSignal; }

private:
    void onReadable();

    std::unique_ptr<QSocketNotifier> m_notifier;
    bool m_installed = false;
    int m_lastSignal = 0;
};
