#pragma once

#include "RDHttpAudioStream.h"
#include "RDThread.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>

class RDData;
class RDHttpBaseRequest;
class RDHttpConnection;
class RDHttpStreamServer;

// One accepted connection of the stream server, served on its own thread: requests one at a
// time, or one stream until the stream ends, the listener falls too far behind or goes away.
class RDHttpStreamServerClientThread : public RDThread
{
public:
    // Takes ownership of the connection.
    RDHttpStreamServerClientThread(RDHttpStreamServer* server, RDHttpConnection* connection);
    ~RDHttpStreamServerClientThread() override;

    // Raises the stop flag and shuts the connection down, so that a blocked read or write
    // returns at once. Any thread.
    void stop() override;

    // The stream writers' side, called with the server's client-list lock held.
    // Queues the bytes when this client plays the path. A listener whose queue would pass the
    // limit is ended instead: its stream is never cut. True when it was ended by this call.
    bool append(const std::string& path, const char* data, int length, int limit);
    // Ends the stream when this client plays the path.
    void finish(const std::string& path);

    // Called by the server under its stream-list lock when the stream is found.
    void attach(const RDHttpAudioStream& stream);

    // Where the connection stands, for the server's bound on connections that are not
    // listeners: waiting for a request (new, or idle between keep-alive requests), having one
    // answered, playing a stream, or displaced by a newer connection.
    enum class Phase
    {
        Waiting,
        Serving,
        Listening,
        Displaced
    };
    Phase phase() const { return m_phase.load(std::memory_order_acquire); }
    // Monotonic seconds (RDThread::monotonicTime) since when the connection has waited for a
    // request: the making of this object (for the head already read), or the end of its last
    // answer.
    double waitingSince() const { return m_waitingSince.load(std::memory_order_acquire); }
    // Accept thread: ends a connection that is still waiting for its request. False when it has
    // just begun to be answered, or is not waiting; it is then left alone.
    bool displace();

    RDHttpConnection* connection() const { return m_connection; }

protected:
    void run() override;

private:
    void serveStream(RDHttpBaseRequest* request);
    void sendPlain(const RDHttpAudioStream& stream);
    void sendIcy(const RDHttpAudioStream& stream);
    // Waits until a whole piece of size bytes is queued and takes it. False when the stream
    // is over (stop, finished, connection gone).
    bool takePiece(char* piece, int size);
    // One whole piece; false when it could not all be sent or the stream is over.
    bool send(const char* data, int length, bool head = false);
    void detach();
    void endLocked(const char* why);

    RDHttpStreamServer* m_server;
    RDHttpConnection* m_connection;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_finished = false;
    // The sender is inside a send (to be woken by a shutdown when the stream ends).
    bool m_sending = false;
    RDHttpAudioStream m_stream;
    RDData* m_queue = nullptr;
    // The sender waits for this many bytes; 0 while it does not wait.
    int m_pieceSize = 0;

    std::atomic<Phase> m_phase{Phase::Waiting};
    std::atomic<double> m_waitingSince;
};
