// Cost of the RTP layer's send and receive paths on loopback: one session sends 20 ms PCMU
// packets (172 bytes on the wire) as fast as it can to a second session, which drains them.
#include "RtpLayerSession.h"

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

int openOnFreePort(RtpLayerSession& session, int from)
{
    for (int port = from; port < from + 2000; port += 2) {
        if (session.open("127.0.0.1", port, 8000) == 0)
            return port;
    }
    return 0;
}

double seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b)
{
    return std::chrono::duration<double>(b - a).count();
}

} // namespace

int main()
{
    RtpLayerSession sender, receiver;
    const int sendPort = openOnFreePort(sender, 52000);
    const int receivePort = openOnFreePort(receiver, 54000);
    if (!sendPort || !receivePort) {
        std::fprintf(stderr, "no free ports\n");
        return 1;
    }
    sender.addDestination("127.0.0.1", receivePort);
    const std::vector<uint8_t> payload(160, 0xFF);

    const int count = 200000;
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i)
        sender.sendPacket(payload.data(), payload.size(), 0, false, 160);
    const auto t1 = std::chrono::steady_clock::now();
    std::printf("sendPacket: %.2f us per packet (%.0f packets/s)\n", seconds(t0, t1) * 1e6 / count,
                count / seconds(t0, t1));

    // Receive: the sender paces in bursts of 10 that the receiver drains in one call each.
    RtpLayerPacket packets[10];
    while (receiver.receive(packets, 10) > 0) {
    }
    int received = 0;
    double inReceive = 0;
    const int bursts = 20000;
    for (int b = 0; b < bursts; ++b) {
        for (int i = 0; i < 10; ++i)
            sender.sendPacket(payload.data(), payload.size(), 0, false, 160);
        receiver.waitReadable(10);
        const auto r0 = std::chrono::steady_clock::now();
        received += receiver.receive(packets, 10);
        inReceive += seconds(r0, std::chrono::steady_clock::now());
    }
    std::printf("receive: %.2f us per packet (%d of %d packets taken)\n", inReceive * 1e6 / (received ? received : 1),
                received, bursts * 10);

    const auto s0 = std::chrono::steady_clock::now();
    const int services = 1000000;
    for (int i = 0; i < services; ++i)
        sender.serviceRtcp(0.0);
    std::printf("serviceRtcp when nothing is due: %.3f us per call\n",
                seconds(s0, std::chrono::steady_clock::now()) * 1e6 / services);
    sender.byeAndClose();
    receiver.byeAndClose();
    return 0;
}
