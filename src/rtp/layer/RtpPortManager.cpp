#include "RtpPortManager.h"

#include "RDLog.h"
#include "RtpLayerSession.h"

#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

std::atomic<RtpPortManager*> RtpPortManager::s_instance{nullptr};

namespace {

// No SO_REUSEADDR: with it a bind next to a live socket can succeed and the probe would lie.
bool probe(int type, int port)
{
    if (port < 1 || port > 65535)
        return false;
    const int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in address;
    std::memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    close(fd);
    return ok;
}

} // namespace

RtpPortManager::RtpPortManager(int first, int end)
    : m_mutex(new std::mutex), m_first(first), m_end(end), m_cursor(first)
{
}

RtpPortManager::~RtpPortManager()
{
    delete m_mutex;
}

void RtpPortManager::createInstance()
{
    RtpPortManager* fresh = new RtpPortManager(kFirstPort, kEndPort);
    delete s_instance.exchange(fresh);
}

RtpPortManager* RtpPortManager::instance()
{
    return s_instance.load();
}

void RtpPortManager::destroyInstance()
{
    delete s_instance.exchange(nullptr);
}

bool RtpPortManager::isUdpPortFree(int port)
{
    return probe(SOCK_DGRAM, port);
}

bool RtpPortManager::isTcpPortFree(int port)
{
    return probe(SOCK_STREAM, port);
}

int RtpPortManager::getFreePort()
{
    std::lock_guard<std::mutex> lock(*m_mutex);
    if (m_first >= m_end)
        return 0;
    int wraps = 0;
    for (;;) {
        const int port = m_cursor;
        const bool free = probe(SOCK_DGRAM, port) && probe(SOCK_DGRAM, port + 1);
        m_cursor += 2;
        if (m_cursor >= m_end) {
            m_cursor = m_first;
            if (!free && ++wraps == 2)
                return 0;
        }
        if (free)
            return port;
    }
}

int RtpPortManager::openSession(RtpLayerSession& session, int clockRate, double preTxDelay)
{
    int result = RtpLayerSession::kErrorAddressInUse;
    for (int attempt = 0; attempt < kOpenAttempts && result == RtpLayerSession::kErrorAddressInUse; ++attempt) {
        const int port = getFreePort();
        if (port <= 0)
            break;
        result = session.open(std::string(), port, clockRate, 1, std::string(), preTxDelay);
        if (result == 0)
            return port;
    }
    RDLOG("rtp session create %d", result);
    return 0;
}
