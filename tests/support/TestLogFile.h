#pragma once

#include <QString>
#include <QTemporaryDir>

// Sends the process log into a file of a temporary folder for one test, so the test can look
// for the lines the code under test writes, every one of them: the per-site limit is lifted
// meanwhile. The log is closed and the limit restored when the object goes away.
class TestLogFile
{
public:
    TestLogFile();
    ~TestLogFile();

    TestLogFile(const TestLogFile&) = delete;
    TestLogFile& operator=(const TestLogFile&) = delete;

    QString text() const;
    bool contains(const QString& needle) const { return text().contains(needle); }
    int count(const QString& needle) const { return text().count(needle); }
    // Whether needle stands in the log at least times times within ms: for lines that other
    // threads write just after the event a test waited for.
    bool waitFor(const QString& needle, int times = 1, int ms = 2000) const;

private:
    QTemporaryDir m_dir;
};
