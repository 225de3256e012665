#pragma once

#include <QString>

// The questions the application core asks the operator (a second instance, a missing capture
// driver). The core sits below the widget library, so it cannot show a message box itself: the
// program's main plugs the widget library's boxes in here, and tests plug in their own answers.
// Without a prompt, or where nobody can answer (the offscreen platform), every question takes
// the answer that lets the program go on or end cleanly: the second button.
class SonarisPrompt
{
public:
    // The values of QMessageBox::StandardButton that a box returns.
    enum Answer
    {
        kYes = 0x4000,      // the first caption's button
        kNo = 0x10000,      // the second caption's button
        kCancel = 0x400000  // the box closed without a button
    };
    enum Kind
    {
        kInformation,
        kWarning
    };

    virtual ~SonarisPrompt() = default;

    // Shows one question with at most two buttons (captions already translated, an empty one
    // leaves its button out) and returns the answer. Called on the GUI thread.
    virtual int ask(Kind kind, const QString& text, const QString& yesCaption, const QString& noCaption) = 0;

    // The process-wide prompt; null restores the default. Not owned; set it on the GUI thread
    // before Sonaris::init and clear it before the prompt goes away.
    static void setInstance(SonarisPrompt* prompt);
    static SonarisPrompt* instance();

    // Asks through the installed prompt. Every question and its answer are also written to the
    // log (echoed to standard error), so that a run without a display still says what it was
    // asked; without a prompt the answer is kNo when there is a second button, else kYes.
    static int show(Kind kind, const QString& text, const QString& yesCaption, const QString& noCaption);
};
