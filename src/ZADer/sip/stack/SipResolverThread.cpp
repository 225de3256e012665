#include "SipResolverThread.h"

#include "RDLog.h"

#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>

SipResolverThread::SipResolverThread(std::function<void()> wake) : m_wake(std::move(wake))
{
    setName("SipResolverThread");
}

void SipResolverThread::request(const std::string& host)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    if (std::find(m_queue.begin(), m_queue.end(), host) == m_queue.end())
        m_queue.push_back(host);
    m_condition.notify_one();
}

std::vector<SipResolverThread::Result> SipResolverThread::takeResults()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    std::vector<Result> results;
    results.swap(m_results);
    return results;
}

void SipResolverThread::stop()
{
    RDThread::stop();
    std::lock_guard<std::mutex> guard(m_mutex);
    m_condition.notify_all();
}

void SipResolverThread::run()
{
    while (!isStop()) {
        std::string host;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_condition.wait(lock, [this] { return isStop() || !m_queue.empty(); });
            if (isStop())
                break;
            host = m_queue.front();
        }
        Result result;
        result.host = host;
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_DGRAM;
        addrinfo* list = nullptr;
        const int error = getaddrinfo(host.c_str(), nullptr, &hints, &list);
        if (error == 0 && list) {
            result.ok = true;
            result.address = reinterpret_cast<const sockaddr_in*>(list->ai_addr)->sin_addr;
        } else {
            RDLOG("cannot resolve %s: %s", host.c_str(), gai_strerror(error));
        }
        if (list)
            freeaddrinfo(list);
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            m_queue.erase(std::remove(m_queue.begin(), m_queue.end(), host), m_queue.end());
            m_results.push_back(result);
        }
        m_wake();
    }
}
