#include "TestFileManager.h"

#include "TestSupport.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusError>
#include <QDBusMessage>
#include <QMutex>
#include <QMutexLocker>

#include <atomic>

namespace {

const char* const kService = "org.freedesktop.FileManager1";
const char* const kPath = "/org/freedesktop/FileManager1";

} // namespace

// The object on the bus. Its slot runs on the stand-in's thread; the record is read from others.
class TestFileManagerObject : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    explicit TestFileManagerObject(TestFileManager::Answer answer) : m_answer(answer) {}

    QList<TestFileManager::Call> calls() const
    {
        QMutexLocker lock(&m_mutex);
        return m_calls;
    }

public slots:
    void ShowItems(const QStringList& uris, const QString& startupId)
    {
        {
            QMutexLocker lock(&m_mutex);
            m_calls.append({uris, startupId});
        }
        switch (m_answer) {
        case TestFileManager::Answer::Reply:
            break;
        case TestFileManager::Answer::Error:
            sendErrorReply(QDBusError::Failed, QStringLiteral("the stand-in refuses"));
            break;
        case TestFileManager::Answer::Never:
            // Taken over and never answered: the caller waits.
            setDelayedReply(true);
            break;
        }
    }

private:
    const TestFileManager::Answer m_answer;
    mutable QMutex m_mutex;
    QList<TestFileManager::Call> m_calls;
};

TestFileManager::TestFileManager(Answer answer)
    : m_answer(answer)
{
    m_thread.setObjectName(QStringLiteral("TestFileManager"));
}

TestFileManager::~TestFileManager()
{
    stop();
}

bool TestFileManager::start(const QString& address)
{
    stop();
    static std::atomic<int> serial{0};
    m_connection = QStringLiteral("TestFileManager-%1").arg(++serial);
    QDBusConnection bus = QDBusConnection::connectToBus(address, m_connection);
    if (!bus.isConnected()) {
        m_error = QStringLiteral("cannot connect to %1: %2").arg(address, bus.lastError().message());
        stop();
        return false;
    }
    m_object.reset(new TestFileManagerObject(m_answer));
    m_thread.start();
    m_object->moveToThread(&m_thread);
    if (!bus.registerObject(QLatin1String(kPath), m_object.get(), QDBusConnection::ExportAllSlots)
        || !bus.registerService(QLatin1String(kService))) {
        m_error = QStringLiteral("cannot take %1: %2").arg(QLatin1String(kService), bus.lastError().message());
        stop();
        return false;
    }
    return true;
}

void TestFileManager::stop()
{
    if (!m_connection.isEmpty()) {
        QDBusConnection::disconnectFromBus(m_connection);
        m_connection.clear();
    }
    if (m_thread.isRunning()) {
        m_thread.quit();
        m_thread.wait();
    }
}

QList<TestFileManager::Call> TestFileManager::calls() const
{
    return m_object ? m_object->calls() : QList<Call>();
}

bool TestFileManager::waitForCalls(int count, int timeoutMs) const
{
    return TestSupport::waitUntil([this, count] { return calls().size() >= count; }, timeoutMs);
}

#include "TestFileManager.moc"
