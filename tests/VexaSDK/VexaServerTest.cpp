#include "FakeVexaServer.h"
#include "VexaServerObserver.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

namespace {

// Every call an observer hears, as "<tag> <event> <client number>", in one shared journal.
class Journal
{
public:
    void add(const std::string& line)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lines.push_back(line);
    }
    std::vector<std::string> lines()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_lines;
    }

private:
    std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

class JournalObserver : public VexaServerObserver
{
public:
    JournalObserver(Journal& journal, std::string tag) : m_journal(journal), m_tag(std::move(tag)) {}

    void onClientConnected(VexaServer*, const std::shared_ptr<VexaClient>& client) override
    {
        m_journal.add(m_tag + " connected " + name(client));
    }
    void onClientDisconnected(VexaServer*, const std::shared_ptr<VexaClient>& client) override
    {
        // Stopped before it is announced.
        m_journal.add(m_tag + " disconnected " + name(client) + (client->isConnected() ? " (still up)" : ""));
    }
    void onClientData(VexaServer* server, const std::shared_ptr<VexaClient>& client, VexaBuffer& buffer) override
    {
        const std::string text(reinterpret_cast<const char*>(buffer.bytes()), size_t(buffer.size()));
        m_journal.add(m_tag + " data " + name(client) + " " + text);
        lastServer = server;
    }

    // Clients are told apart by the first message queued to them ("#<n>").
    static std::string name(const std::shared_ptr<VexaClient>& client)
    {
        auto fake = std::dynamic_pointer_cast<FakeVexaClient>(client);
        const auto messages = fake ? fake->messages() : std::vector<std::string>();
        return messages.empty() ? "?" : messages.front();
    }

    VexaServer* lastServer = nullptr;

private:
    Journal& m_journal;
    std::string m_tag;
};

class VexaServerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        server.addObserver(&first);
        server.addObserver(nullptr); // skipped
        server.addObserver(&second);
        server.start();
    }

    // A client that knows its name before the registry announces it.
    std::shared_ptr<FakeVexaClient> connect(const std::string& name, bool startSucceeds = true)
    {
        auto* client = new FakeVexaClient();
        client->send(name);
        client->setStartSucceeds(startSucceeds);
        return server.connect(client);
    }

    Journal journal;
    JournalObserver first{journal, "A"};
    JournalObserver second{journal, "B"};
    FakeVexaServer server;
};

