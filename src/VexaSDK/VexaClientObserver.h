#pragma once

#include <memory>

class VexaBuffer;
class VexaClient;

// Where a client delivers the messages it receives: its server, which hands them on to the
// server's observers. Called on the client's read thread.
class VexaClientObserver
{
public:
    virtual ~VexaClientObserver() = default;

    // One whole message; the buffer is the caller's and valid for the call only.
    virtual void onData(const std::shared_ptr<VexaClient>&, VexaBuffer&) {}
};
