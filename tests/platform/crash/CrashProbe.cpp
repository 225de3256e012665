// A program that crashes on purpose, in the way its argument names, with the crash writer
// installed for the folder its other argument names.
#include "CrashWriter.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

// Exported (the program links with -rdynamic) and never inlined, so that the report's
// backtrace names them.
extern "C++" {
__attribute__((noinline)) void crashProbeNullWrite()
{
    // The pointer itself is volatile: a null the compiler can see is undefined behaviour it may
    // drop.
    volatile int* volatile target = nullptr;
    *target = 1;
}

__attribute__((noinline)) void crashProbeThrow()
{
    throw std::runtime_error("probe exception");
}

// Called through a pointer the compiler cannot see through, with work after it: a call it
// knows never returns (or a tail call) would leave no return address inside the function.
void (*volatile crashProbeAbortCall)() = std::abort;
volatile int crashProbeAfterAbort = 0;

__attribute__((noinline)) void crashProbeAbort()
{
    crashProbeAbortCall();
    crashProbeAfterAbort = 1;
}

// Deeper than any stack: the recursion never reaches it.
volatile int crashProbeDepthLimit = 1 << 30;

__attribute__((noinline)) int crashProbeRecurse(int depth)
{
    volatile char frame[512];
    frame[0] = static_cast<char>(depth);
    if (depth > crashProbeDepthLimit)
        return 0;
    return crashProbeRecurse(depth + 1) + frame[0];
}
}

int main(int argc, char** argv)
{
    if (argc < 3)
        return 2;
    if (!CrashWriter::install(argv[1], "CrashProbe", "1.0")) {
        std::fprintf(stderr, "not installed\n");
        return 3;
    }
    const char* mode = argv[2];
    if (!std::strcmp(mode, "null")) {
        crashProbeNullWrite();
    } else if (!std::strcmp(mode, "throw")) {
        crashProbeThrow();
    } else if (!std::strcmp(mode, "abort")) {
        crashProbeAbort();
    } else if (!std::strcmp(mode, "overflow")) {
        // A worker as the program starts every one (RDThread): its own signal stack first.
        std::thread worker([] {
            CrashWriter::prepareThread();
            std::printf("%d\n", crashProbeRecurse(0));
            CrashWriter::releaseThread();
        });
        worker.join();
    } else if (!std::strcmp(mode, "twothreads")) {
        std::atomic<int> ready{0};
        auto fault = [&ready] {
            ++ready;
            while (ready.load() < 2) {
            }
            crashProbeNullWrite();
        };
        std::thread a(fault);
        std::thread b(fault);
        a.join();
        b.join();
    }
    return 0;
}
