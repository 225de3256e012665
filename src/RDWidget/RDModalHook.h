#pragma once

#include <QFileDialog>
#include <QMessageBox>
#include <QString>
#include <QStringList>

// The one place in front of every modal message box and file dialog of the program. With a hook
// installed, the boxes and dialogs are not shown: the hook answers them (tests script the answers
// and record the texts). Without one, the real ones run.
class RDModalHook
{
public:
    virtual ~RDModalHook() = default;

    // Answers a message box: QMessageBox::Yes, No or Cancel.
    virtual int messageBox(QMessageBox::Icon icon, const QString& text, const QString& yesCaption,
                           const QString& noCaption, QMessageBox::StandardButton defaultButton) = 0;
    // Answers a file dialog: the selected paths, empty when it was not accepted.
    virtual QStringList fileDialog(QFileDialog::FileMode mode, const QString& nameFilter) = 0;

    // Process-wide; not owned; set and cleared on the GUI thread. Null restores the real dialogs.
    static void setInstance(RDModalHook* hook);
    static RDModalHook* instance();
};
