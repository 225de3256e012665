// Feeds the IO-control messages and audio frames a remote app may send through a real session
// of the device library into a TUTKClient, as the program runs it: its read thread hands the
// messages of type 0x800 to the observer, its audio thread checks and queues the audio. The
// input is a list of frames, each [selector][length:2 big-endian][bytes]: an even selector is an
// IO-control message (type 0x800 when bit 1 is set, another type otherwise), an odd one an audio
// frame. Checked: every non-empty 0x800 message arrives whole and in order, the others never;
// every queued audio packet passed the header check, and the queue stays within its bound.
#include "LoopP2p.h"
#include "LoopP2pFrameReader.h"
#include "LoopP2pSocket.h"
#include "LoopP2pTestDevice.h"
#include "TUTKClient.h"
#include "VexaBuffer.h"
#include "VexaClientObserver.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// Inputs beyond this add nothing the frame lengths (at most 65,535) do not already reach.
constexpr size_t kMaxInput = 256 * 1024;
// A client that does not finish within this is hung.
constexpr auto kHangLimit = std::chrono::seconds(20);

class Recorder : public VexaClientObserver
{
public:
    void onData(const std::shared_ptr<VexaClient>&, VexaBuffer& buffer) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        messages.emplace_back(reinterpret_cast<const char*>(buffer.bytes()), static_cast<size_t>(buffer.size()));
    }
    std::mutex mutex;
    std::vector<std::string> messages;
};

// The frames of the input, and the 0x800 messages that must come out of them.
std::string frames(const uint8_t* data, size_t size, std::vector<std::string>& expected)
{
    std::string bytes;
    size_t at = 0;
    while (at + 3 <= size) {
        const uint8_t selector = data[at];
        const size_t length = std::min<size_t>((size_t(data[at + 1]) << 8) | data[at + 2], size - at - 3);
        const std::string body(reinterpret_cast<const char*>(data) + at + 3, length);
        at += 3 + length;
        std::string frame;
        if (selector & 1) {
            LoopP2pFrameInfo info{};
            info.codec = TUTKFrameCodec;
            frame.assign(reinterpret_cast<const char*>(&info), sizeof(info));
            frame += body;
            bytes += LoopP2pFrameReader::encode(LoopP2pFrameKind::Audio, frame);
        } else {
            const uint32_t type = (selector & 2) ? uint32_t(TUTKIoCtrlMessage) : 0x801u + (selector >> 2);
            LoopP2pFrameReader::appendU32(frame, type);
            frame += body;
            bytes += LoopP2pFrameReader::encode(LoopP2pFrameKind::IoCtrl, frame);
            if (type == TUTKIoCtrlMessage && !body.empty())
                expected.push_back(body);
        }
    }
    return bytes;
}

void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    size = std::min(size, kMaxInput);
    std::vector<std::string> expected;
    std::string bytes = LoopP2pFrameReader::encode(LoopP2pFrameKind::AvStart, std::string("a\0b\0", 4));
    bytes += frames(data, size, expected);

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address;
    const socklen_t length = LoopP2pSocket::address(LoopP2pTestDevice::processDevice("fuzz-tutk-"), address);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        ::close(fd);
        return 0;
    }
    const int session = IOTC_Listen(1000);
    if (session < 0) {
        ::close(fd);
        return 0;
    }
    // From a thread of its own: many small messages fill the device's queue, which then waits
    // for the client's read thread to take them.
    std::thread writer([&] {
        LoopP2pSocket::sendAll(fd, bytes.data(), bytes.size());
        ::shutdown(fd, SHUT_WR);
    });

    Recorder recorder;
    auto* client = new TUTKClient(session);
    client->setObserver(&recorder);
    client->makeShared();
    client->start();
    // The read thread closes the session once the app's end arrives after its last message.
    const auto deadline = std::chrono::steady_clock::now() + kHangLimit;
    while (client->isConnected()) {
        check(std::chrono::steady_clock::now() < deadline);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    writer.join();
    client->stop();
    {
        std::lock_guard<std::mutex> lock(recorder.mutex);
        check(recorder.messages == expected);
    }
    VexaAudioPacket packet;
    int queued = 0;
    while (client->readAudio(packet) > 0) {
        check(packet.checkHeader() == VexaAudioPacket::kHeaderOk);
        check(packet.length() <= TUTKClient::kAudioBufferBytes - 8);
        ++queued;
    }
    check(queued <= VexaClient::kAudioQueueLimit);
    client->resetShared();
    ::close(fd);
    return 0;
}
