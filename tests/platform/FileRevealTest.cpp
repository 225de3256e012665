#include "FileReveal.h"

#include "TestCommandStub.h"
#include "TestFileManager.h"
#include "TestSessionBus.h"
#include "TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QUrl>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <optional>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using Outcome = FileReveal::Outcome;

// Generous for a loaded machine under a sanitizer: the bus answers in milliseconds.
constexpr int kOutcomeMs = 20000;
// What a test waits for a worker that did not finish as it should (a failing test) before the
// environment it reads is put back.
constexpr int kDrainMs = 90000;

// Declared after what the reveal reads (the bus, the stub on PATH), so that it goes first: the
// worker has finished before those are put back.
struct PoolDrain
{
    ~PoolDrain() { QThreadPool::globalInstance()->waitForDone(kDrainMs); }
};

// Starts a reveal; the outcome, or nothing when none came within waitMs.
std::optional<Outcome> revealAndWait(const QString& path, int answerTimeoutMs, int waitMs = kOutcomeMs)
{
    auto promise = std::make_shared<std::promise<Outcome>>();
    std::future<Outcome> future = promise->get_future();
    FileReveal::reveal(path, [promise](Outcome outcome) { promise->set_value(outcome); }, answerTimeoutMs);
    if (future.wait_for(std::chrono::milliseconds(waitMs)) != std::future_status::ready)
        return std::nullopt;
    return future.get();
}

const char* name(std::optional<Outcome> outcome)
{
    if (!outcome)
        return "no outcome";
    switch (*outcome) {
    case Outcome::Shown:
        return "Shown";
    case Outcome::FolderOpened:
        return "FolderOpened";
    case Outcome::Failed:
        return "Failed";
    }
    return "?";
}

// A listening unix socket at path, as a session bus's would be.
struct SocketAt
{
    explicit SocketAt(const QString& path)
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray bytes = QFile::encodeName(path);
        if (bytes.size() >= int(sizeof address.sun_path))
            return;
        memcpy(address.sun_path, bytes.constData(), size_t(bytes.size()));
        fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ok = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && ::listen(fd, 1) == 0;
    }
    ~SocketAt()
    {
        if (fd >= 0)
            ::close(fd);
    }
    int fd = -1;
    bool ok = false;
};

} // namespace

// File managers take URIs: every byte of a name must come back from the URI, which must be plain
// ASCII (a blank or a raw "#" would end or cut it).
TEST(FileRevealTest, UriKeepsEveryByteOfTheName)
{
    const char* const names[] = {
        "plain.mp3",    "a b.flac",          "\xc3\xa9t\xc3\xa9 \xe4\xb8\xad.wav",
        "100% #1?.mp3", "quote\"'$(x)`.mp3", "back\\slash;a=b.mp3",
    };
    for (const char* name : names) {
        const QString path = QStringLiteral("/tmp/my music/") + QString::fromUtf8(name);
        const QString uri = FileReveal::fileUri(path);
        EXPECT_TRUE(uri.startsWith(QStringLiteral("file:///tmp/my%20music/"))) << uri.toStdString();
        bool ascii = true;
        for (const QChar c : uri)
            ascii = ascii && c.unicode() > 0x20 && c.unicode() < 0x7f;
        EXPECT_TRUE(ascii) << uri.toStdString();
        EXPECT_EQ(QUrl(uri, QUrl::StrictMode).toLocalFile(), path) << uri.toStdString();
    }
    EXPECT_EQ(FileReveal::fileUri(QStringLiteral("/m/a b \u00e9#%.flac")),
              QStringLiteral("file:///m/a%20b%20%C3%A9%23%25.flac"));
    // A relative path is taken from the working folder, as the playlist stores what it was given.
    EXPECT_EQ(FileReveal::fileUri(QStringLiteral("x.mp3")),
              QUrl::fromLocalFile(QDir::currentPath() + "/x.mp3").toString(QUrl::FullyEncoded));
}

