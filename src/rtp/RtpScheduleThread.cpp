#include "RtpScheduleThread.h"

#include "RtpInfo.h"
#include "RtpScheduleRequest.h"
#include "RtpScheduleState.h"

#include <algorithm>
#include <utility>

RtpScheduleThread::RtpScheduleThread(RtpManagerControl* manager, RtpScheduleClock* clock)
    : m_manager(manager), m_clock(clock ? clock : RtpScheduleClock::system())
{
    setName("RtpSchedule");
}

RtpScheduleThread::~RtpScheduleThread()
{
    stop();
    wait();
}

bool RtpScheduleThread::startScheduling()
{
    return start();
}

void RtpScheduleThread::stopScheduling()
{
    stop();
    wait();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_requests.clear();
}

void RtpScheduleThread::addRtpInfos(const QVector<RtpInfo>& channels)
{
    queue(std::make_unique<RtpScheduleRequest>(RtpScheduleRequest::kAddOrReplace, channels));
}

void RtpScheduleThread::updateRtpInfo(const RtpInfo& channel)
{
    queue(std::make_unique<RtpScheduleRequest>(RtpScheduleRequest::kAddOrReplace, QVector<RtpInfo>{channel}));
}

void RtpScheduleThread::removeRtpInfo(const RtpInfo& channel)
{
    queue(std::make_unique<RtpScheduleRequest>(RtpScheduleRequest::kRemove, QVector<RtpInfo>{channel}));
}

void RtpScheduleThread::queue(std::unique_ptr<RtpScheduleRequest> request)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_requests.push_back(std::move(request));
}

void RtpScheduleThread::pass(const RtpScheduleClock::Reading& now)
{
    std::vector<std::unique_ptr<RtpScheduleRequest>> requests;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        requests.swap(m_requests);
    }
    for (const auto& request : requests)
        apply(*request, now);

    const RtpScheduleClock::Reading* previous = m_previous.isValid() ? &m_previous : nullptr;
    if (m_manager) {
        for (const auto& state : m_states)
            state->check(now, previous, *m_manager);
    }
    m_previous = now;
}

int RtpScheduleThread::stateCount() const
{
    return int(m_states.size());
}

void RtpScheduleThread::apply(const RtpScheduleRequest& request, const RtpScheduleClock::Reading& now)
{
    for (const RtpInfo& channel : request.channels) {
        std::unique_ptr<RtpScheduleState> previous = takeState(channel.id);
        if (request.type != RtpScheduleRequest::kAddOrReplace || channel.schedule.status == 0)
            continue;
        auto state = std::make_unique<RtpScheduleState>(channel.id, channel.schedule);
        if (previous)
            state->takeOver(*previous);
        state->settle(now);
        m_states.push_back(std::move(state));
    }
}

std::unique_ptr<RtpScheduleState> RtpScheduleThread::takeState(int channelId)
{
    auto it = std::find_if(m_states.begin(), m_states.end(),
                           [channelId](const auto& state) { return state->channelId == channelId; });
    if (it == m_states.end())
        return nullptr;
    std::unique_ptr<RtpScheduleState> state = std::move(*it);
    m_states.erase(it);
    return state;
}

void RtpScheduleThread::run()
{
    // Passes keep a steady beat on the monotonic clock; one that overran is followed at once
    // rather than by a burst of passes.
    qint64 next = m_clock->monotonicMs();
    while (!isStop()) {
        pass(m_clock->now());
        next += kPassMs;
        const qint64 now = m_clock->monotonicMs();
        if (next < now)
            next = now;
        sleepUntilStop(int(std::min<qint64>(next - now, kPassMs)));
    }
}
