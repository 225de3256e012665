#pragma once

#include "RDThread.h"

#include <netinet/in.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// Looks up host names (IPv4) away from the stack thread, which must never block on DNS. Results
// are collected by the stack thread with takeResults(); the wake function tells it to look.
class SipResolverThread : public RDThread
{
public:
    struct Result
    {
        std::string host;
        bool ok = false;
        in_addr address{};
    };

    explicit SipResolverThread(std::function<void()> wake);

    // Queues a name unless it is already queued.
    void request(const std::string& host);
    std::vector<Result> takeResults();
    void stop() override;

protected:
    void run() override;

private:
    std::function<void()> m_wake;
    std::mutex m_mutex;
    std::condition_variable m_condition;
    std::deque<std::string> m_queue;
    std::vector<Result> m_results;
};
