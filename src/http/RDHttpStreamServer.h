#pragma once

#include "RDHttpAudioStream.h"
#include "RDHttpServerConfigure.h"

#include <atomic>
#include <list>
#include <mutex>
#include <poll.h>
#include <string>
#include <vector>

class RDHttpBaseRequest;
class RDHttpConnection;
class RDHttpStreamServerClientThread;
class RDHttpStreamServerObserver;
class RDThread;
class RDTcpSocketServer;

// The application's one HTTP server. It publishes live audio streams under request paths
// (every listener of a path gets the bytes written to it from the moment it attaches, plain or
// in the ICY form) and hands every other request, after optional HTTP Basic authentication,
// to its observer. One thread accepts connections, one thread serves each connection.
// Listeners and the other connections are bounded apart (RDHttpServerConfigure): a listener
// beyond its limit gets 503 at once, and connections that have not sent a whole request give
// way to new ones, so that neither kind keeps requests such as "/api" out.
//
// The object lives as long as the application: a restart is stop, setConfigure, start.
// Streams outlive start and stop.
class RDHttpStreamServer
{
public:
    RDHttpStreamServer();
    virtual ~RDHttpStreamServer();
    RDHttpStreamServer(const RDHttpStreamServer&) = delete;
    RDHttpStreamServer& operator=(const RDHttpStreamServer&) = delete;

    // Before start.
    void setConfigure(const RDHttpServerConfigure& configure);
    RDHttpServerConfigure configure() const;
    void setObserver(RDHttpStreamServerObserver* observer);

    // Starts the accept thread and returns at once (0); listening is reported to the observer.
    // -1 while an accept thread from an earlier start still exists.
    int start();
    // Ends the accept thread and every connection, then returns. Safe when not started.
    void stop();
    bool isStarted() const;

    // False (nothing registered) for a stream without path or with a buffer size of 0 or less.
    // A second stream with the same path is listed as well; look-ups find the first.
    bool addStream(const RDHttpAudioStream& stream);
    // Unlists every stream of that path and ends the listeners playing it.
    void removeStream(const RDHttpAudioStream& stream);
    // Queues the bytes for every listener of the path; never waits for a listener's socket.
    void writeStream(const RDHttpAudioStream& stream, const char* data, int length);
    bool hasStream(const std::string& path) const;

    bool authenticate(RDHttpConnection* connection, RDHttpBaseRequest* request);
    // The answer to requests nobody serves: 404 with an empty body.
    void autoHandlerRequest(RDHttpConnection* connection, RDHttpBaseRequest* request);

    // Connections being served or waiting to be reaped.
    int clientCount() const;
    // Connections playing a stream (at most the configuration's maxClients).
    int listenerCount() const;

    // HTTP Basic check of one Authorization header value against the credentials: passes when
    // both are empty, else when the value's second blank-separated word is base64 of
    // "user:password". The comparison takes the same time wherever the texts differ.
    static bool checkBasicAuthorization(const std::string& header, const std::string& userName,
                                        const std::string& password);

protected:
    // A new listening socket; called once per start by the accept thread.
    virtual RDTcpSocketServer* createServerSocket();

private:
    friend class RDHttpStreamServerClientThread;

    enum class Attach
    {
        Attached,
        NoStream,
        Full
    };

    // A connection whose first head is not whole yet; it has no thread, the accept thread reads
    // for it.
    struct Pending
    {
        RDHttpConnection* connection; // owned
        unsigned long long pass; // of the accept loop, when it was taken
        double accepted; // monotonic seconds
        double started; // when the head's first byte came; 0 before
        bool ready; // the head is whole: waiting for a thread
    };

    // Accept thread.
    void acceptLoop(RDThread* thread);
    int pendingWaitMs(const RDHttpServerConfigure& configure) const;
    // When the connection's time for its head runs out; 0 for never.
    static double pendingDeadline(const Pending& pending, const RDHttpServerConfigure& configure);
    // polls[i + 1] belongs to m_pending[i].
    void readPending(const std::vector<pollfd>& polls, double now);
    void expirePending(const RDHttpServerConfigure& configure, double now);
    // True when it took a connection.
    bool acceptNew(RDTcpSocketServer* socket, const RDHttpServerConfigure& configure, double now);
    bool roomForPending(const RDHttpServerConfigure& configure);
    // Gives the connections with a whole head their threads, in arrival order, while there is room.
    void startReady(const RDHttpServerConfigure& configure);
    bool roomForThread(const RDHttpServerConfigure& configure);
    void logFlood(bool force);
    // Any thread: ends the accept loop's wait (after its stop flag is raised).
    void wakeAccept();
    // Releases the connections whose threads have ended.
    void reapClients();
    void closeClients();
    // Client threads: attach under the stream-list lock, so that a removal either finds the
    // listener attached (and ends it) or comes first (and the listener gets 404). A listener
    // beyond the limit is not attached (Full). Each attached listener calls releaseListener
    // once when it ends.
    Attach attachStream(RDHttpStreamServerClientThread* client, const std::string& path, RDHttpAudioStream* found);
    void releaseListener();
    RDHttpStreamServerObserver* observer() const;
    int configureQueueLimit() const { return m_streamQueueLimit.load(std::memory_order_relaxed); }

    mutable std::mutex m_streamMutex;
    std::vector<RDHttpAudioStream> m_streams;
    int m_listeners = 0;

    mutable std::mutex m_clientMutex;
    std::list<RDHttpStreamServerClientThread*> m_clients;

    // Guards the configuration and the observer, read by the accept and client threads.
    mutable std::mutex m_configMutex;
    RDHttpServerConfigure m_configure;
    RDHttpStreamServerObserver* m_observer = nullptr;
    // Read by every stream write, which must not wait for the configuration lock.
    std::atomic<int> m_streamQueueLimit{RDHttpServerConfigure::kDefaultStreamQueueLimit};

    // Owner's thread only (start, stop). isStarted reads the flag instead, so that a request
    // handler asking for it cannot wait on a stop that waits for that handler.
    std::mutex m_lifeMutex;
    RDThread* m_thread = nullptr;
    // The accept loop's listening socket while it listens, for wakeAccept.
    std::mutex m_listenMutex;
    RDTcpSocketServer* m_listenSocket = nullptr;
    std::atomic<bool> m_started{false};

    // Accept thread only.
    std::vector<Pending> m_pending;
    unsigned long long m_pass = 0;
    double m_acceptPausedUntil = 0;
    double m_acceptFailureLogged = -1e9;
    // Since the last log line about them: connections that made way for new ones, new ones
    // turned away, heads that came too slowly.
    int m_displaced = 0;
    int m_turnedAway = 0;
    int m_headsTimedOut = 0;
    double m_floodLogged = 0;
};
