#pragma once

#include "RDThread.h"
#include "RTPAudioReader.h"

#include <QByteArray>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

// A TCP server on 127.0.0.1 that accepts connections and never answers (or sends one answer
// and then nothing more): an HTTP open, or a read once the answer is used up, hangs against it
// until its time-out or an interrupt.
class RTPStalledServer
{
public:
    explicit RTPStalledServer(QByteArray answer = QByteArray()) : m_answer(std::move(answer))
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), length) != 0
            || ::listen(m_listener, 8) != 0
            || ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { acceptLoop(); });
    }
    ~RTPStalledServer()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        for (int fd : m_clients)
            ::close(fd);
        if (m_listener >= 0)
            ::close(m_listener);
    }
    RTPStalledServer(const RTPStalledServer&) = delete;
    RTPStalledServer& operator=(const RTPStalledServer&) = delete;

    int port() const { return m_port; }
    int accepted() const { return m_accepted.load(); }
    // True once a client has connected (within seconds).
    bool waitForClient(double seconds) const
    {
        for (int ms = 0; ms < seconds * 1000 && accepted() == 0; ++ms)
            ::usleep(1000);
        return accepted() > 0;
    }

    // Starts reader (set up to open a URL of this server), lets its open hang here for a while,
    // stops it and returns how long the stop took, in seconds; -1 when the open never came or
    // the reader gave up by itself.
    double timeStopDuringOpen(RTPAudioReader* reader)
    {
        if (!reader->start() || !waitForClient(5))
            return -1;
        RDThread::msleep(150);
        if (reader->isFinished())
            return -1;
        const double began = RDThread::tickTime();
        reader->stop();
        const double took = RDThread::tickTime() - began;
        std::printf("stop during a hanging open took %.1f ms\n", took * 1000);
        return took;
    }

private:
    void acceptLoop()
    {
        while (!m_stop) {
            pollfd p{m_listener, POLLIN, 0};
            if (::poll(&p, 1, 10) <= 0)
                continue;
            const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                for (int sent = 0, n = 0; sent < m_answer.size(); sent += n) {
                    n = int(::send(fd, m_answer.constData() + sent, size_t(m_answer.size() - sent),
                                   MSG_NOSIGNAL));
                    if (n <= 0)
                        break;
                }
                m_clients.push_back(fd);
                ++m_accepted;
            }
        }
    }

    const QByteArray m_answer;
    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_accepted{0};
    std::vector<int> m_clients;   // the accept thread's until it is joined
    std::thread m_thread;
};
