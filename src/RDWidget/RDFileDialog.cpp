#include "RDFileDialog.h"

#include "RDModalHook.h"

#include <QRegularExpression>

QStringList selectFiles(QFileDialog::FileMode mode, const QString& nameFilter)
{
    if (RDModalHook* hook = RDModalHook::instance())
        return hook->fileDialog(mode, nameFilter);
    QFileDialog dialog;
    dialog.setFileMode(mode);
    // The program writes its filters as lists of patterns separated by ';' ("*.mp3;*.wav");
    // Qt's dialog separates them by blanks (";;" between whole filters) and would take the
    // whole text for one pattern that no file matches.
    if (!nameFilter.isEmpty()) {
        static const QRegularExpression kPatternSeparator(QStringLiteral("(?<!;);(?!;)"));
        dialog.setNameFilter(QString(nameFilter).replace(kPatternSeparator, QStringLiteral(" ")));
    }
    if (dialog.exec() != QDialog::Accepted)
        return QStringList();
    return dialog.selectedFiles();
}
