// Prints, through the P2P SDK stand-in on this machine: the IO-control round trip of a JSON
// message (app → TUTKServer's observer → app), audio frames per second in each direction, and
// how long TUTKServer::stop takes while an app has opened a session but not started its AV
// channel (the listen thread waiting in the AV start).
#include "LoopP2p.h"
#include "LoopP2pClient.h"
#include "RDLog.h"
#include "TUTKClient.h"
#include "TUTKServer.h"
#include "VexaBuffer.h"
#include "VexaServerObserver.h"

#include <QtGlobal>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t0)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<size_t>(p * values.size()))];
}

bool waitFor(const std::function<bool()>& condition, int ms)
{
    const auto t0 = Clock::now();
    while (!condition()) {
        if (msSince(t0) > ms)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

class Echo : public VexaServerObserver
{
public:
    void onClientData(VexaServer*, const std::shared_ptr<VexaClient>& client, VexaBuffer& buffer) override
    {
        client->send(reinterpret_cast<const char*>(buffer.bytes()), buffer.size());
    }
};

std::string uid(const char* what)
{
    return std::string("BENCH-") + what + "-" + std::to_string(getpid());
}

std::string wirePacket(int index)
{
    // A 20-ms L16 frame at 48 kHz with its header: 1,928 bytes.
    std::string bytes("\x0b\x01\xbb\x80\x00\x00\x4e\x20", 8);
    bytes.append(1920, static_cast<char>(index));
    return bytes;
}

void roundTrip()
{
    Echo echo;
    TUTKServer server;
    server.addObserver(&echo);
    server.setUid(QString::fromStdString(uid("rt")));
    if (!server.start()) {
        std::printf("io-ctrl round trip: login failed\n");
        return;
    }
    LoopP2pClient app;
    if (app.connect(uid("rt"), 5000) != 0 || app.startAv("admin", "", 5000) != 0) {
        std::printf("io-ctrl round trip: no session\n");
        return;
    }
    const std::string request = R"({"id":1,"method":"GetDeviceInfo"})";
    std::vector<double> times;
    for (int i = 0; i < 3000; ++i) {
        const auto t0 = Clock::now();
        app.sendIoCtrl(TUTKIoCtrlMessage, request);
        uint32_t type;
        std::string reply;
        if (app.recvIoCtrl(5000, type, reply) <= 0)
            break;
        if (i >= 100)
            times.push_back(msSince(t0));
    }
    std::printf("io-ctrl round trip (%zu): p50 %.3f ms, p99 %.3f ms, max %.3f ms\n", times.size(),
                percentile(times, 0.5), percentile(times, 0.99), percentile(times, 1.0));
    server.stop();
}

void audio()
{
    TUTKServer server;
    server.setUid(QString::fromStdString(uid("audio")));
    if (!server.start())
        return;
    LoopP2pClient app;
    if (app.connect(uid("audio"), 5000) != 0 || app.startAv("admin", "", 5000) != 0)
        return;
    waitFor([&] { return !server.clients().empty(); }, 5000);
    std::shared_ptr<VexaClient> client = server.clients().front();
    LoopP2pFrameInfo info;
    std::memset(&info, 0, sizeof(info));
    info.codec = TUTKFrameCodec;
    info.flags = TUTKFrameFlags;

    // App → program: the app sends as fast as it can, a reader drains readAudio meanwhile.
    constexpr int kFrames = 20000;
    std::atomic<bool> sent{false};
    std::atomic<int> received{0};
    std::thread reader([&] {
        VexaAudioPacket packet;
        auto idleSince = Clock::now();
        while (!sent || msSince(idleSince) < 200) {
            if (client->readAudio(packet) > 0) {
                ++received;
                idleSince = Clock::now();
            } else {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        }
    });
    auto t0 = Clock::now();
    for (int i = 0; i < kFrames; ++i)
        app.sendAudio(info, wirePacket(i));
    const double sendMs = msSince(t0);
    sent = true;
    reader.join();
    std::printf("audio app -> program: %d frames of 1,928 bytes sent in %.0f ms (%.0f frames/s), "
                "%d read (the rest gave way in the 100-frame queues)\n",
                kFrames, sendMs, kFrames * 1000.0 / sendMs, received.load());

    // Program → app: sendAudio as fast as the app takes them.
    VexaAudioPacket packet;
    packet.payloadType = 11;
    packet.channels = 1;
    packet.sampleRate = 48000;
    packet.duration = 20000;
    const std::string samples(1920, '\x11');
    packet.setPayload(samples.data(), static_cast<int>(samples.size()));
    int got = 0;
    t0 = Clock::now();
    std::thread producer([&] {
        for (int i = 0; i < kFrames; ++i) {
            client->sendAudio(packet);
            if (i % 50 == 49)
                std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
    });
    std::string frame;
    while (app.recvAudio(300, info, frame) > 0)
        ++got;
    const double receiveMs = msSince(t0) - 300;
    producer.join();
    std::printf("audio program -> app: %d of %d frames received in %.0f ms (%.0f frames/s)\n", got,
                kFrames, receiveMs, got * 1000.0 / receiveMs);
    server.stop();
}

void stopWithPendingStart()
{
    std::vector<double> times;
    for (int i = 0; i < 20; ++i) {
        const std::string name = uid("stop") + "-" + std::to_string(i);
        TUTKServer server;
        server.setUid(QString::fromStdString(name));
        if (!server.start())
            continue;
        LoopP2pClient app;
        if (app.connect(name, 5000) != 0)
            continue;
        if (!waitFor([&] { return server.startPending(); }, 5000))
            continue;
        const auto t0 = Clock::now();
        server.stop();
        times.push_back(msSince(t0));
    }
    std::printf("stop with an AV start pending (%zu): p50 %.1f ms, max %.1f ms\n", times.size(),
                percentile(times, 0.5), percentile(times, 1.0));
}

} // namespace

int main()
{
    qInstallMessageHandler(quiet);
    roundTrip();
    audio();
    stopWithPendingStart();
    return 0;
}
