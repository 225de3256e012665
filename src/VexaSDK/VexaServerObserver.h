#pragma once

#include <memory>

class VexaBuffer;
class VexaClient;
class VexaServer;

// What a remote-access server reports. Every call comes with the server's observer lock held,
// so one server's calls never overlap: arrivals and departures on its listen thread, messages on
// the read thread of the client that sent them.
class VexaServerObserver
{
public:
    virtual ~VexaServerObserver() = default;

    virtual void onClientConnected(VexaServer*, const std::shared_ptr<VexaClient>&) {}
    // The client is stopped; its shared pointer is still valid for the call.
    virtual void onClientDisconnected(VexaServer*, const std::shared_ptr<VexaClient>&) {}
    // One whole message of the client. The handler may answer through that client, but must not
    // call the same server's sendToAll.
    virtual void onClientData(VexaServer*, const std::shared_ptr<VexaClient>&, VexaBuffer&) {}
};