// The bus of DBUS_SESSION_BUS_ADDRESS, else the socket a user session keeps in the runtime
// folder; nothing else is a bus.
TEST(FileRevealTest, FindsTheSessionBus)
{
    QTemporaryDir dir(QStringLiteral("/tmp/sonaris-rt-XXXXXX"));
    ASSERT_TRUE(dir.isValid());
    const QString withSocket = dir.filePath(QStringLiteral("user"));
    const QString withBlank = dir.filePath(QStringLiteral("a b"));
    const QString withFile = dir.filePath(QStringLiteral("file"));
    const QString empty = dir.filePath(QStringLiteral("empty"));
    for (const QString& folder : {withSocket, withBlank, withFile, empty})
        ASSERT_TRUE(QDir().mkpath(folder));
    const SocketAt socket(withSocket + QStringLiteral("/bus"));
    const SocketAt blankSocket(withBlank + QStringLiteral("/bus"));
    ASSERT_TRUE(socket.ok && blankSocket.ok);
    QFile plain(withFile + QStringLiteral("/bus"));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();

    const struct
    {
        const char* what;
        QString address;  // empty: unset
        QString runtime;  // empty: unset
        QString expected;
    } cases[] = {
        {"the variable", QStringLiteral("unix:path=/x/y"), withSocket, QStringLiteral("unix:path=/x/y")},
        {"the runtime socket", QString(), withSocket,
         QStringLiteral("unix:path=") + withSocket + QStringLiteral("/bus")},
        {"an escaped blank", QString(), withBlank,
         QStringLiteral("unix:path=") + dir.path() + QStringLiteral("/a%20b/bus")},
        {"a plain file named bus", QString(), withFile, QString()},
        {"no socket", QString(), empty, QString()},
        {"nothing set", QString(), QString(), QString()},
    };
    const QByteArray oldAddress = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    const QByteArray oldRuntime = qgetenv("XDG_RUNTIME_DIR");
    for (const auto& c : cases) {
        if (c.address.isEmpty())
            qunsetenv("DBUS_SESSION_BUS_ADDRESS");
        else
            qputenv("DBUS_SESSION_BUS_ADDRESS", c.address.toUtf8());
        if (c.runtime.isEmpty())
            qunsetenv("XDG_RUNTIME_DIR");
        else
            qputenv("XDG_RUNTIME_DIR", c.runtime.toUtf8());
        EXPECT_EQ(FileReveal::sessionBusAddress(), c.expected) << c.what;
    }
    qputenv("DBUS_SESSION_BUS_ADDRESS", oldAddress);
    qputenv("XDG_RUNTIME_DIR", oldRuntime);
    if (oldAddress.isEmpty())
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
}

// The file manager is asked to show the file; only where none answers does xdg-open get its
// folder. Every row has a private bus of its own (or none) and a recording xdg-open.
TEST(FileRevealTest, AsksTheFileManagerAndFallsBackToTheFolder)
{
    enum class Peer
    {
        NoBus,
        NoOwner,
        Reply,
        Error,
        Never,
    };
    const struct
    {
        const char* what;
        Peer peer;
        bool viaRuntimeDir;  // the bus found through XDG_RUNTIME_DIR, the variable unset
        int answerTimeoutMs;
        Outcome expected;
    } cases[] = {
        {"the file manager answers", Peer::Reply, false, FileReveal::kAnswerTimeoutMs, Outcome::Shown},
        {"found in the runtime folder", Peer::Reply, true, FileReveal::kAnswerTimeoutMs, Outcome::Shown},
        {"it answers with an error", Peer::Error, false, FileReveal::kAnswerTimeoutMs, Outcome::FolderOpened},
        // A long answer time: the bus's own answer, not the time-out, must send it to the folder.
        {"nobody owns the name", Peer::NoOwner, false, 60000, Outcome::FolderOpened},
        {"no session bus", Peer::NoBus, false, 60000, Outcome::FolderOpened},
        {"it never answers", Peer::Never, false, 500, Outcome::FolderOpened},
    };
    const QString file = QStringLiteral("/tmp/a \u00e9 folder/\u00fcber #1.mp3");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TestSessionBus bus;
        if (c.peer != Peer::NoBus)
            TEST_START_SESSION_BUS(bus);
        TestFileManager manager(c.peer == Peer::Error   ? TestFileManager::Answer::Error
                                : c.peer == Peer::Never ? TestFileManager::Answer::Never
                                                        : TestFileManager::Answer::Reply);
        if (c.peer == Peer::Reply || c.peer == Peer::Error || c.peer == Peer::Never)
            ASSERT_TRUE(manager.start(bus.address())) << manager.error().toStdString();
        if (c.viaRuntimeDir)
            qunsetenv("DBUS_SESSION_BUS_ADDRESS");
        const TestCommandStub xdgOpen(QStringLiteral("xdg-open"));
        ASSERT_TRUE(xdgOpen.isValid());
        const PoolDrain drain;

        const auto t0 = std::chrono::steady_clock::now();
        const std::optional<Outcome> outcome = revealAndWait(file, c.answerTimeoutMs);
        const double ms = TestSupport::msSince(t0);
        ASSERT_EQ(outcome, c.expected) << name(outcome) << " after " << ms << " ms";

        const QList<TestFileManager::Call> calls = manager.calls();
        if (c.peer == Peer::Reply || c.peer == Peer::Error || c.peer == Peer::Never) {
            ASSERT_EQ(calls.size(), 1);
            EXPECT_EQ(calls[0].uris,
                      QStringList{QStringLiteral("file:///tmp/a%20%C3%A9%20folder/%C3%BCber%20%231.mp3")});
            EXPECT_EQ(calls[0].startupId, QString());
        } else {
            EXPECT_TRUE(calls.isEmpty());
        }
        if (c.expected == Outcome::FolderOpened) {
            ASSERT_TRUE(xdgOpen.waitForRuns(1, kOutcomeMs));
            EXPECT_EQ(xdgOpen.runs(), QList<QStringList>{{QStringLiteral("/tmp/a \u00e9 folder")}});
        } else {
            EXPECT_TRUE(xdgOpen.runs().isEmpty());
        }
        if (c.peer == Peer::Never)
            EXPECT_GE(ms, c.answerTimeoutMs);
    }
}

