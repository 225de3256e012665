#pragma once

#include "RDSocket.h"

// An IPv4 TCP stream socket. The constructor opens the socket at once; a socket made for an
// accepted connection only holds the accepted descriptor. Deleting it closes the descriptor.
class RDTcpSocket : public RDSocket
{
public:
    RDTcpSocket();
    // Takes over a connected descriptor (from accept); peer is the remote address.
    RDTcpSocket(int acceptedHandle, const RDSocketAddress& peer);
    ~RDTcpSocket() override;

    int connect(const RDSocketAddress& address) override;
    // Owner only: releases the descriptor and clears the address.
    void close() override;
    int send(const char* data, int length) override;
    int recv(char* buffer, int size) override;
    int sendTo(const RDSocketAddress& to, const char* data, int length) override;
    int recvFrom(RDSocketAddress& from, char* buffer, int size) override;

    // backlog <= 0 takes the system's largest queue.
    virtual int listen(int backlog);
    virtual RDTcpSocket* accept();
    // As close, keeping the address.
    virtual void closeSocket();
    // Milliseconds; 0 means none. Applied at once when open, else after a successful connect.
    virtual void setTimeout(int receiveMs, int sendMs);
    virtual bool hasTimeout() const;

    int receiveTimeout() const { return m_receiveTimeout; }
    int sendTimeout() const { return m_sendTimeout; }

    // Accepts one connection on a listening descriptor: a new socket, or null with *error set.
    static RDTcpSocket* acceptFrom(int listenHandle, int* error);

private:
    void applyTimeouts();

    int m_receiveTimeout = 0;
    int m_sendTimeout = 0;
};
