#include "RDFunctionThread.h"
#include "RDThread.h"
#include "RDThreadLocker.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QFile>

#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <limits>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

class LambdaThread : public RDThread
{
public:
    explicit LambdaThread(std::function<void(LambdaThread*)> body) : m_body(std::move(body)) {}
    ~LambdaThread() override
    {
        stop();
        wait();
    }
    std::atomic<int> runs{0};
    std::atomic<pid_t> tid{0};

protected:
    void run() override
    {
        tid = static_cast<pid_t>(syscall(SYS_gettid));
        ++runs;
        m_body(this);
    }

private:
    std::function<void(LambdaThread*)> m_body;
};

} // namespace

TEST(RDThread, StopEndsALongSleepWithinFiveMilliseconds)
{
    std::atomic<bool> sleeping{false};
    LambdaThread thread([&](LambdaThread* self) {
        sleeping = true;
        self->sleepUntilStop(10000);
    });
    ASSERT_TRUE(thread.start());
    while (!sleeping)
        RDThread::msleep(1);
    RDThread::msleep(20); // let it settle into the wait
    const auto t0 = Clock::now();
    thread.stop();
    EXPECT_TRUE(thread.wait());
    EXPECT_LT(TestSupport::msSince(t0), 5.0 * 5); // the target is 5 ms; bounds allow a loaded, sanitized run
    EXPECT_FALSE(thread.isRunning());
}

TEST(RDThread, SleepReturnsAtOnceForNonPositiveCountsAndARaisedFlag)
{
    struct Case
    {
        int ms;
        bool stopFirst;
    };
    for (const Case& c : {Case{0, false}, Case{-5, false}, Case{10000, true}}) {
        std::atomic<double> elapsed{-1};
        std::atomic<bool> go{false};
        LambdaThread thread([&](LambdaThread* self) {
            while (!go)
                RDThread::msleep(1);
            const auto t0 = Clock::now();
            self->sleepUntilStop(c.ms);
            elapsed = TestSupport::msSince(t0);
        });
        ASSERT_TRUE(thread.start());
        if (c.stopFirst)
            thread.stop();
        go = true;
        thread.wait();
        EXPECT_GE(elapsed.load(), 0.0) << c.ms;
        EXPECT_LT(elapsed.load(), 50.0) << c.ms;
    }
}

TEST(RDThread, SleepFollowsTheRequestedDuration)
{
    std::atomic<double> elapsed{0};
    LambdaThread thread([&](LambdaThread* self) {
        const auto t0 = Clock::now();
        self->sleepUntilStop(50);
        elapsed = TestSupport::msSince(t0);
    });
    ASSERT_TRUE(thread.start());
    thread.wait();
    EXPECT_GE(elapsed.load(), 49.0);
    EXPECT_LT(elapsed.load(), 250.0);
}

TEST(RDThread, DeadlineSleepEndsAtTheDeadlineOrAtOnceOnStop)
{
    // Reached: true, and not before the deadline on the monotonic clock.
    std::atomic<double> late{-1};
    std::atomic<bool> reached{false};
    RDFunctionThread timed("DeadlineTest", [&](RDThread* self) {
        const double due = RDThread::monotonicTime() + 0.03;
        reached = self->sleepUntilDeadline(due);
        late = RDThread::monotonicTime() - due;
    });
    ASSERT_TRUE(timed.start());
    timed.wait();
    EXPECT_TRUE(reached.load());
    EXPECT_GE(late.load(), 0.0);
    EXPECT_LT(late.load(), 0.2);

    // Stopped: false at once, a deadline that never comes notwithstanding; a deadline already
    // past, or one that is no number, returns true without waiting.
    std::atomic<bool> sleeping{false};
    std::atomic<int> stopCalls{0};
    std::atomic<bool> result{true};
    std::atomic<bool> pastResult{false};
    std::atomic<bool> nanResult{false};
    RDFunctionThread stopped(
        "DeadlineTest",
        [&](RDThread* self) {
            pastResult = self->sleepUntilDeadline(RDThread::monotonicTime() - 1.0);
            nanResult = self->sleepUntilDeadline(std::nan(""));
            sleeping = true;
            result = self->sleepUntilDeadline(std::numeric_limits<double>::infinity());
        },
        [&] { ++stopCalls; });
    ASSERT_TRUE(stopped.start());
    while (!sleeping)
        RDThread::msleep(1);
    const auto t0 = Clock::now();
    stopped.stop();
    stopped.wait();
    EXPECT_LT(TestSupport::msSince(t0), 5.0 * 5);
    EXPECT_TRUE(pastResult.load());
    EXPECT_TRUE(nanResult.load());
    EXPECT_FALSE(result.load());
    EXPECT_EQ(stopCalls.load(), 1);
}

