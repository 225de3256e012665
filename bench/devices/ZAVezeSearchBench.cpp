// The search over many simulated devices and "Set All" over some of them (run through
// netns-run.sh with bench/devices/many.json, see CMakeLists.txt).

#include "BenchWorker.h"
#include "RDThread.h"
#include "ZAVeze.h"
#include "ZAVezeIpInfo.h"

#include <QCoreApplication>
#include <QSet>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <future>

namespace {

double secondsSince(std::chrono::steady_clock::time_point t0)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

QVector<ZAVezeDevice> searchOnce(ZAVeze& tool, double seconds)
{
    QVector<ZAVezeDevice> devices;
    onWorker([&] { return tool.search(devices, seconds); });
    QSet<QByteArray> macs;
    int withSip = 0, withRtp = 0;
    for (const ZAVezeDevice& d : devices) {
        macs.insert(d.mac);
        withSip += d.sip.size() == 2 && !d.sip[0].account.isEmpty();
        withRtp += d.rtp.size() == 2;
    }
    std::printf("search window %.2f s: %d devices (%d distinct), %d with both SIP lines, %d with their RTP list, "
                "%d frames dropped as pending\n",
                seconds, int(devices.size()), int(macs.size()), withSip, withRtp, tool.droppedFrames());
    return devices;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariable("ZAVEZE_TEST_IF").isEmpty()) {
        std::fprintf(stderr, "run through tests/ZAVeze/netns-run.sh with bench/devices/many.json\n");
        return 2;
    }
    const int setAll = argc > 1 ? std::atoi(argv[1]) : 50;
    ZAVeze tool;
    for (const RDSystemNetwork& network : RDSystemNetwork::networks())
        if (network.name() == qEnvironmentVariable("ZAVEZE_TEST_IF"))
            tool.setNetwork(network);
    tool.start();
    tool.beginJob();
    while (!tool.isOpen())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);

    for (double seconds : {0.25, 0.5, 1.0, 3.0})
        searchOnce(tool, seconds);
    const QVector<ZAVezeDevice> devices = searchOnce(tool, 3.0);
    if (devices.size() < setAll) {
        std::fprintf(stderr, "fewer devices than %d\n", setAll);
        return 1;
    }

    // "Set All" as the settings panel runs it: one blocking command per ticked device, on one
    // worker, skipping devices that fail.
    auto t0 = std::chrono::steady_clock::now();
    int failed = onWorker([&] {
        int failures = 0;
        for (int i = 0; i < setAll; ++i)
            failures += tool.setName(devices[i], QStringLiteral("Zone %1").arg(i)) != 0;
        return failures;
    });
    double seconds = secondsSince(t0);
    std::printf("Set All name over %d devices: %.3f s (%.2f ms a device), %d failed\n", setAll, seconds,
                1000 * seconds / setAll, failed);

    ZAVezeIpInfo address;
    address.mode = "static";
    address.ip = "198.51.100.1";
    address.netmask = "255.255.255.0";
    address.gateway = "198.51.100.254";
    t0 = std::chrono::steady_clock::now();
    failed = onWorker([&] {
        int failures = 0;
        ZAVezeIpInfo next = address;
        for (int i = 0; i < setAll; ++i) {
            failures += tool.setIpStatic(devices[i], next.ip, next.netmask, next.gateway, next.dns1, next.dns2) != 0;
            next = next.nextAddress();
        }
        return failures;
    });
    seconds = secondsSince(t0);
    std::printf("Set All static address over %d devices: %.3f s (%.2f ms a device), %d failed\n", setAll, seconds,
                1000 * seconds / setAll, failed);
    tool.stop();
    return 0;
}
