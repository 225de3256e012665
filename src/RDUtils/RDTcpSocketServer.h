#pragma once

#include "RDSocketServer.h"

class RDTcpSocket;

// A listening IPv4 TCP socket.
class RDTcpSocketServer : public RDSocketServer
{
public:
    RDTcpSocketServer() = default;
    ~RDTcpSocketServer() override = default;

    // Reuse-address, bind and listen. The host must be a dotted quad (empty means 0.0.0.0);
    // port 0 picks a free port, which address() then reports. The handle, or -1.
    int open(const RDSocketAddress& address) override;
    void close() override;
    // As close, keeping the address.
    virtual void closeSocket();
    // A new connection owned by the caller, or null.
    virtual RDTcpSocket* accept();
};
