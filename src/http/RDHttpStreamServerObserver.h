#pragma once

class RDHttpBaseRequest;
class RDHttpConnection;
class RDHttpStreamServer;
class RDSocketAddress;

// What the stream server reports to its owner. Every body is empty by default.
class RDHttpStreamServerObserver
{
public:
    virtual ~RDHttpStreamServerObserver() = default;

    // The listening socket is open on address (host and port actually used); accept thread.
    virtual void onListening(RDHttpStreamServer* server, const RDSocketAddress& address);
    // Opening, binding or listening failed; the accept thread then ends without retrying.
    virtual void onListenFailed(RDHttpStreamServer* server, const RDSocketAddress& address);
    // One authenticated request for any path but the stream and SDK ones, on that connection's
    // own thread with no server lock held. Answer through the connection before returning;
    // keep neither object (the server deletes the request and may close the connection).
    virtual void onRequest(RDHttpStreamServer* server, RDHttpConnection* connection, RDHttpBaseRequest* request);
};
