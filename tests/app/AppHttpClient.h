#pragma once

#include <QByteArray>

// A plain HTTP/1.0 client on 127.0.0.1 for the tests of the running program: one request per
// connection, everything bounded in time.
class AppHttpClient
{
public:
    struct Reply
    {
        int status = 0; // 0: no answer (refused, closed, timed out)
        QByteArray head;
        QByteArray body;
    };

    // GET target; reads until the server closes or maxBody bytes of body arrived.
    static Reply get(int port, const QByteArray& target, int timeoutMs = 5000, int maxBody = 1 << 20);
    // Whether something accepts connections on 127.0.0.1:port.
    static bool isListening(int port);
};
