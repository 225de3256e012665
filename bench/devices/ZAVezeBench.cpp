// Device tool figures against the simulated device (run through netns-run.sh, see
// CMakeLists.txt): request -> reply round trip, and the capture thread's CPU while a burst of
// foreign frames passes the adapter.

#include "BenchWorker.h"
#include "RDThread.h"
#include "TestDeviceSim.h"
#include "ZAVeze.h"
#include "ZAVezeFrame.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <future>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const QByteArray kDeviceMac = QByteArray::fromHex("02005e00000a");
const QByteArray kDeviceIp = QByteArray::fromHex("c000020a");

// CPU seconds of one thread of this process, by its task id.
double taskCpu(const QString& task)
{
    QFile stat("/proc/self/task/" + task + "/stat");
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) / double(sysconf(_SC_CLK_TCK));
}

// CPU seconds of the thread with this kernel name (the capture thread).
double threadCpu(const QByteArray& name)
{
    for (const QString& task : QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm("/proc/self/task/" + task + "/comm");
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == name)
            return taskCpu(task);
    }
    return -1;
}

// CPU seconds of the main (GUI) thread, which reads every frame that passes stage 1.
double mainThreadCpu()
{
    return taskCpu(QString::number(getpid()));
}

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[std::min(values.size() - 1, size_t(p * double(values.size())))];
}

void roundTrips(ZAVeze& tool, int count)
{
    std::vector<double> ms;
    int failures = 0;
    onWorker([&] {
        for (int i = 0; i < count; ++i) {
            const auto t0 = std::chrono::steady_clock::now();
            if (tool.request(kDeviceMac, kDeviceIp, "PlayVolume", QJsonObject()) != 0)
                ++failures;
            ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
        }
        return 0;
    });
    std::printf("round trip over %d requests: median %.2f ms, p99 %.2f ms, max %.2f ms, %d failed\n", count,
                percentile(ms, 0.5), percentile(ms, 0.99), percentile(ms, 1.0), failures);
}

void burst(ZAVeze& tool, const char* label, const char* kind, int count, int rate)
{
    // Let the GUI thread drain what the burst posts while the simulator sends it.
    const double cpu0 = threadCpu("QPcapRecv");
    const double gui0 = mainThreadCpu();
    const int dropped0 = tool.droppedFrames();
    QJsonObject answer = onWorker([&] {
        return TestDeviceSim::command({{"cmd", "burst"}, {"kind", kind}, {"count", count}, {"rate", rate}});
    });
    onWorker([] {
        RDThread::msleep(300);
        return 0;
    });
    const double seconds = answer.value("seconds").toDouble();
    const double cpu = threadCpu("QPcapRecv") - cpu0;
    const double gui = mainThreadCpu() - gui0;
    std::printf("%-38s %d frames in %.2f s: capture thread %.3f s CPU (%.1f %% of a core), GUI thread %.3f s "
                "(%.1f %%), %d replies kept, %d dropped as pending\n",
                label, answer.value("sent").toInt(), seconds, cpu, seconds > 0 ? 100 * cpu / seconds : 0, gui,
                seconds > 0 ? 100 * gui / seconds : 0, tool.replyCount(), tool.droppedFrames() - dropped0);
    tool.clearReplies();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariable("ZAVEZE_TEST_IF").isEmpty()) {
        std::fprintf(stderr, "run through tests/ZAVeze/netns-run.sh\n");
        return 2;
    }
    RDSystemNetwork adapter;
    for (const RDSystemNetwork& network : RDSystemNetwork::networks())
        if (network.name() == qEnvironmentVariable("ZAVEZE_TEST_IF"))
            adapter = network;
    const int frames = argc > 1 ? std::atoi(argv[1]) : 100000;

    for (int filtered = 1; filtered >= 0; --filtered) {
        ZAVeze tool;
        tool.capture().setFilter(filtered ? ZAVezeFrame::captureFilter() : "");
        tool.setNetwork(adapter);
        tool.start();
        tool.beginJob();
        while (!tool.isOpen())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::printf("-- kernel filter %s\n", filtered ? "on (stage 1 and the size cap)" : "off (every frame)");
        roundTrips(tool, 1000);
        burst(tool, "foreign tool frames (pass stage 1)", "foreign", frames, 20000);
        burst(tool, "other traffic (fails stage 1)", "junk", frames, 20000);
        tool.stop();
    }
    return 0;
}
