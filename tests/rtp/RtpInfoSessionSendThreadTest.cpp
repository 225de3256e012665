#include "RtpInfoSessionSendThread.h"
#include "RtpPortManager.h"
#include "RtpSessionFakeSources.h"
#include "RtpSessionReceiver.h"

#include <gtest/gtest.h>

#include <QDir>

#include <fstream>
#include <pthread.h>
#include <sched.h>
#include <string>
#include <sys/types.h>
#include <thread>

namespace {

class RtpInfoSessionSendThreadTest : public ::testing::Test
{
protected:
    void SetUp() override { RtpPortManager::createInstance(); }
    void TearDown() override { RtpPortManager::destroyInstance(); }

    // Whether this process may run a thread under SCHED_FIFO (root, CAP_SYS_NICE or RLIMIT_RTPRIO).
    static bool realtimeGranted()
    {
        bool granted = false;
        std::thread probe([&granted] {
            sched_param param{};
            param.sched_priority = RtpInfoSessionSendThread::kRealtimePriority;
            granted = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
        });
        probe.join();
        return granted;
    }

    // The id of this process's thread named name (as the kernel keeps it, 15 characters), 0 when none.
    static pid_t threadNamed(const std::string& name)
    {
        const QStringList tasks = QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        for (const QString& task : tasks) {
            std::ifstream comm("/proc/self/task/" + task.toStdString() + "/comm");
            std::string line;
            if (std::getline(comm, line) && line == name.substr(0, 15))
                return pid_t(task.toInt());
        }
        return 0;
    }
};

} // namespace

// Asked to, the send thread goes ahead of ordinary threads while its source delivers, gives that
// up while it waits for packets (its millisecond naps must not keep the source's own thread from
// a core), and takes it again when packets come back.
TEST_F(RtpInfoSessionSendThreadTest, RealTimeOnlyWhileTheSourceDelivers)
{
    if (!realtimeGranted())
        GTEST_SKIP() << "this process may not run threads under SCHED_FIFO";
    RtpInfoSessionSendThread::setRealtime(true);
    struct Restore
    {
        ~Restore() { RtpInfoSessionSendThread::setRealtime(false); }
    } restore;
    RtpSessionReceiver receiver;
    ASSERT_TRUE(receiver.start());
    RtpSessionFakeSources sources;
    sources.configure = [](int, RtpSessionFakeReader* reader) {
        reader->gapAfter = 100;
        reader->gapSeconds = 2.0;
        reader->limit = 200;
    };
    RtpSessionDouble session(sources.factory());
    session.setRtpInfo(RtpSessionFakeSources::channel(receiver.port()));
    ASSERT_EQ(session.startSource(RtpInfo::kSourcePlaylist, RtpInfo::kTriggerManual), 0);
    pid_t thread = 0;
    ASSERT_TRUE(RtpSessionFakeSources::waitUntil([&] { return (thread = threadNamed("RtpInfoSessionSend")) != 0; },
                                                 5000));
    const auto policyIs = [thread](int policy) {
        return [thread, policy] { return sched_getscheduler(thread) == policy; };
    };
    EXPECT_TRUE(RtpSessionFakeSources::waitUntil(policyIs(SCHED_FIFO), 5000)) << "while packets come";
    EXPECT_TRUE(RtpSessionFakeSources::waitUntil(policyIs(SCHED_OTHER), 5000)) << "while the source has none";
    EXPECT_TRUE(receiver.waitFor(101, 15000));
    EXPECT_TRUE(RtpSessionFakeSources::waitUntil(policyIs(SCHED_FIFO), 5000)) << "once packets come again";
    EXPECT_TRUE(receiver.waitFor(200, 15000));
    session.stopAll(RtpInfo::kTriggerApiStop);
}
