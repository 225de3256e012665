// Feeds arbitrary bytes, as a remote app would send them, to the frame splitter and through a
// real session of the device library: whatever arrives is drained with the IO-control and
// audio receives the program's P2P client uses, until the session ends.
#include "LoopP2p.h"
#include "LoopP2pFrameReader.h"
#include "LoopP2pSocket.h"
#include "LoopP2pTestDevice.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

// Below the socket's buffer, so that the single-threaded write never blocks.
constexpr size_t kMaxInput = 100 * 1024;
constexpr int kIoCtrlBuffer = 131068;
constexpr int kAudioBuffer = 64 * 1024;

int acceptAll(const char*, const char*)
{
    return 0;
}

void splitter(const uint8_t* data, size_t size)
{
    LoopP2pFrameReader reader;
    const size_t cut = size ? data[0] % (size + 1) : 0;
    reader.append(reinterpret_cast<const char*>(data), cut);
    LoopP2pFrame frame;
    while (reader.next(frame) == LoopP2pFrameReader::Ready) {
    }
    reader.append(reinterpret_cast<const char*>(data) + cut, size - cut);
    while (reader.next(frame) == LoopP2pFrameReader::Ready) {
    }
}

void session(const uint8_t* data, size_t size)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address;
    const socklen_t length = LoopP2pSocket::address(LoopP2pTestDevice::processDevice("fuzz-"), address);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        ::close(fd);
        return;
    }
    const int sessionId = IOTC_Listen(1000);
    if (sessionId < 0) {
        ::close(fd);
        return;
    }
    std::string bytes = LoopP2pFrameReader::encode(LoopP2pFrameKind::AvStart, std::string("a\0b\0", 4));
    bytes.append(reinterpret_cast<const char*>(data), size);
    LoopP2pSocket::sendAll(fd, bytes.data(), bytes.size());
    ::shutdown(fd, SHUT_WR);

    LoopP2pAvStartInput start{};
    start.size = sizeof(start);
    start.session = sessionId;
    start.timeoutSeconds = 1;
    start.authCheck = acceptAll;
    LoopP2pAvStartOutput output{};
    output.size = sizeof(output);
    const int av = avServStartEx(&start, &output);
    if (av >= 0) {
        std::vector<char> buffer(kIoCtrlBuffer);
        unsigned int type = 0;
        int got;
        while ((got = avRecvIOCtrl(av, &type, buffer.data(), kIoCtrlBuffer, 1000)) >= 0
               || got == LoopP2pRecvTooLarge) {
        }
        char info[16];
        unsigned int number = 0;
        while ((got = avRecvAudioData(av, buffer.data(), kAudioBuffer, info, 16, &number)) >= 0
               || got == LoopP2pRecvTooLarge) {
        }
        avServStop(av);
    }
    IOTC_Session_Close(sessionId);
    ::close(fd);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    size = std::min(size, kMaxInput);
    splitter(data, size);
    session(data, size);
    return 0;
}
