// Feeds arbitrary bytes to the request head parser and, through a socket pair, to the whole
// request framing of a connection (head search with either line ending, limits, Content-Length,
// pipelining, refusals), also after the accept thread's first look at what has arrived.
#include "RDData.h"
#include "RDHttpBaseRequest.h"
#include "RDHttpConnection.h"
#include "RDHttpRequest.h"
#include "RDTcpSocket.h"

#include <QtGlobal>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

// Below the socket pair's buffer, so that writing never blocks.
constexpr size_t kMaxInput = 150 * 1024;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool installed = (qInstallMessageHandler(quiet), true);
    (void)installed;
    const std::string text(reinterpret_cast<const char*>(data), std::min(size, kMaxInput));

    RDHttpRequest head;
    if (head.parse(text)) {
        head.toString();
        head.isComplete();
        parseUrlQuery(head.target());
        parseUrlQuery(head.query());
        head.header("Content-Length");
    }

    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        return 0;
    int bufferSize = 512 * 1024;
    setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &bufferSize, sizeof(bufferSize));
    setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &bufferSize, sizeof(bufferSize));
    size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = send(fds[1], text.data() + written, text.size() - written, MSG_NOSIGNAL);
        if (n <= 0)
            break;
        written += static_cast<size_t>(n);
    }
    shutdown(fds[1], SHUT_WR);

    RDHttpConnection connection(new RDTcpSocket(fds[0], RDSocketAddress("127.0.0.1", 1)));
    connection.setTimeouts(100, 100);
    connection.setWriteTimeout(100);
    // Half of the inputs start the way the server's accept thread does: whatever has arrived,
    // without waiting, before the first request is read.
    if (size > 0 && (data[0] & 1))
        connection.receiveArrived();
    char sink[4096];
    while (connection.isConnected()) {
        const std::unique_ptr<RDHttpBaseRequest> request = connection.readRequest();
        if (!request)
            break;
        if (!request->isComplete())
            __builtin_trap();
        while (request->body()->read(sink, sizeof(sink)) > 0) {
        }
        // Drain the answers so that the pair never fills up.
        while (recv(fds[1], sink, sizeof(sink), MSG_DONTWAIT) > 0) {
        }
    }
    close(fds[1]);
    return 0;
}
