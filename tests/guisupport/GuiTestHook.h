#pragma once

#include "RDModalHook.h"

#include <QList>
#include <QStringList>

// Answers every message box and file dialog from scripted queues and records what was asked.
// An unscripted message box takes its default button (Yes when it has none); an unscripted file
// dialog is cancelled. GUI thread only.
class GuiTestHook : public RDModalHook
{
public:
    struct Box
    {
        QMessageBox::Icon icon;
        QString text;
        QString yesCaption;
        QString noCaption;
        QMessageBox::StandardButton defaultButton;
    };
    struct FileAsk
    {
        QFileDialog::FileMode mode;
        QString nameFilter;
    };

    int messageBox(QMessageBox::Icon icon, const QString& text, const QString& yesCaption,
                   const QString& noCaption, QMessageBox::StandardButton defaultButton) override;
    QStringList fileDialog(QFileDialog::FileMode mode, const QString& nameFilter) override;

    // The next box gets this answer (QMessageBox::Yes, No or Cancel).
    void answerBox(int answer) { m_boxAnswers.append(answer); }
    // The next file dialog selects these paths (empty: cancelled).
    void answerFiles(const QStringList& paths) { m_fileAnswers.append(paths); }

    const QList<Box>& boxes() const { return m_boxes; }
    QStringList boxTexts() const;
    const QList<FileAsk>& fileAsks() const { return m_fileAsks; }

    // Forgets answers and records.
    void reset();

private:
    QList<int> m_boxAnswers;
    QList<QStringList> m_fileAnswers;
    QList<Box> m_boxes;
    QList<FileAsk> m_fileAsks;
};
