#pragma once

// What the benchmarks read of a process from the kernel: the CPU it used, its resident memory
// and its threads.
class BenchProcess
{
public:
    // User and system CPU time of this process so far, in seconds.
    static double cpuSeconds();
    // Resident memory of a process (0: this one) in KiB; -1 when it cannot be read.
    static long rssKiB(long pid = 0);
    // Threads of this process; -1 when they cannot be counted.
    static int threadCount();
};
