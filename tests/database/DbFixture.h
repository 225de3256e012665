#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <ostream>

// Readable QString values in assertion messages.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

// A data root of the test's own (a temporary folder) for the databases, the sqlite3 command as
// an independent reader and writer of the files, and the log lines the code under test writes.
class DbFixture : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    QString root() const { return m_dir.path(); }
    QString folder() const { return m_dir.path() + QStringLiteral("/database"); }
    QString file(const QString& name) const { return folder() + QLatin1Char('/') + name; }

    // Runs SQL (or dot-commands) through the sqlite3 command; fails the test when it fails.
    QString sqlite(const QString& dbFile, const QString& sql);
    // What "sqlite3 .schema" shows for a table made by this create statement: SQLite keeps the
    // statement's text from the table name on, behind its own "CREATE TABLE".
    static QString schemaText(const char* createStatement);
    // Hex SHA-256 of a file's bytes, empty when it cannot be read.
    static QByteArray digest(const QString& path);
    static bool writeFile(const QString& path, const QByteArray& bytes);
    // The names in the database folder.
    QStringList folderEntries() const;

    // Log lines written since SetUp.
    static QStringList logLines();

    // An old channel database: version 1.0.2, an "rtp" table without the column "httpOutput"
    // but with a column "legacy", channel ids 1, 5 and 9, two settings, and a version row of
    // another database.
    void makeOldChannelDb(const QString& dbFile, int extraChannels = 0);

private:
    QTemporaryDir m_dir;
};
