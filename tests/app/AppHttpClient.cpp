#include "AppHttpClient.h"

#include <QList>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace {

int connectTo(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

} // namespace

AppHttpClient::Reply AppHttpClient::get(int port, const QByteArray& target, int timeoutMs, int maxBody)
{
    Reply reply;
    const int fd = connectTo(port);
    if (fd < 0)
        return reply;
    const QByteArray request = "GET " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    if (send(fd, request.constData(), static_cast<size_t>(request.size()), MSG_NOSIGNAL) != request.size()) {
        close(fd);
        return reply;
    }
    QByteArray data;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd waiting = {fd, POLLIN, 0};
        if (poll(&waiting, 1, 50) <= 0)
            continue;
        char buffer[16384];
        const ssize_t got = recv(fd, buffer, sizeof(buffer), 0);
        if (got <= 0)
            break;
        data.append(buffer, static_cast<int>(got));
        const int end = data.indexOf("\r\n\r\n");
        if (end >= 0 && data.size() - end - 4 >= maxBody)
            break;
    }
    close(fd);
    const int end = data.indexOf("\r\n\r\n");
    if (end < 0)
        return reply;
    reply.head = data.left(end);
    reply.body = data.mid(end + 4);
    const QList<QByteArray> words = reply.head.split(' ');
    reply.status = words.size() > 1 ? words[1].toInt() : 0;
    return reply;
}

bool AppHttpClient::isListening(int port)
{
    const int fd = connectTo(port);
    if (fd < 0)
        return false;
    close(fd);
    return true;
}
