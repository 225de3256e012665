// The application's WebSocket server as the options page drives it (updateApiServer): kept on
// its port, moved to another, closed, and retried after a busy port.
#include "SonarisRemoteFixture.h"

#include "../VexaSDK/WS/WSTestPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

class SonarisApiServerTest : public SonarisRemoteFixture
{
};

// GetDeviceInfo answered on the peer's connection.
bool answers(WSTestPeer& peer)
{
    if (!peer.sendFrame(WSOpcode::Text, R"({"id":7,"method":"GetDeviceInfo"})"))
        return false;
    WSFrameHeader frame;
    std::string payload;
    return peer.readFrame(&frame, &payload) && payload.find("\"GetDeviceInfo\"") != std::string::npos;
}

bool opens(WSTestPeer& peer, int port)
{
    return peer.connect(port) && peer.handshake();
}

// A socket that listens on the port (without address reuse), as another program would.
int holdPort(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || listen(fd, 1) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

} // namespace

TEST_F(SonarisApiServerTest, UpdateKeepsMovesClosesAndRetries)
{
    const int first = TestSupport::freeTcpPort();
    ASSERT_TRUE(sonaris->updateApiServer(true, first));
    WSTestPeer kept;
    ASSERT_TRUE(opens(kept, first));
    ASSERT_TRUE(answers(kept));

    // The same port: the connection stays.
    EXPECT_TRUE(sonaris->updateApiServer(true, first));
    EXPECT_TRUE(answers(kept));

    // Another port: the old one closes with its clients.
    const int second = TestSupport::freeTcpPort();
    ASSERT_NE(second, first);
    EXPECT_TRUE(sonaris->updateApiServer(true, second));
    EXPECT_TRUE(kept.waitClosed());
    WSTestPeer moved;
    ASSERT_TRUE(opens(moved, second));
    EXPECT_TRUE(answers(moved));
    WSTestPeer old;
    EXPECT_FALSE(old.connect(first));

    // Disabled: closed.
    EXPECT_FALSE(sonaris->updateApiServer(false, second));
    EXPECT_TRUE(moved.waitClosed());
    WSTestPeer none;
    EXPECT_FALSE(none.connect(second));

    // A busy port fails, and the same call succeeds once the port is free.
    const int busy = TestSupport::freeTcpPort();
    const int holder = holdPort(busy);
    ASSERT_GE(holder, 0);
    EXPECT_FALSE(sonaris->updateApiServer(true, busy));
    close(holder);
    EXPECT_TRUE(sonaris->updateApiServer(true, busy));
    WSTestPeer late;
    ASSERT_TRUE(opens(late, busy));
    EXPECT_TRUE(answers(late));
}
