#pragma once

#include <QVector>

class RtpInfo;

// What the channel manager needs of the scheduler it owns: a thread of its own, started and
// stopped by the manager, and a queue of channel changes that the scheduler applies on that
// thread. The queue calls come from any thread and must not block on the scheduler's work.
class RtpManagerScheduler
{
public:
    virtual ~RtpManagerScheduler() = default;

    // Starts the scheduler's thread; false when it could not be started.
    virtual bool startScheduling() = 0;
    // Stops the scheduler's thread and waits for it; queued changes are dropped.
    virtual void stopScheduling() = 0;

    // Every stored channel, at start-up.
    virtual void addRtpInfos(const QVector<RtpInfo>& infos) = 0;
    // A channel added, or one whose schedule is to be read again.
    virtual void updateRtpInfo(const RtpInfo& info) = 0;
    // A channel deleted.
    virtual void removeRtpInfo(const RtpInfo& info) = 0;
};
