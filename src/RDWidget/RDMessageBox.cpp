#include "RDMessageBox.h"

#include "RDModalHook.h"

#include <QAbstractButton>
#include <QCoreApplication>

int showMessageBox(QMessageBox::Icon icon, const QString& text, const QString& yesCaption,
                   const QString& noCaption, QMessageBox::StandardButton defaultButton)
{
    if (RDModalHook* hook = RDModalHook::instance())
        return hook->messageBox(icon, text, yesCaption, noCaption, defaultButton);

    QMessageBox box(icon, qAppName(), text, QMessageBox::NoButton, nullptr,
                    Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
    QMessageBox::StandardButtons buttons;
    if (!yesCaption.isEmpty())
        buttons |= QMessageBox::Yes;
    if (!noCaption.isEmpty())
        buttons |= QMessageBox::No;
    box.setStandardButtons(buttons);
    if (defaultButton != QMessageBox::NoButton)
        box.setDefaultButton(defaultButton);
    if (!yesCaption.isEmpty())
        box.button(QMessageBox::Yes)->setText(yesCaption);
    if (!noCaption.isEmpty())
        box.button(QMessageBox::No)->setText(noCaption);
    if (box.exec() == -1)
        return QMessageBox::Cancel;
    QAbstractButton* clicked = box.clickedButton();
    if (!clicked)
        return QMessageBox::Cancel;
    const QMessageBox::StandardButton button = box.standardButton(clicked);
    return button == QMessageBox::NoButton ? QMessageBox::Cancel : button;
}

int showInformationBox(const QString& text, const QString& yesCaption, const QString& noCaption)
{
    return showMessageBox(QMessageBox::Information, text, yesCaption, noCaption,
                          yesCaption.isEmpty() ? QMessageBox::No : QMessageBox::Yes);
}

int showWarningBox(const QString& text, const QString& yesCaption, const QString& noCaption)
{
    return showMessageBox(QMessageBox::Warning, text, yesCaption, noCaption,
                          noCaption.isEmpty() ? QMessageBox::Yes : QMessageBox::No);
}