TEST(RDThread, StopThenStartRunsTheBodyAgainWithTheFlagCleared)
{
    std::atomic<bool> sawStopAtEntry{true};
    LambdaThread thread([&](LambdaThread* self) {
        sawStopAtEntry = self->isStop();
        while (!self->isStop())
            self->sleepUntilStop(100);
    });
    ASSERT_TRUE(thread.start());
    thread.stop();
    thread.wait();
    EXPECT_EQ(thread.runs.load(), 1);

    ASSERT_TRUE(thread.start());
    EXPECT_FALSE(thread.isStop());
    RDThread::msleep(20);
    EXPECT_TRUE(thread.isRunning());
    // A start while running leaves the running body alone.
    ASSERT_TRUE(thread.start());
    thread.stop();
    thread.wait();
    EXPECT_EQ(thread.runs.load(), 2);
    EXPECT_FALSE(sawStopAtEntry.load());
}

TEST(RDThread, KernelNameIsCutToFifteenBytesAndANullNameClearsIt)
{
    auto commOf = [](pid_t tid) {
        QFile f(QStringLiteral("/proc/self/task/%1/comm").arg(tid));
        if (!f.open(QIODevice::ReadOnly))
            return QByteArray();
        return f.readAll().trimmed();
    };
    std::atomic<bool> named{false};
    QByteArray seen;
    LambdaThread thread([&](LambdaThread* self) {
        named = true;
        while (!self->isStop())
            self->sleepUntilStop(100);
    });
    thread.setName("RtpInfoSessionSend");
    ASSERT_TRUE(thread.start());
    while (!named)
        RDThread::msleep(1);
    EXPECT_EQ(commOf(thread.tid), QByteArray("RtpInfoSessionS"));
    thread.stop();
    thread.wait();

    named = false;
    thread.setName(nullptr);
    ASSERT_TRUE(thread.start());
    while (!named)
        RDThread::msleep(1);
    EXPECT_NE(commOf(thread.tid), QByteArray("RtpInfoSessionS"));
    thread.stop();
    thread.wait();
}

TEST(RDThread, TickTimeIsMonotonicInWholeMilliseconds)
{
    double previous = RDThread::tickTime();
    for (int i = 0; i < 1000000; ++i) {
        const double now = RDThread::tickTime();
        ASSERT_GE(now, previous);
        if (i % 1000 == 0) {
            const double ms = now * 1000.0;
            ASSERT_NEAR(ms, std::round(ms), 1e-6);
        }
        previous = now;
    }
    const double wall = RDThread::currentTime();
    EXPECT_GT(wall, 1.7e9);
}

TEST(RDThreadLocker, GuardSerialisesIncrements)
{
    RDThreadLocker locker;
    int counter = 0;
    auto body = [&](LambdaThread*) {
        for (int i = 0; i < 20000; ++i) {
            RDThreadLocker::Guard guard(locker);
            ++counter;
        }
    };
    LambdaThread a(body), b(body);
    ASSERT_TRUE(a.start());
    ASSERT_TRUE(b.start());
    a.wait();
    b.wait();
    EXPECT_EQ(counter, 40000);
    EXPECT_EQ(locker.lock(), 0);
    EXPECT_EQ(locker.unlock(), 0);
}
