#include "RTPReaderFixtures.h"
#include "RtpManagerFixture.h"
#include "RtpScheduleThread.h"

#include <QDateTime>
#include <QDir>

#include <gtest/gtest.h>

#include <chrono>

namespace {

// The system clock with its wall clock moved to noon today as the test starts, so that an item
// due two seconds ahead never falls on the next day whatever the hour of the run.
class RtpScheduleNoonClock : public RtpScheduleClock
{
public:
    Reading now() const override { return at(QDateTime::currentMSecsSinceEpoch() + m_offsetMs); }

private:
    const qint64 m_offsetMs = QDateTime(QDate::currentDate(), QTime(12, 0)).toMSecsSinceEpoch()
                              - QDateTime::currentMSecsSinceEpoch();
};

// The test manager with the application's own scheduler on the noon clock. The clock outlives
// every scheduler thread, whichever way a test ends.
class RtpScheduleRealManager : public RtpManagerTestManager
{
public:
    static RtpScheduleNoonClock& clock()
    {
        static RtpScheduleNoonClock noon;
        return noon;
    }

protected:
    RtpManagerScheduler* createScheduler() override { return new RtpScheduleThread(this, &clock()); }
};

class RtpScheduleManagerTest : public RtpManagerFixture
{
};

} // namespace

// The manager's scheduler, on the system clock moved to noon: a bell item due two seconds ahead,
// handed over by a schedule reload, plays on its loopback channel at its time with trigger 3,
// and the manager's shutdown stops the scheduler without waiting out its pass.
TEST_F(RtpScheduleManagerTest, ItemDueSoonStartsTheChannelWithTriggerSchedule)
{
    auto* made = new RtpScheduleRealManager;
    sip = made->sip;
    manager = made;
    ASSERT_EQ(RtpManager::createInstance(made), made);
    made->addObserver(&recorder);

    RtpInfo info = storeChannel(QStringLiteral("scheduled bell"), RtpInfo::kSourceBell);
    info.bellPath = RTPReaderFixtures::tone(QDir(folder()), QStringLiteral("bell"), 440, 1.0, RTPReaderFixtures::MulawWav);
    ASSERT_FALSE(info.bellPath.isEmpty());
    info.bellLoopType = RtpInfo::kBellOnce;
    const QTime due = QTime::fromMSecsSinceStartOfDay(RtpScheduleRealManager::clock().now().timeMs).addSecs(2);
    RtpScheduleItem item;
    item.type = RtpScheduleItem::TypeStart;
    item.source = RtpInfo::kSourceBell;
    item.startTime = due.toString(QStringLiteral("HH:mm:ss"));
    info.schedule.status = 1;
    info.schedule.repeat = RtpSchedule::RepeatDaily;
    info.schedule.items = {item};
    ASSERT_GE(manager->updateRtpInfo(info), 0);
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(manager->reloadSchedule(info), 0);

    ASSERT_TRUE(waitUntil([&] { return receiver.count() > 0; }, 10000)) << "the scheduled bell did not play";
    const auto latency = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - begin);
    EXPECT_GE(RtpScheduleRealManager::clock().now().timeMs, QTime::fromString(item.startTime, QStringLiteral("HH:mm:ss")).msecsSinceStartOfDay())
        << "started before its time";
    std::printf("scheduled start reached the receiver %lld ms after the reload (item due in 1-2 s)\n",
                static_cast<long long>(latency.count()));

    // The bell plays once and ends the channel by itself.
    ASSERT_TRUE(waitUntil([&] { return logRows(info.id).size() >= 2; }, 10000));
    EXPECT_EQ(logRows(info.id), (QStringList{"0,32,3", "1,247,5"}));

    const auto stopBegin = std::chrono::steady_clock::now();
    RtpManager::destroyInstance();
    manager = nullptr;
    const auto stopMs = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - stopBegin).count();
    EXPECT_LT(stopMs, RtpScheduleThread::kPassMs / 2) << "shutting the manager down waited out the scheduler's pass";
}
