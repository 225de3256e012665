#pragma once

#include "RDSocket.h"

// An IPv4 UDP datagram socket, opened by the constructor and closed when deleted. An empty
// datagram is a datagram (0 is returned), and errors reported by the network (refused, host
// unreachable, no permission for broadcast) leave the socket open: only a broken descriptor
// ends it.
class RDUdpSocket : public RDSocket
{
public:
    RDUdpSocket();
    ~RDUdpSocket() override;

    bool isFatal(int result, int error) override;
    int connect(const RDSocketAddress& address) override;
    void close() override;
    int send(const char* data, int length) override;
    int recv(char* buffer, int size) override;
    // The destination must be a dotted quad.
    int sendTo(const RDSocketAddress& to, const char* data, int length) override;
    int recvFrom(RDSocketAddress& from, char* buffer, int size) override;

    virtual int setBroadcast();
};
