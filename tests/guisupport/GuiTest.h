#pragma once

#include <QString>
#include <QWidget>

#include <functional>

class GuiTestHook;

// Helpers of the offscreen widget and window tests.
class GuiTest
{
public:
    // The scripted hook that GuiTestMain installs in front of every message box and file dialog.
    static GuiTestHook& hook();

    // Runs action on the modal widget that the code under test is about to open with exec():
    // call it before the exec. It polls the event loop for a modal widget for up to timeoutMs;
    // without one it fails the test (the exec then has to be ended by other means).
    static void onModal(std::function<void(QWidget* modal)> action, int timeoutMs = 5000);
    // Sends a key press and release to the modal widget opened next (see onModal).
    static void pressOnModal(Qt::Key key, int timeoutMs = 5000);

    // The folder the tests of this program leave their pictures in:
    // <build>/test-output/<program name>, made when missing.
    static QString outputDir();
    // Grabs the widget and writes <outputDir>/<name>.png; returns the path (empty on failure).
    static QString grabToPng(QWidget* widget, const QString& name);

    // Processes events until condition is true or timeoutMs has passed; the condition's result.
    static bool waitFor(const std::function<bool()>& condition, int timeoutMs = 5000);
};
