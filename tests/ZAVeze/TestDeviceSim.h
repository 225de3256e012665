#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>

#include <functional>

// The simulated device that netns-run.sh starts beside a test program: its control socket, its
// request log and the tool-side interface it sits behind.
class TestDeviceSim
{
public:
    // Why the namespaces are missing (the program was not started by netns-run.sh), or empty.
    static QString unavailableReason();

    static QString interfaceName();
    static QString runDir();

    // One control command; the simulator's answer ({"ok": false, ...} when it cannot be reached).
    static QJsonObject command(const QJsonObject& command);
    static bool fault(const QString& method, const QJsonObject& fault, int count = 1,
                      const QString& mac = QString());
    static bool clear() { return command({{"cmd", "clear"}}).value("ok").toBool(); }
    static bool reset() { return command({{"cmd", "reset"}}).value("ok").toBool(); }
    static bool clearLog() { return command({{"cmd", "clearlog"}}).value("ok").toBool(); }

    // Every request the simulator received, oldest first.
    static QList<QJsonObject> log();
    // Waits until an entry satisfies match; the entry, or an empty object after limitMs.
    static QJsonObject waitForLog(const std::function<bool(const QJsonObject&)>& match, int limitMs = 5000);

    // Deletes and makes again the veth pair (the tool-side interface goes away meanwhile).
    static bool relink(double downSeconds = 0.3);
};
