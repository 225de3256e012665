#include <QApplication>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>

// Every test program runs inside a QApplication on the offscreen platform, so Qt objects that
// need an application (SQL drivers, widgets, event loops) work in any test.
int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    signal(SIGPIPE, SIG_IGN);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
