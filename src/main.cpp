#include "HomeDialog.h"
#include "QuitOnSignal.h"
#include "RDMessageBox.h"
#include "Sonaris.h"
#include "SonarisPrompt.h"

#include <QApplication>
#include <QFont>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

// Without a display there is nobody to click: the program still serves its channels,
// schedules, "/api" and streams on Qt's offscreen platform, and says so first.
void chooseOffscreenWithoutDisplay()
{
    const bool chosen = std::getenv("QT_QPA_PLATFORM") && *std::getenv("QT_QPA_PLATFORM");
    const bool display = (std::getenv("DISPLAY") && *std::getenv("DISPLAY")) ||
                         (std::getenv("WAYLAND_DISPLAY") && *std::getenv("WAYLAND_DISPLAY"));
    if (!chosen && !display)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && std::string(platform) == "offscreen") {
        std::printf("Quorvel Sonaris runs on Qt's offscreen platform (no display): no window is shown, "
                    "questions take their default answers; channels, schedules, \"/api\" and streams serve.\n");
        std::fflush(stdout);
    }
}

// The application core's questions, shown as the widget library's message boxes.
class MessageBoxPrompt : public SonarisPrompt
{
public:
    int ask(Kind kind, const QString& text, const QString& yesCaption, const QString& noCaption) override
    {
        return kind == kWarning ? showWarningBox(text, yesCaption, noCaption)
                                : showInformationBox(text, yesCaption, noCaption);
    }
};

bool isOffscreen()
{
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    return platform && std::string(platform) == "offscreen";
}

} // namespace

int main(int argc, char** argv)
{
    chooseOffscreenWithoutDisplay();
    auto app = std::make_unique<QApplication>(argc, argv);
    // Before start-up, so that a signal during it is kept until the event loop runs.
    QuitOnSignal quitOnSignal;

    // Nobody can answer a box on the offscreen platform: there the default answers hold.
    MessageBoxPrompt prompt;
    if (!isOffscreen())
        SonarisPrompt::setInstance(&prompt);

    Sonaris* sonaris = Sonaris::createInstance();
    if (sonaris->init(argc, argv) < 0) {
        sonaris->shutdown();
        Sonaris::destroyInstance();
        SonarisPrompt::setInstance(nullptr);
        return -1;
    }

    QFont font = QApplication::font();
    font.setFamily(QStringLiteral("Arial"));
    QApplication::setFont(font);

    // The main window goes before the shutdown, and the channel editor with it.
    auto window = std::make_unique<HomeDialog>();
    window->show();
    const int result = app->exec();

    window.reset();
    sonaris->shutdown();
    Sonaris::destroyInstance();
    SonarisPrompt::setInstance(nullptr);
    app.reset();
    return result;
}
