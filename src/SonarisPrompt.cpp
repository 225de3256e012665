#include "SonarisPrompt.h"

#include "RDLog.h"

#include <atomic>

namespace {

std::atomic<SonarisPrompt*> g_prompt{nullptr};

} // namespace

void SonarisPrompt::setInstance(SonarisPrompt* prompt)
{
    g_prompt.store(prompt);
}

SonarisPrompt* SonarisPrompt::instance()
{
    return g_prompt.load();
}

int SonarisPrompt::show(Kind kind, const QString& text, const QString& yesCaption, const QString& noCaption)
{
    SonarisPrompt* prompt = g_prompt.load();
    const int answer = prompt ? prompt->ask(kind, text, yesCaption, noCaption) : (noCaption.isEmpty() ? kYes : kNo);
    const QString chosen = answer == kYes ? yesCaption : answer == kNo ? noCaption : QStringLiteral("(closed)");
    // The log echoes to standard error also before its file is open (a second instance asks
    // before it opens one).
    RDLOG("%s -> %s", qUtf8Printable(text), qUtf8Printable(chosen));
    return answer;
}