TEST_F(VexaServerTest, CheckAuthComparesBothTextsExactly)
{
    const std::string digest = "5f4dcc3b5aa765d61d8327deb882cf99";
    server.setAuth(0, "admin", digest);
    EXPECT_EQ(server.isAuthEnabled(), 0);
    // It compares whether or not auth is on.
    EXPECT_TRUE(server.checkAuth("admin", digest));
    server.setAuth(1, "admin", digest);
    EXPECT_EQ(server.isAuthEnabled(), 1);
    const struct
    {
        std::string username, password;
        bool matches;
    } rows[] = {
        {"admin", digest, true},
        {"admin", "5F4DCC3B5AA765D61D8327DEB882CF99", false},
        {"Admin", digest, false},
        {"admin", digest + " ", false},
        {"admin", digest.substr(0, 31), false},
        {"admin", std::string(digest.c_str(), 16) + std::string(1, '\0') + digest.substr(17), false},
        {"", "", false},
        {"admin", "password", false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(server.checkAuth(row.username, row.password), row.matches) << row.username << " " << row.password;
}

// Observers hear everything in the order they were added; a message reaches them with its
// client and server.
TEST_F(VexaServerTest, ObserversAreCalledInOrderAdded)
{
    auto one = connect("#1");
    ASSERT_TRUE(one);
    one->deliver("hello");
    EXPECT_EQ(journal.lines(), (std::vector<std::string>{"A connected #1", "B connected #1", "A data #1 hello",
                                                         "B data #1 hello"}));
    EXPECT_EQ(first.lastServer, &server);
}

// A client whose connection dropped stays listed, and is stopped, reported and released only
// when the next client connects (or the server stops).
TEST_F(VexaServerTest, DroppedClientIsPurgedAtTheNextConnection)
{
    auto one = connect("#1");
    auto two = connect("#2");
    ASSERT_TRUE(one && two);
    std::weak_ptr<FakeVexaClient> gone = one;
    one->setConnected(false);
    one.reset();
    EXPECT_EQ(server.registry().count(), 2);
    EXPECT_FALSE(gone.expired()); // its own `self` holds it while listed

    auto three = connect("#3");
    EXPECT_EQ(server.registry().count(), 2);
    EXPECT_TRUE(gone.expired());
    EXPECT_EQ(journal.lines(),
              (std::vector<std::string>{"A connected #1", "B connected #1", "A connected #2", "B connected #2",
                                        "A disconnected #1", "B disconnected #1", "A connected #3",
                                        "B connected #3"}));

    // Held by someone else (a channel's sink), a purged client outlives the registry's release.
    std::shared_ptr<FakeVexaClient> held = two;
    two.reset();
    server.stop();
    EXPECT_EQ(server.registry().count(), 0);
    EXPECT_EQ(held->stops(), 1);
    EXPECT_FALSE(held->isConnected());
    EXPECT_EQ(held->sharedSelf(), nullptr);
    const auto lines = journal.lines();
    EXPECT_EQ(std::vector<std::string>(lines.end() - 4, lines.end()),
              (std::vector<std::string>{"A disconnected #2", "B disconnected #2", "A disconnected #3",
                                        "B disconnected #3"}));
}

// A client that does not start is released at once: never listed, never announced.
TEST_F(VexaServerTest, AClientThatFailsToStartIsNeverListed)
{
    auto* failing = new FakeVexaClient();
    failing->setStartSucceeds(false);
    std::weak_ptr<VexaClient> watch;
    {
        // Watch it through a copy taken while it is made shared.
        class Watching : public FakeVexaClient
        {
        public:
            explicit Watching(std::weak_ptr<VexaClient>& watch) : m_watch(watch) {}
            bool start() override
            {
                m_watch = sharedSelf();
                return false;
            }

        private:
            std::weak_ptr<VexaClient>& m_watch;
        };
        EXPECT_EQ(server.connect(new Watching(watch)), nullptr);
    }
    EXPECT_TRUE(watch.expired());
    EXPECT_EQ(server.connect(failing), nullptr);
    EXPECT_EQ(server.registry().count(), 0);
    EXPECT_TRUE(journal.lines().empty());
    server.sendToAll("x", 1);
}

// sendToAll queues to every listed client, in order of arrival, whether or not it is still
// connected (it is purged later).
TEST_F(VexaServerTest, SendToAllReachesEveryListedClient)
{
    auto one = connect("#1");
    auto two = connect("#2");
    two->setConnected(false);
    server.sendToAll("{\"id\":1}", 8);
    server.sendToAll("", 0);
    server.sendToAll(nullptr, 0); // no bytes at all: nothing queued
    EXPECT_EQ(one->messages(), (std::vector<std::string>{"#1", "{\"id\":1}", ""}));
    EXPECT_EQ(two->messages(), (std::vector<std::string>{"#2", "{\"id\":1}", ""}));
    EXPECT_EQ(server.registry().clients().size(), 2u);
}

TEST(VexaClient, SharedSelfOwnsTheClientUntilReleased)
{
    auto* client = new FakeVexaClient();
    EXPECT_EQ(client->sharedSelf(), nullptr);
    client->makeShared();
    std::shared_ptr<VexaClient> copy = client->sharedSelf();
    ASSERT_EQ(copy.get(), client);
    // Made shared again, the one owner stays.
    client->makeShared();
    EXPECT_EQ(client->sharedSelf(), copy);
    client->resetShared();
    EXPECT_EQ(client->sharedSelf(), nullptr);
    // Copies still alive: owned again through them, not by a second owner.
    client->makeShared();
    EXPECT_EQ(copy.use_count(), 2);
    std::weak_ptr<VexaClient> watch = copy;
    copy.reset();
    EXPECT_FALSE(watch.expired());
    client->resetShared();
    EXPECT_TRUE(watch.expired());
}

// Without an observer, or once released, a received message goes nowhere.
TEST(VexaClient, MessagesWithoutObserverAreDropped)
{
    Journal journal;
    JournalObserver observer(journal, "A");
    FakeVexaServer server;
    server.addObserver(&observer);
    auto* client = new FakeVexaClient();
    client->deliver("before"); // no observer, not shared
    auto shared = server.connect(client);
    shared->deliver("while");
    shared->setObserver(nullptr);
    shared->deliver("after");
    EXPECT_EQ(journal.lines(), (std::vector<std::string>{"A connected ?", "A data ? while"}));
    EXPECT_FALSE(shared->isAuthorized());
    shared->setAuthorized(true);
    EXPECT_TRUE(shared->isAuthorized());
}

} // namespace
