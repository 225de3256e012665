#include "LoopP2pSession.h"

#include "LoopP2p.h"
#include "LoopP2pSocket.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The reader's chunk; frames longer than this arrive over several reads.
constexpr size_t kReadChunk = 64 * 1024;

} // namespace

LoopP2pSession::LoopP2pSession(int id, int fd) : m_id(id), m_fd(fd) {}

LoopP2pSession::~LoopP2pSession()
{
    close();
}

bool LoopP2pSession::startReader()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_closed)
        return false;
    m_reader = std::thread([this] { readLoop(); });
    return true;
}

void LoopP2pSession::close()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_closed)
            return;
        m_closed = true;
    }
    m_changed.notify_all();
    // Wakes the reader's read and a write stuck waiting for room. Not under the write mutex,
    // which that write holds; the descriptor stays open until the end of this call, the only
    // place that closes it.
    if (m_fd >= 0)
        ::shutdown(m_fd, SHUT_RDWR);
    // m_closed is set, so startReader can no longer start a thread: m_reader is final here.
    if (m_reader.joinable() && m_reader.get_id() != std::this_thread::get_id())
        m_reader.join();
    std::lock_guard<std::mutex> lock(m_writeMutex);
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

int LoopP2pSession::send(LoopP2pFrameKind kind, const std::string& body)
{
    const std::string frame = LoopP2pFrameReader::encode(kind, body);
    std::lock_guard<std::mutex> lock(m_writeMutex);
    if (m_fd < 0 || m_writeFailed)
        return LoopP2pSendFailed;
    if (LoopP2pSocket::sendAll(m_fd, frame.data(), frame.size()))
        return 0;
    // A half-written frame leaves the stream unusable; the reader sees EOF and the app too.
    m_writeFailed = true;
    ::shutdown(m_fd, SHUT_RDWR);
    return LoopP2pSendFailed;
}

void LoopP2pSession::readLoop()
{
    LoopP2pFrameReader reader;
    std::string chunk(kReadChunk, '\0');
    for (;;) {
        const ssize_t got = ::read(m_fd, &chunk[0], chunk.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        reader.append(chunk.data(), static_cast<size_t>(got));
        LoopP2pFrame frame;
        LoopP2pFrameReader::Status status;
        while ((status = reader.next(frame)) == LoopP2pFrameReader::Ready)
            dispatch(frame);
        if (status == LoopP2pFrameReader::TooLarge) {
            ::shutdown(m_fd, SHUT_RDWR);
            break;
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_closed)
            break;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_eof = true;
    }
    m_changed.notify_all();
}

void LoopP2pSession::dispatch(LoopP2pFrame& frame)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    switch (static_cast<LoopP2pFrameKind>(frame.kind)) {
    case LoopP2pFrameKind::AvStart: {
        // account NUL password NUL; a missing terminator ends the text at the body's end.
        const size_t nul = frame.body.find('\0');
        m_account = frame.body.substr(0, nul);
        m_password.clear();
        if (nul != std::string::npos) {
            const std::string rest = frame.body.substr(nul + 1);
            m_password = rest.substr(0, rest.find('\0'));
        }
        m_startRequested = true;
        break;
    }
    case LoopP2pFrameKind::IoCtrl: {
        if (frame.body.size() < 4)
            return;
        m_changed.wait(lock, [this] { return m_closed || m_ioCtrl.size() < kIoCtrlQueueLimit; });
        if (m_closed)
            return;
        Message message;
        message.type = LoopP2pFrameReader::readU32(frame.body.data());
        message.data = frame.body.substr(4);
        m_ioCtrl.push_back(std::move(message));
        break;
    }
    case LoopP2pFrameKind::Audio: {
        if (frame.body.size() < sizeof(LoopP2pFrameInfo))
            return;
        Message message;
        message.info = frame.body.substr(0, sizeof(LoopP2pFrameInfo));
        message.data = frame.body.substr(sizeof(LoopP2pFrameInfo));
        m_audio.push_back(std::move(message));
        if (m_audio.size() > kAudioQueueLimit)
            m_audio.pop_front();
        break;
    }
    default:
        // Kinds a device does not take from an app, and unknown kinds.
        return;
    }
    lock.unlock();
    m_changed.notify_all();
}

int LoopP2pSession::waitAvStart(std::chrono::steady_clock::time_point deadline,
                                std::string& account, std::string& password)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    const auto ready = [this] { return m_startRequested || m_startAborted || m_closed || m_eof; };
    if (!m_changed.wait_until(lock, deadline, ready))
        return LoopP2pAvTimeout;
    if (m_startAborted || m_closed) {
        m_startAborted = false;
        return LoopP2pAvAborted;
    }
    if (!m_startRequested)
        return LoopP2pPeerClosed;
    m_startRequested = false;
    account = m_account;
    password = m_password;
    return 0;
}

void LoopP2pSession::abortStart()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_startAborted = true;
    }
    m_changed.notify_all();
}

void LoopP2pSession::setAvIndex(int avIndex)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_avIndex = avIndex;
    }
    m_changed.notify_all();
}

int LoopP2pSession::avIndex() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_avIndex;
}

template<typename Pred>
int LoopP2pSession::waitQueue(std::unique_lock<std::mutex>& lock, int avIndex, int timeoutMs,
                              Pred pred)
{
    const auto done = [&] { return m_closed || m_avIndex != avIndex || pred() || m_eof; };
    if (!m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), done))
        return 0;
    if (m_closed || m_avIndex != avIndex)
        return LoopP2pNoAv;
    // What the app sent before it left is still delivered.
    if (pred())
        return 1;
    return LoopP2pPeerClosed;
}

int LoopP2pSession::recvIoCtrl(int avIndex, unsigned int* type, char* buffer, int size,
                               unsigned int timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    const int timeout = static_cast<int>(std::min(timeoutMs, 24u * 3600u * 1000u));
    const int waited = waitQueue(lock, avIndex, timeout, [this] { return !m_ioCtrl.empty(); });
    if (waited < 0)
        return waited;
    if (waited == 0)
        return LoopP2pRecvTimeout;
    Message message = std::move(m_ioCtrl.front());
    m_ioCtrl.pop_front();
    lock.unlock();
    m_changed.notify_all(); // room for a reader waiting on a full queue
    if (message.data.size() > static_cast<size_t>(size))
        return LoopP2pRecvTooLarge;
    *type = message.type;
    std::memcpy(buffer, message.data.data(), message.data.size());
    return static_cast<int>(message.data.size());
}

int LoopP2pSession::recvAudio(int avIndex, char* buffer, int size, char* info, int infoSize,
                              unsigned int* frameNumber)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    const int waited =
        waitQueue(lock, avIndex, kAudioWaitMs, [this] { return !m_audio.empty(); });
    if (waited < 0)
        return waited;
    if (waited == 0)
        return LoopP2pRecvTimeout;
    Message message = std::move(m_audio.front());
    m_audio.pop_front();
    if (message.data.size() > static_cast<size_t>(size))
        return LoopP2pRecvTooLarge;
    const unsigned int number = m_audioFrames++;
    lock.unlock();
    std::memcpy(info, message.info.data(), std::min<size_t>(message.info.size(), infoSize));
    std::memcpy(buffer, message.data.data(), message.data.size());
    if (frameNumber)
        *frameNumber = number;
    return static_cast<int>(message.data.size());
}
