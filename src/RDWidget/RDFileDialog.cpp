#include "RDFileDialog.h"

#include "RDModalHook.h"

QStringList selectFiles(QFileDialog::FileMode mode, const QString& nameFilter)
{
    if (RDModalHook* hook = RDModalHook::instance())
        return hook->fileDialog(mode, nameFilter);
    QFileDialog dialog;
    dialog.setFileMode(mode);
    if (!nameFilter.isEmpty())
        dialog.setNameFilter(nameFilter);
    if (dialog.exec() != QDialog::Accepted)
        return QStringList();
    return dialog.selectedFiles();
}
