// Prints what answered SIP calls cost: threads and CPU with no call and with N calls up (each
// sending 20 ms of silence every 20 ms), and the resident memory before and after 200 calls.
// Needs sipp; the calls come from SIPp's built-in "uac" scenario on 127.0.0.2.
#include "BenchProcess.h"
#include "RDThread.h"
#include "RtpPortManager.h"
#include "SipCall.h"
#include "SipChannel.h"
#include "SipDevice.h"
#include "SipManager.h"
#include "SipSilence.h"

#include <dirent.h>
#include <sys/resource.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

namespace {

class SilentDevice : public SipDevice
{
public:
    SipPacket* readAudio() override
    {
        const auto send = audioSendPayload();
        return send ? SipSilence::packet(*send) : nullptr;
    }
};

class BenchCall : public SipCall
{
public:
    std::shared_ptr<SipDevice> createDevice() override { return std::make_shared<SilentDevice>(); }
};

class BenchChannel : public SipChannel
{
public:
    std::shared_ptr<SipCall> createCall() override { return std::make_shared<BenchCall>(); }
};

class BenchManager : public SipManager
{
public:
    ~BenchManager() override { uninit(); }
    std::shared_ptr<SipChannel> createChannel(const SipAccountInfo&) override { return std::make_shared<BenchChannel>(); }
    void onCallIncoming(const Channel&, const Call& call) override
    {
        call->ring();
        call->answer();
    }
    void onCallStarted(const Channel&, const Call&) override { ++started; }
    void onCallRemoved(const Channel&, const Call&) override { ++removed; }

    std::atomic<int> started{0};
    std::atomic<int> removed{0};
};

long residentKb()
{
    FILE* file = std::fopen("/proc/self/status", "r");
    long kb = 0;
    char line[256];
    while (file && std::fgets(line, sizeof(line), file)) {
        if (std::strncmp(line, "VmRSS:", 6) == 0)
            kb = std::atol(line + 6);
    }
    if (file)
        std::fclose(file);
    return kb;
}

// CPU use of this process over a window, in percent of one core.
double cpuPercent(double seconds)
{
    const double cpu = BenchProcess::cpuSeconds();
    const double start = RDThread::tickTime();
    RDThread::msleep(static_cast<unsigned long>(seconds * 1000));
    return 100.0 * (BenchProcess::cpuSeconds() - cpu) / (RDThread::tickTime() - start);
}

// SIPp's built-in "uac" with the called user taken from a list, so that each concurrent call
// reaches a channel of its own (an account id at the agent's own address).
std::string prepareScenario(int firstId, int count)
{
    char folder[] = "/tmp/sipbench-XXXXXX";
    if (!mkdtemp(folder))
        return std::string();
    const std::string dir = folder;
    if (std::system(("sipp -sd uac | sed 's/\\[service\\]/[field0]/g' > " + dir + "/uac.xml").c_str()) != 0)
        return std::string();
    FILE* users = std::fopen((dir + "/users.csv").c_str(), "w");
    if (!users)
        return std::string();
    std::fprintf(users, "SEQUENTIAL\n");
    for (int id = firstId; id < firstId + count; ++id)
        std::fprintf(users, "%d\n", id);
    std::fclose(users);
    return dir;
}

std::thread sipp(const std::string& dir, int port, int calls, int limit, int rate, int durationMs)
{
    const std::string command = "sipp -sf " + dir + "/uac.xml -inf " + dir + "/users.csv 127.0.0.1:" +
                                std::to_string(port) + " -i 127.0.0.2 -p 0 -m " + std::to_string(calls) + " -l " +
                                std::to_string(limit) + " -r " + std::to_string(rate) + " -d " +
                                std::to_string(durationMs) + " -timeout 120s -nostdin > /dev/null 2>&1";
    return std::thread([command] {
        if (std::system(command.c_str()) != 0)
            std::fprintf(stderr, "sipp reported failed calls\n");
    });
}

} // namespace

int main(int argc, char** argv)
{
    if (std::system("command -v sipp > /dev/null 2>&1") != 0) {
        std::fprintf(stderr, "sipp is not installed\n");
        return 1;
    }
    const int calls = argc > 1 ? std::atoi(argv[1]) : 20;
    RtpPortManager::createInstance();
    auto manager = std::make_unique<BenchManager>();
    manager->setLocalIp("127.0.0.1");
    int port = 0;
    for (int candidate = 15060; candidate < 15160 && !port; ++candidate) {
        if (RtpPortManager::isUdpPortFree(candidate) && manager->init(candidate, 0) == 0)
            port = candidate;
    }
    if (!port) {
        std::fprintf(stderr, "no SIP port\n");
        return 1;
    }
    SipAccountInfo account;
    account.id = 12;
    account.mode = SipAccountInfo::kModeRegistrationOff;
    // One channel plays one call; a channel per call.
    for (int id = 12; id < 12 + calls; ++id) {
        account.id = id;
        manager->addChannel(account);
    }
    const std::string dir = prepareScenario(12, calls);
    if (dir.empty()) {
        std::fprintf(stderr, "cannot prepare the SIPp scenario\n");
        return 1;
    }
    RDThread::msleep(500);
    const long idleKb = residentKb();
    std::printf("idle: %d threads, %.2f %% CPU, %ld kB resident\n", BenchProcess::threadCount(), cpuPercent(2.0), idleKb);

    std::thread runner = sipp(dir, port, calls, calls, calls, 8000);
    for (int i = 0; i < 200 && manager->started < calls; ++i)
        RDThread::msleep(50);
    RDThread::msleep(500);
    std::printf("%d calls up: %d threads, %.2f %% CPU\n", manager->started.load(), BenchProcess::threadCount(), cpuPercent(3.0));
    runner.join();
    for (int i = 0; i < 200 && manager->removed < manager->started; ++i)
        RDThread::msleep(50);
    const long afterFirst = residentKb();

    // Rounds of 200 short calls, 'calls' at a time: the memory settles after the first.
    for (int round = 1; round <= 3; ++round) {
        manager->started = 0;
        manager->removed = 0;
        const double start = RDThread::tickTime();
        runner = sipp(dir, port, 200, calls, 50, 500);
        runner.join();
        for (int i = 0; i < 200 && manager->removed < 200; ++i)
            RDThread::msleep(50);
        std::printf("round %d, 200 calls in %.1f s: %d answered, %d ended; resident %ld kB (%ld kB after the first "
                    "calls)\n",
                    round, RDThread::tickTime() - start, manager->started.load(), manager->removed.load(),
                    residentKb(), afterFirst);
    }
    std::printf("after the calls: %d threads\n", BenchProcess::threadCount());
    // Finished transactions stay in the stack for their 32 s of absorbing retransmissions.
    RDThread::msleep(40000);
    manager->started = 0;
    manager->removed = 0;
    runner = sipp(dir, port, 200, calls, 50, 500);
    runner.join();
    for (int i = 0; i < 200 && manager->removed < 200; ++i)
        RDThread::msleep(50);
    std::printf("40 s later, another 200 calls: %d answered; resident %ld kB\n", manager->started.load(),
                residentKb());
    if (std::system(("rm -rf " + dir).c_str()) != 0)
        std::fprintf(stderr, "%s left behind\n", dir.c_str());
    manager.reset();
    RtpPortManager::destroyInstance();
    return 0;
}
