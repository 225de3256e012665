#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A stand-in for a command on PATH: for the object's life a script of that name in a folder of
// the object's stands first on PATH, and each run of it records its arguments and ends at once.
// Each run writes a file of its own, under a temporary name first, so that a reader never sees
// half a record. Threads: the test's thread; nothing may read PATH meanwhile on another thread.
class TestCommandStub
{
public:
    explicit TestCommandStub(const QString& name);
    ~TestCommandStub();

    TestCommandStub(const TestCommandStub&) = delete;
    TestCommandStub& operator=(const TestCommandStub&) = delete;

    bool isValid() const { return m_valid; }
    // The arguments of every run so far, each exactly as the program got them.
    QList<QStringList> runs() const;
    // Whether count runs came within timeoutMs.
    bool waitForRuns(int count, int timeoutMs) const;

private:
    QTemporaryDir m_dir;
    QByteArray m_oldPath;
    bool m_valid = false;
};
