#include "GuiTestHook.h"

int GuiTestHook::messageBox(QMessageBox::Icon icon, const QString& text, const QString& yesCaption,
                            const QString& noCaption, QMessageBox::StandardButton defaultButton)
{
    m_boxes.append(Box{icon, text, yesCaption, noCaption, defaultButton});
    if (!m_boxAnswers.isEmpty())
        return m_boxAnswers.takeFirst();
    return defaultButton != QMessageBox::NoButton ? defaultButton : QMessageBox::Yes;
}

QStringList GuiTestHook::fileDialog(QFileDialog::FileMode mode, const QString& nameFilter)
{
    m_fileAsks.append(FileAsk{mode, nameFilter});
    return m_fileAnswers.isEmpty() ? QStringList() : m_fileAnswers.takeFirst();
}

QStringList GuiTestHook::boxTexts() const
{
    QStringList texts;
    for (const Box& box : m_boxes)
        texts << box.text;
    return texts;
}

void GuiTestHook::reset()
{
    m_boxAnswers.clear();
    m_fileAnswers.clear();
    m_boxes.clear();
    m_fileAsks.clear();
}
