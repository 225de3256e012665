#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

// The process-wide crash-dump handler: given the dump folder at start-up, it installs the
// crash writer there, so that a crash leaves a report ("<id>.dmp") in that folder. sendDumps
// posts the reports found there to the upload URL; the program sets no URL and never calls it,
// so reports stay in the folder.
class QBreakpadHandler : public QObject
{
    Q_OBJECT
public:
    // Made on first use; concurrent first users wait until it is built.
    static QBreakpadHandler* instance();

    // A relative path is taken from the application directory. The folder is made with its
    // parents; when it exists afterwards the writer is installed for it, else "Failed to set
    // dump path which not exists: <path>" is written and nothing is installed.
    void setDumpPath(const QString& path);
    // The folder, null until set.
    QString dumpPath() const { return m_dumpPath; }
    QUrl uploadUrl() const { return m_uploadUrl; }

public slots:
    void sendDumps();

private:
    QBreakpadHandler() = default;

    QString m_dumpPath;
    QUrl m_uploadUrl;
};
