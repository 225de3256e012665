#pragma once

#include "RDThread.h"
#include "RtpManagerScheduler.h"
#include "RtpScheduleClock.h"

#include <QVector>

#include <memory>
#include <mutex>
#include <vector>

class RtpInfo;
class RtpManagerControl;
class RtpScheduleRequest;
class RtpScheduleState;

// Runs every channel's schedule: once a second it starts and stops, through the channel manager,
// what the schedules make due (RtpInfo::kTriggerSchedule). Other threads only queue channel changes; the
// scheduler thread applies them at the top of its next pass and alone touches the schedules'
// states. It never holds its queue's lock while it calls the manager.
class RtpScheduleThread : public RDThread, public RtpManagerScheduler
{
public:
    static constexpr int kPassMs = 1000;

    // manager and clock are not owned and outlive the thread; a null clock is the system clock.
    explicit RtpScheduleThread(RtpManagerControl* manager, RtpScheduleClock* clock = nullptr);
    // The thread is stopped and waited for first. Queued changes are dropped unapplied.
    ~RtpScheduleThread() override;

    bool startScheduling() override;
    void stopScheduling() override;

    // Every stored channel, at start-up.
    void addRtpInfos(const QVector<RtpInfo>& channels) override;
    // A channel added, or one whose schedule is to be read again: its schedule replaces the one
    // the scheduler holds (a disabled schedule just removes it).
    void updateRtpInfo(const RtpInfo& channel) override;
    // A channel deleted.
    void removeRtpInfo(const RtpInfo& channel) override;

    // One pass at now: the queued changes, then every schedule. The thread runs it once a second;
    // tests call it directly while the thread is not running.
    void pass(const RtpScheduleClock::Reading& now);
    // The number of channels with an enabled schedule; on the thread that runs the passes.
    int stateCount() const;

protected:
    void run() override;

private:
    void queue(std::unique_ptr<RtpScheduleRequest> request);
    void apply(const RtpScheduleRequest& request, const RtpScheduleClock::Reading& now);
    std::unique_ptr<RtpScheduleState> takeState(int channelId);

    RtpManagerControl* m_manager;
    RtpScheduleClock* m_clock;

    std::mutex m_mutex;
    std::vector<std::unique_ptr<RtpScheduleRequest>> m_requests;

    // The scheduler thread's alone.
    std::vector<std::unique_ptr<RtpScheduleState>> m_states;
    RtpScheduleClock::Reading m_previous;
};
