#include "GuiTest.h"
#include "GuiTestHook.h"

#include <QApplication>
#include <QFontDatabase>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>

// The main of the widget and window tests: an offscreen QApplication whose layout is the same on
// every machine (scale 1, 96 dpi fonts, "Arial" as the program sets it, mapped to Liberation Sans
// by the fonts the setup script installs), a private runtime folder, and the scripted hook in
// front of every message box and file dialog (a test that wants the real box clears it).
int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("QT_SCALE_FACTOR", "1", 1);
    setenv("QT_FONT_DPI", "96", 1);
    QTemporaryDir runtime;
    setenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit().constData(), 1);
    signal(SIGPIPE, SIG_IGN);

    QApplication app(argc, argv);
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setFamily(QStringLiteral("Arial"));
    QApplication::setFont(font);
    RDModalHook::setInstance(&GuiTest::hook());

    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    RDModalHook::setInstance(nullptr);
    return result;
}
