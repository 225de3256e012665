#include "SipChannelEventThread.h"

#include "RDLog.h"
#include "SipChannel.h"

SipChannelEventThread::SipChannelEventThread()
{
    setName("SipChannelEventThread");
}

SipChannelEventThread::~SipChannelEventThread()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    m_queue.clear();
}

void SipChannelEventThread::post(const SipChannelCommand& command)
{
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_queue.push_back(command);
    }
    m_condition.notify_one();
}

void SipChannelEventThread::stop()
{
    {
        // Raised under the queue mutex so that run() cannot miss the wake-up between its test
        // of the flag and its wait.
        std::lock_guard<std::mutex> guard(m_mutex);
        RDThread::stop();
    }
    m_condition.notify_all();
}

size_t SipChannelEventThread::pending()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_queue.size();
}

void SipChannelEventThread::run()
{
    while (!isStop()) {
        SipChannelCommand command;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_condition.wait(lock, [this] { return isStop() || !m_queue.empty(); });
            if (isStop())
                break;
            command = std::move(m_queue.front());
            m_queue.pop_front();
        }
        if (!command.channel)
            continue;
        switch (command.type) {
        case SipChannelCommand::MakeCall:
            command.channel->makeCall(command.call);
            break;
        case SipChannelCommand::TerminateCall:
            command.channel->terminateCall(command.call);
            break;
        default:
            RDLOG("drop channel command of type %d", command.type);
            break;
        }
    }
}
