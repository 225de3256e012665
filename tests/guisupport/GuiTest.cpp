#include "GuiTest.h"

#include "GuiTestHook.h"
#include "TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace {

constexpr int kPollMs = 10;

} // namespace

GuiTestHook& GuiTest::hook()
{
    static GuiTestHook instance;
    return instance;
}

void GuiTest::onModal(std::function<void(QWidget*)> action, int timeoutMs)
{
    auto started = std::make_shared<QElapsedTimer>();
    started->start();
    auto poll = std::make_shared<std::function<void()>>();
    *poll = [action, timeoutMs, started, poll] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            action(modal);
            *poll = nullptr;   // breaks the self-reference
            return;
        }
        if (started->elapsed() > timeoutMs) {
            ADD_FAILURE() << "no modal widget opened within " << timeoutMs << " ms";
            *poll = nullptr;
            return;
        }
        QTimer::singleShot(kPollMs, [poll] { if (*poll) (*poll)(); });
    };
    QTimer::singleShot(0, [poll] { if (*poll) (*poll)(); });
}

void GuiTest::pressOnModal(Qt::Key key, int timeoutMs)
{
    onModal([key](QWidget* modal) { QTest::keyClick(modal, key); }, timeoutMs);
}

QString GuiTest::outputDir()
{
    const QString program = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    const QString dir = TestSupport::binaryDir() + QStringLiteral("/test-output/") + program;
    QDir().mkpath(dir);
    return dir;
}

QString GuiTest::grabToPng(QWidget* widget, const QString& name)
{
    const QString path = outputDir() + QLatin1Char('/') + name + QStringLiteral(".png");
    if (!widget->grab().save(path, "PNG")) {
        ADD_FAILURE() << "cannot write " << path.toStdString();
        return QString();
    }
    return path;
}

bool GuiTest::waitFor(const std::function<bool()>& condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, kPollMs);
        QTest::qWait(1);
    }
    return true;
}
