#include "RDSocketHandle.h"

#include <cerrno>
#include <csignal>
#include <ctime>
#include <mutex>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

RDSocketHandle::~RDSocketHandle()
{
    close();
}

int RDSocketHandle::startup()
{
    static std::once_flag once;
    std::call_once(once, [] { std::signal(SIGPIPE, SIG_IGN); });
    return 0;
}

int RDSocketHandle::open(int type)
{
    startup();
    close();
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd >= 0) {
        m_failed.store(false, std::memory_order_release);
        m_fd.store(fd, std::memory_order_release);
    }
    return fd;
}

void RDSocketHandle::adopt(int fd)
{
    close();
    m_fd.store(fd, std::memory_order_release);
}

void RDSocketHandle::shutdown()
{
    m_failed.store(true, std::memory_order_release);
    const int fd = get();
    if (fd != -1)
        ::shutdown(fd, SHUT_RDWR);
}

void RDSocketHandle::close()
{
    const int fd = m_fd.exchange(-1, std::memory_order_acq_rel);
    if (fd != -1) {
        ::shutdown(fd, SHUT_RDWR);
        ::close(fd);
    }
    m_failed.store(false, std::memory_order_release);
}

int RDSocketHandle::setNonBlocking()
{
    int on = 1;
    return ::ioctl(get(), FIONBIO, &on);
}

int RDSocketHandle::setIntOption(int level, int name, int value)
{
    return ::setsockopt(get(), level, name, &value, sizeof(value)) == 0 ? 0 : -1;
}

int RDSocketHandle::setTimeOption(int name, int ms)
{
    timeval tv{};
    if (ms > 0) {
        tv.tv_sec = ms / 1000;
        tv.tv_usec = (ms % 1000) * 1000;
    }
    return ::setsockopt(get(), SOL_SOCKET, name, &tv, sizeof(tv)) == 0 ? 0 : -1;
}

int RDSocketHandle::wait(short events, long long timeoutUs) const
{
    const int fd = get();
    if (fd == -1)
        return -1;
    pollfd entry{};
    entry.fd = fd;
    entry.events = events;
    timespec limit{};
    if (timeoutUs >= 0) {
        limit.tv_sec = static_cast<time_t>(timeoutUs / 1000000);
        limit.tv_nsec = static_cast<long>(timeoutUs % 1000000) * 1000;
    }
    const int rc = ::ppoll(&entry, 1, timeoutUs >= 0 ? &limit : nullptr, nullptr);
    if (rc < 0)
        return errno == EINTR ? 0 : -1;
    if (rc == 0)
        return 0;
    if (entry.revents & POLLNVAL)
        return -1;
    return (entry.revents & (events | POLLHUP | POLLERR)) ? 1 : 0;
}

int RDSocketHandle::waitReadable(int seconds, int microseconds) const
{
    const long long us = static_cast<long long>(seconds < 0 ? 0 : seconds) * 1000000LL +
                         (microseconds < 0 ? 0 : microseconds);
    return wait(POLLIN, us);
}
