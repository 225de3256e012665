#pragma once

#include <QString>
#include <QTemporaryDir>

// Sends the process log into a file of a temporary folder for one test, so the test can look
// for the lines the code under test writes. The log is closed again when the object goes away.
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

private:
    QTemporaryDir m_dir;
};
