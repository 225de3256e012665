#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QThread>

#include <mutex>

class TestFileManagerObject;

// A stand-in for the desktop's file manager on a test's private session bus (TestSessionBus): it
// owns the name org.freedesktop.FileManager1 and records every ShowItems call made to it. It
// answers on a thread of its own, so a test may wait for anything in any way meanwhile. How it
// answers is fixed when it is made: an empty reply, an error reply, or never (the caller keeps
// waiting until its own time-out, or until the stand-in goes away and the bus answers for it).
class TestFileManager
{
public:
    enum class Answer
    {
        Reply,
        Error,
        Never,
    };
    struct Call
    {
        QStringList uris;
        QString startupId;
    };
    // What the stand-in's thread writes and the test's reads.
    struct Record
    {
        std::mutex mutex;
        QList<Call> calls;
    };

    explicit TestFileManager(Answer answer = Answer::Reply);
    // Leaves the bus: a call still waiting for its answer gets the bus's "no reply" error.
    ~TestFileManager();

    TestFileManager(const TestFileManager&) = delete;
    TestFileManager& operator=(const TestFileManager&) = delete;

    // Connects to the bus at address and takes the name; false with error() when it cannot.
    bool start(const QString& address);
    void stop();
    QString error() const { return m_error; }

    // The calls so far, oldest first; from any thread.
    QList<Call> calls() const;
    // Whether count calls came within timeoutMs.
    bool waitForCalls(int count, int timeoutMs) const;

private:
    Answer m_answer;
    QString m_connection;
    QString m_error;
    QThread m_thread;
    // Made here, deleted on the stand-in's thread as it ends.
    TestFileManagerObject* m_object = nullptr;
    mutable Record m_record;
};
