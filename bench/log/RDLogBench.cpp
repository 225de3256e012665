// The cost of a log line to its caller (the send and capture threads log on the audio path),
// with the per-line flush to a file in a temporary folder and the echo going to a handler that
// drops it: per call, p50 and p99 and lines a second, from 1 and from 8 threads, for
//   - lines that are written (the per-site limit lifted),
//   - lines of a call site over its limit (dropped and counted),
//   - stream-style lines that are written.
//
//   bench_log [--lines N]

#include "RDLog.h"

#include <QTemporaryDir>
#include <QtGlobal>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

enum class Kind
{
    Written,
    Dropped,
    Stream
};

// One thread's calls: the latency of each, in ns.
std::vector<double> calls(Kind kind, int lines, int thread)
{
    std::vector<double> ns;
    ns.reserve(size_t(lines));
    const std::string text = "a packet of 160 bytes from 192.168.1.20:5004 arrived late";
    for (int i = 0; i < lines; ++i) {
        const auto t0 = Clock::now();
        if (kind == Kind::Stream)
            RDLog::instance()->beginLine("src/rtp/RtpInfoSession.cpp", "S::f", 100 + thread) << text << " " << std::to_string(i) << "\n";
        else
            RDLog::instance()->log("src/rtp/RtpInfoSession.cpp", "S::f", 100 + thread, 5, "%s %d", text.c_str(), i);
        ns.push_back(std::chrono::duration<double, std::nano>(Clock::now() - t0).count());
    }
    return ns;
}

void run(Kind kind, int threads, int lines)
{
    QTemporaryDir dir;
    RDLog::instance()->setSiteLimit(kind == Kind::Dropped ? RDLog::kSiteLines : 0, RDLog::kSiteWindowMs);
    RDLog::instance()->init(dir.path().toStdString(), 0);
    std::vector<std::vector<double>> each(static_cast<size_t>(threads));
    const auto t0 = Clock::now();
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&, t] { each[size_t(t)] = calls(kind, lines, t); });
    for (std::thread& w : workers)
        w.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    RDLog::instance()->close();
    std::vector<double> all;
    for (const auto& v : each)
        all.insert(all.end(), v.begin(), v.end());
    std::sort(all.begin(), all.end());
    const char* names[] = {"written (printf)", "over its limit", "written (stream)"};
    std::printf("%-17s %d thread%s: p50 %6.2f us, p99 %7.2f us, %8.0f lines/s\n", names[int(kind)], threads,
                threads > 1 ? "s" : " ", all[all.size() / 2] / 1000, all[all.size() * 99 / 100] / 1000,
                double(all.size()) / seconds);
}

} // namespace

int main(int argc, char** argv)
{
    int lines = 100000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--lines"))
            lines = std::atoi(argv[i + 1]);
    }
    qInstallMessageHandler(quiet);
    for (Kind kind : {Kind::Written, Kind::Stream, Kind::Dropped}) {
        for (int threads : {1, 8})
            run(kind, threads, lines / threads);
    }
    RDLog::instance()->setSiteLimit(RDLog::kSiteLines, RDLog::kSiteWindowMs);
    return 0;
}
