#include "TestFileManager.h"

#include "TestSupport.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusError>
#include <QDBusMessage>
#include <atomic>

namespace {

const char* const kService = "org.freedesktop.FileManager1";
const char* const kPath = "/org/freedesktop/FileManager1";

} // namespace

// The object on the bus. Its slot runs on the stand-in's thread.
class TestFileManagerObject : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    TestFileManagerObject(TestFileManager::Answer answer, TestFileManager::Record* record)
        : m_answer(answer)
        , m_record(record)
    {
    }

public slots:
    void ShowItems(const QStringList& uris, const QString& startupId)
    {
        {
            // A lock ThreadSanitizer sees: a contended QMutex hands over inside libQt5Core.
            std::lock_guard<std::mutex> lock(m_record->mutex);
            m_record->calls.append({uris, startupId});
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
    TestFileManager::Record* const m_record;
};

TestFileManager::TestFileManager(Answer answer)
    : m_answer(answer)
{
    m_thread.setObjectName(QStringLiteral("TestFileManager"));
}

TestFileManager::~TestFileManager()
{
    stop();
    // The stand-in's thread ended unseen by ThreadSanitizer (QThread::wait is no join): its last
    // unlock of the record must come before the record goes.
    std::lock_guard<std::mutex> lock(m_record.mutex);
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
    m_object = new TestFileManagerObject(m_answer, &m_record);
    m_object->moveToThread(&m_thread);
    m_thread.start();
    if (!bus.registerObject(QLatin1String(kPath), m_object, QDBusConnection::ExportAllSlots)
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
    if (m_object) {
        // Deleted on its own thread, which runs the deferred deletes as it ends.
        m_object->deleteLater();
        m_object = nullptr;
        m_thread.quit();
        m_thread.wait();
    }
}

QList<TestFileManager::Call> TestFileManager::calls() const
{
    std::lock_guard<std::mutex> lock(m_record.mutex);
    return m_record.calls;
}

bool TestFileManager::waitForCalls(int count, int timeoutMs) const
{
    return TestSupport::waitUntil([this, count] { return calls().size() >= count; }, timeoutMs);
}

#include "TestFileManager.moc"
