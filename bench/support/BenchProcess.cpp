#include "BenchProcess.h"

#include <cstdlib>
#include <fstream>
#include <string>

#include <sys/resource.h>

namespace {

// The number after a "Name:" line of /proc/<pid>/status; -1 when there is none.
long statusField(long pid, const std::string& name)
{
    std::ifstream status(pid > 0 ? "/proc/" + std::to_string(pid) + "/status" : std::string("/proc/self/status"));
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, name.size(), name) == 0)
            return std::strtol(line.c_str() + name.size(), nullptr, 10);
    }
    return -1;
}

} // namespace

double BenchProcess::cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long BenchProcess::rssKiB(long pid)
{
    return statusField(pid, "VmRSS:");
}

int BenchProcess::threadCount()
{
    return static_cast<int>(statusField(0, "Threads:"));
}
