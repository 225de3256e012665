#pragma once

#include <QObject>
#include <QSqlDatabase>
#include <QString>

// Base of every SQLite database of the application: one named QSQLITE connection to one file,
// the schema version of the file in its "vdb_version" table, and the upgrade of an older file.
//
// Objects are short-lived and belong to the thread that made them: make one, use it, destroy it.
// Each open object holds its own connection under a name no other connection uses.
class VDB : public QObject
{
public:
    // Called at the steps of an upgrade, export or import ("row" after each copied row,
    // "built" once the new file is complete, "replaced" once it stands under the live name).
    // Lets a test stop the process at a chosen point; null (the default) does nothing.
    using StageHook = void (*)(const char* stage);

    VDB();
    ~VDB() override;

    VDB(const VDB&) = delete;
    VDB& operator=(const VDB&) = delete;

    virtual bool isOpen() const;
    // Opens the file of path() under the given connection name, or a unique one when it is empty.
    // True at once when already open.
    virtual bool open(const QString& connectionName = QString());
    virtual void close();
    // The schema version that createTables() produces: dotted numbers.
    virtual QString version() const = 0;
    virtual QString path() const = 0;
    // Drops, creates and fills every table of the subclass in newDb from oldDb; false when a row
    // could not be copied (the new file is then thrown away).
    virtual bool createTables(QSqlDatabase& oldDb, QSqlDatabase& newDb) = 0;
    // The key of this database in "vdb_version".
    virtual QString name() const;
    virtual QString backupPath(const QString& version) const;

    QString uniqueConnectionName() const;
    QString connectionName() const { return m_connectionName; }
    QString databasePath() const { return m_databasePath; }

    // Brings the file up to version(): true when an upgrade ran and succeeded, false when the
    // stored version was not older or the upgrade was abandoned (the file is then as it was).
    bool checkUpgrade();
    bool upgrade(const QString& oldVersion, const QString& newVersion);

    // The folder that holds the "database" folder: the application folder unless set.
    static void setDataRoot(const QString& folder);
    static QString dataRoot();
    // "<data root>/database/<fileName>", creating the "database" folder when it is missing.
    static QString databaseFile(const QString& fileName);

    // Replacing a database file: beginReplace() keeps new connections of this process from
    // opening the file and waits until the open ones have closed; false (nothing held) when
    // some are still open after waitMs. endReplace() lets them open again.
    static bool beginReplace(const QString& file, int waitMs = kReplaceWaitMs);
    static void endReplace(const QString& file);

    static void setStageHook(StageHook hook);
    static void stage(const char* name);

    static constexpr int kReplaceWaitMs = 5000;
    // How long an open waits for a replacement of its file to end before it gives up.
    static constexpr int kOpenWaitMs = 30000;

protected:
    // Around the replacement of the file by an upgrade: subclasses tell whoever holds
    // long-lived connections to close them first and to reopen afterwards.
    virtual void replaceBegin() {}
    virtual void replaceEnd() {}

    QSqlDatabase m_db;

private:
    QString m_connectionName;
    QString m_databasePath;
    bool m_counted = false;
};
