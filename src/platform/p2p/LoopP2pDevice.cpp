#include "LoopP2pDevice.h"

#include "LoopP2pSession.h"
#include "LoopP2pSocket.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

// Connections waiting for IOTC_Listen; a burst beyond it waits in the app's connect.
constexpr int kBacklog = 16;
// The longest wait a start's time-out may ask for: a day.
constexpr uint32_t kMaxStartTimeoutSeconds = 24 * 3600;

std::string codeBody(int code)
{
    std::string body;
    LoopP2pFrameReader::appendU32(body, static_cast<uint32_t>(code));
    return body;
}

} // namespace

// The bound name. Its descriptor closes with the last reference, so a listen in progress keeps
// it valid; shutdown() wakes that listen at once.
struct LoopP2pDevice::Listener
{
    explicit Listener(int fd) : fd(fd) {}
    ~Listener() { ::close(fd); }
    const int fd;
};

LoopP2pDevice& LoopP2pDevice::instance()
{
    // Never destroyed: calls may still arrive from threads that outlive main's statics.
    static LoopP2pDevice* device = new LoopP2pDevice;
    return *device;
}

int LoopP2pDevice::initialize()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_initialized = true;
    return 0;
}

int LoopP2pDevice::setMaxSessions(unsigned int count)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_maxSessions = count;
    return 0;
}

int LoopP2pDevice::login(const char* uid, const LoopP2pLoginInput* input)
{
    if (!uid || !input || input->size != sizeof(LoopP2pLoginInput) || !LoopP2pSocket::isValidUid(uid))
        return LoopP2pBadArgument;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_initialized)
        return LoopP2pNotInitialized;
    if (m_listener)
        return LoopP2pNotLoggedIn;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return LoopP2pBadArgument;
    sockaddr_un address;
    const socklen_t length = LoopP2pSocket::address(uid, address);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0
        || ::listen(fd, kBacklog) != 0) {
        const int error = errno;
        ::close(fd);
        return error == EADDRINUSE ? LoopP2pUidInUse : LoopP2pBadArgument;
    }
    m_listener = std::make_shared<Listener>(fd);
    return 0;
}

int LoopP2pDevice::refuse(int fd)
{
    const std::string frame =
        LoopP2pFrameReader::encode(LoopP2pFrameKind::Refused, codeBody(LoopP2pListenRefused));
    LoopP2pSocket::sendAll(fd, frame.data(), frame.size());
    ::close(fd);
    return LoopP2pListenRefused;
}

int LoopP2pDevice::listen(unsigned int timeoutMs)
{
    std::shared_ptr<Listener> listener;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_initialized)
            return LoopP2pNotInitialized;
        if (!m_listener)
            return LoopP2pNotLoggedIn;
        listener = m_listener;
    }
    const int ready = LoopP2pSocket::waitReadable(listener->fd, static_cast<int>(timeoutMs));
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_initialized)
            return LoopP2pNotInitialized;
        if (m_listener != listener)
            return LoopP2pNotLoggedIn;
    }
    if (ready <= 0)
        return LoopP2pListenTimeout;
    const int fd = ::accept4(listener->fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0)
        return LoopP2pListenTimeout; // the app gave up between poll and accept
    // Reads block in the reader; writes never block (LoopP2pSocket::sendAll waits in poll).
    ::fcntl(fd, F_SETFL, 0);

    std::shared_ptr<LoopP2pSession> session;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_sessions.size() >= m_maxSessions) {
            // Outside the lock would be nicer, but the frame is tiny and the buffer empty.
            return refuse(fd);
        }
        session = std::make_shared<LoopP2pSession>(m_nextSessionId++, fd);
        m_sessions[session->id()] = session;
    }
    session->startReader();
    session->send(LoopP2pFrameKind::Accepted, std::string());
    return session->id();
}

std::shared_ptr<LoopP2pSession> LoopP2pDevice::sessionById(int sessionId)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_sessions.find(sessionId);
    return it == m_sessions.end() ? nullptr : it->second;
}

std::shared_ptr<LoopP2pSession> LoopP2pDevice::sessionByAv(int avIndex)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_avServers.find(avIndex);
    return it == m_avServers.end() ? nullptr : it->second;
}

int LoopP2pDevice::freeChannel(int sessionId)
{
    return sessionById(sessionId) ? 0 : LoopP2pNoSession;
}

int LoopP2pDevice::closeSession(int sessionId)
{
    std::shared_ptr<LoopP2pSession> session;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto it = m_sessions.find(sessionId);
        if (it == m_sessions.end())
            return LoopP2pNoSession;
        session = it->second;
        m_sessions.erase(it);
        const int avIndex = session->avIndex();
        if (avIndex >= 0)
            m_avServers.erase(avIndex);
    }
    session->close();
    return 0;
}

int LoopP2pDevice::deinitialize()
{
    std::map<int, std::shared_ptr<LoopP2pSession>> sessions;
    std::shared_ptr<Listener> listener;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_initialized = false;
        m_avInitialized = false;
        sessions.swap(m_sessions);
        m_avServers.clear();
        listener.swap(m_listener);
    }
    if (listener)
        ::shutdown(listener->fd, SHUT_RDWR);
    listener.reset();
    for (auto& entry : sessions)
        entry.second->close();
    return 0;
}

int LoopP2pDevice::avInitialize(int maxAv)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_maxAv = maxAv < 0 ? 0 : maxAv;
    m_avInitialized = true;
    return m_maxAv;
}

