#pragma once

#include <QMessageBox>
#include <QString>

// Modal message boxes with at most two buttons captioned by the caller (texts already
// translated; an empty caption leaves its button out). The result is QMessageBox::Yes for the
// first caption, QMessageBox::No for the second, QMessageBox::Cancel when the box closed without
// a button. Shown through RDModalHook when one is installed.
int showMessageBox(QMessageBox::Icon icon, const QString& text, const QString& yesCaption,
                   const QString& noCaption, QMessageBox::StandardButton defaultButton);
// The first button is the default when it exists.
int showInformationBox(const QString& text, const QString& yesCaption, const QString& noCaption);
// The second button is the default when it exists.
int showWarningBox(const QString& text, const QString& yesCaption, const QString& noCaption);
