#pragma once

#include "RDThread.h"

class RDHttpStreamServer;

// The stream server's accept thread ("RDHttpServer").
class RDHttpStreamServerThread : public RDThread
{
public:
    explicit RDHttpStreamServerThread(RDHttpStreamServer* server);
    ~RDHttpStreamServerThread() override = default;

    // Raises the stop flag and wakes the accept loop's wait (a shutdown of the listening
    // socket, never a close): the loop closes the connections and the listening socket itself,
    // so no descriptor is closed by a thread that does not own it.
    void stop() override;

    // Stop-aware pause for the accept loop.
    void pause(int ms) { sleepUntilStop(ms); }

protected:
    void run() override;

private:
    RDHttpStreamServer* m_server;
};
