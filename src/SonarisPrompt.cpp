#include "SonarisPrompt.h"

#include "RDLog.h"

#include <atomic>
#include <cstdio>

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
    // The log may not be open yet (a second instance asks before it starts), so stderr too.
    std::fprintf(stderr, "%s [%s] -> %s\n", qUtf8Printable(text),
                 qUtf8Printable(yesCaption + (noCaption.isEmpty() ? QString() : QStringLiteral("/") + noCaption)),
                 qUtf8Printable(chosen));
    RDLOG("%s -> %s", qUtf8Printable(text), qUtf8Printable(chosen));
    return answer;
}
