#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// Shows a file selected in the desktop's file manager (the desktop's stand-in for
// "explorer /select,"). The file manager is asked over the session D-Bus with
// org.freedesktop.FileManager1.ShowItems, which the common file managers serve and which D-Bus
// starts one for when none runs yet. Where no file manager answers - no session bus, nobody owns
// the name and none can be started, an error reply, or no reply within the answer time - the
// file's folder is handed to xdg-open instead, shown without the selection. Neither way goes
// through a shell: blanks, quotes and the like in file names are only names.
//
// Threads: reveal may be called on any thread and returns at once. The bus is talked to on a
// worker of Qt's global thread pool, so the GUI thread never waits for a bus or a file manager
// that hangs (a blocking call would hold it for the whole answer time, a bus connection that
// does not answer for libdbus's 25 s); the end of the QCoreApplication waits for that worker.
// done runs once, on that worker.
class FileReveal
{
public:
    enum class Outcome
    {
        Shown,         // the file manager answered ShowItems
        FolderOpened,  // no file manager answered: xdg-open was started on the folder
        Failed,        // an empty path, or xdg-open could not be started either
    };
    using Done = std::function<void(Outcome outcome)>;

    static constexpr const char* kService = "org.freedesktop.FileManager1";
    static constexpr const char* kObjectPath = "/org/freedesktop/FileManager1";
    static constexpr const char* kInterface = "org.freedesktop.FileManager1";
    static constexpr const char* kMethod = "ShowItems";
    // How long the file manager has to answer: D-Bus may have to start it first, which takes a
    // few seconds from a cold, slow disk. Nobody waits meanwhile; past it the folder opens.
    static constexpr int kAnswerTimeoutMs = 10000;

    static void reveal(const QString& path, Done done = Done(), int answerTimeoutMs = kAnswerTimeoutMs);

    // Where the session bus is: DBUS_SESSION_BUS_ADDRESS, else the socket "bus" in
    // XDG_RUNTIME_DIR (where a systemd user session keeps it); empty when there is neither.
    static QString sessionBusAddress();
    // The file as ShowItems takes it: an absolute file:// URI, fully percent-encoded (blanks,
    // non-ASCII letters, "%", "#" and "?" included), so every byte of the name survives.
    static QString fileUri(const QString& path);
    // What the fallback starts: the program and its arguments.
    static QString program();
    static QStringList arguments(const QString& path);

private:
    static Outcome run(const QString& path, int answerTimeoutMs);
    static bool showItems(const QString& path, int answerTimeoutMs);
    static bool openFolder(const QString& path);
};