// A file manager that quits while the call waits: the bus answers for it and the folder opens at
// once, long before the answer time; the reveal itself never waited for any of it.
TEST(FileRevealTest, AFileManagerGoneWithoutAnsweringOpensTheFolder)
{
    TestSessionBus bus;
    TEST_START_SESSION_BUS(bus);
    TestFileManager manager(TestFileManager::Answer::Never);
    ASSERT_TRUE(manager.start(bus.address())) << manager.error().toStdString();
    const TestCommandStub xdgOpen(QStringLiteral("xdg-open"));
    ASSERT_TRUE(xdgOpen.isValid());
    const PoolDrain drain;

    auto promise = std::make_shared<std::promise<Outcome>>();
    std::future<Outcome> future = promise->get_future();
    const auto t0 = std::chrono::steady_clock::now();
    const auto done = [promise](Outcome outcome) { promise->set_value(outcome); };
    FileReveal::reveal(QStringLiteral("/tmp/song.mp3"), done, 60000);
    // Only handing the work over: a GUI thread would go on at once.
    EXPECT_LT(TestSupport::msSince(t0), 1000.0);
    ASSERT_TRUE(manager.waitForCalls(1, kOutcomeMs));
    EXPECT_EQ(future.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);

    manager.stop();
    ASSERT_EQ(future.wait_for(std::chrono::milliseconds(kOutcomeMs)), std::future_status::ready);
    EXPECT_EQ(future.get(), Outcome::FolderOpened);
    ASSERT_TRUE(xdgOpen.waitForRuns(1, kOutcomeMs));
    EXPECT_EQ(xdgOpen.runs(), QList<QStringList>{{QStringLiteral("/tmp")}});
}

// Nothing to show with and nothing to open with: a failure, and an empty path asks nobody.
TEST(FileRevealTest, FailsWhenNothingCanShowTheFile)
{
    TestSessionBus bus;
    TEST_START_SESSION_BUS(bus);
    TestFileManager manager;
    ASSERT_TRUE(manager.start(bus.address())) << manager.error().toStdString();
    const TestCommandStub xdgOpen(QStringLiteral("xdg-open"));
    ASSERT_TRUE(xdgOpen.isValid());
    {
        const PoolDrain drain;
        EXPECT_EQ(revealAndWait(QString(), FileReveal::kAnswerTimeoutMs), Outcome::Failed);
    }
    EXPECT_TRUE(manager.calls().isEmpty());
    EXPECT_TRUE(xdgOpen.runs().isEmpty());

    bus.stop();
    QTemporaryDir emptyBin;
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(emptyBin.path()));
    {
        const PoolDrain drain;
        EXPECT_EQ(revealAndWait(QStringLiteral("/tmp/song.mp3"), FileReveal::kAnswerTimeoutMs), Outcome::Failed);
    }
    qputenv("PATH", oldPath);
}
