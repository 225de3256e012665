#pragma once

#include <QFileDialog>
#include <QStringList>

// A parentless modal file dialog with empty caption and folder, in the given mode and name
// filter (patterns separated by ';' or blanks; empty: none); the selected paths, empty when it was not accepted. Answered by
// RDModalHook when one is installed.
QStringList selectFiles(QFileDialog::FileMode mode, const QString& nameFilter = QString());