int LoopP2pDevice::avDeinitialize()
{
    std::vector<std::shared_ptr<LoopP2pSession>> sessions;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_avInitialized = false;
        m_avServers.clear();
        for (auto& entry : m_sessions)
            sessions.push_back(entry.second);
    }
    for (auto& session : sessions) {
        session->setAvIndex(-1);
        session->abortStart();
    }
    return 0;
}

int LoopP2pDevice::avStart(const LoopP2pAvStartInput* input, LoopP2pAvStartOutput* output)
{
    if (!input || !output || input->size != sizeof(LoopP2pAvStartInput)
        || output->size != sizeof(LoopP2pAvStartOutput) || input->channel != 0)
        return LoopP2pBadArgument;
    std::shared_ptr<LoopP2pSession> session;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_avInitialized)
            return LoopP2pNotInitialized;
        const auto it = m_sessions.find(input->session);
        if (it == m_sessions.end())
            return LoopP2pNoSession;
        if (static_cast<int>(m_avServers.size()) >= m_maxAv)
            return LoopP2pAvLimit;
        session = it->second;
    }
    if (session->avIndex() >= 0)
        return LoopP2pBadArgument; // one AV server per session

    const uint32_t seconds = input->timeoutSeconds ? input->timeoutSeconds : kMaxStartTimeoutSeconds;
    const auto deadline = std::chrono::steady_clock::now()
                          + std::chrono::seconds(std::min(seconds, kMaxStartTimeoutSeconds));
    std::string account;
    std::string password;
    const int waited = session->waitAvStart(deadline, account, password);
    if (waited < 0)
        return waited;

    if (input->authCheck && input->authCheck(account.c_str(), password.c_str()) != 0) {
        session->send(LoopP2pFrameKind::AvRefused, codeBody(LoopP2pAvDenied));
        return LoopP2pAvDenied;
    }
    int avIndex;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_avInitialized || m_sessions.find(input->session) == m_sessions.end())
            return LoopP2pAvAborted;
        if (static_cast<int>(m_avServers.size()) >= m_maxAv) {
            session->send(LoopP2pFrameKind::AvRefused, codeBody(LoopP2pAvLimit));
            return LoopP2pAvLimit;
        }
        avIndex = m_nextAvIndex++;
        m_avServers[avIndex] = session;
        session->setAvIndex(avIndex);
    }
    session->send(LoopP2pFrameKind::AvOk, std::string());
    return avIndex;
}

int LoopP2pDevice::avExit(int sessionId, unsigned char channel)
{
    if (channel != 0)
        return LoopP2pBadArgument;
    const std::shared_ptr<LoopP2pSession> session = sessionById(sessionId);
    if (!session)
        return LoopP2pNoSession;
    session->abortStart();
    return 0;
}

int LoopP2pDevice::avStop(int avIndex)
{
    std::shared_ptr<LoopP2pSession> session;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto it = m_avServers.find(avIndex);
        if (it == m_avServers.end())
            return LoopP2pNoAv;
        session = it->second;
        m_avServers.erase(it);
    }
    session->setAvIndex(-1);
    return 0;
}

int LoopP2pDevice::avRecvIoCtrl(int avIndex, unsigned int* type, char* buffer, int size,
                                unsigned int ms)
{
    if (!type || !buffer || size < 0)
        return LoopP2pBadArgument;
    const std::shared_ptr<LoopP2pSession> session = sessionByAv(avIndex);
    if (!session)
        return LoopP2pNoAv;
    return session->recvIoCtrl(avIndex, type, buffer, size, ms);
}

int LoopP2pDevice::avRecvAudio(int avIndex, char* buffer, int size, char* info, int infoSize,
                               unsigned int* frameNumber)
{
    if (!buffer || size < 0 || !info || infoSize < static_cast<int>(sizeof(LoopP2pFrameInfo)))
        return LoopP2pBadArgument;
    const std::shared_ptr<LoopP2pSession> session = sessionByAv(avIndex);
    if (!session)
        return LoopP2pNoAv;
    return session->recvAudio(avIndex, buffer, size, info, infoSize, frameNumber);
}

int LoopP2pDevice::avSendIoCtrl(int avIndex, unsigned int type, const char* data, int length)
{
    if (length < 0 || (length > 0 && !data)
        || static_cast<uint32_t>(length) > LoopP2pFrameReader::kMaxBody - 4)
        return LoopP2pBadArgument;
    const std::shared_ptr<LoopP2pSession> session = sessionByAv(avIndex);
    if (!session)
        return LoopP2pNoAv;
    std::string body;
    body.reserve(4 + static_cast<size_t>(length));
    LoopP2pFrameReader::appendU32(body, type);
    body.append(data ? data : "", static_cast<size_t>(length));
    return session->send(LoopP2pFrameKind::IoCtrl, body);
}

int LoopP2pDevice::avSendAudio(int avIndex, const char* data, int length, const void* info,
                               int infoSize)
{
    constexpr size_t kInfo = sizeof(LoopP2pFrameInfo);
    if (length < 0 || (length > 0 && !data) || !info || infoSize < static_cast<int>(kInfo)
        || static_cast<uint32_t>(length) > LoopP2pFrameReader::kMaxBody - kInfo)
        return LoopP2pBadArgument;
    const std::shared_ptr<LoopP2pSession> session = sessionByAv(avIndex);
    if (!session)
        return LoopP2pNoAv;
    std::string body(static_cast<const char*>(info), kInfo);
    body.append(data ? data : "", static_cast<size_t>(length));
    return session->send(LoopP2pFrameKind::Audio, body);
}
