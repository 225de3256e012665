#include "LoopP2pClient.h"

#include "LoopP2pSocket.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int codeOf(const LoopP2pFrame& frame)
{
    return frame.body.size() >= 4 ? static_cast<int32_t>(LoopP2pFrameReader::readU32(frame.body.data()))
                                  : LoopP2pBadArgument;
}

} // namespace

LoopP2pClient::~LoopP2pClient()
{
    close();
}

void LoopP2pClient::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_eof = false;
    m_reader = LoopP2pFrameReader();
    m_kept.clear();
}

int LoopP2pClient::connect(const std::string& uid, int timeoutMs)
{
    close();
    if (!LoopP2pSocket::isValidUid(uid))
        return LoopP2pBadArgument;
    m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0)
        return LoopP2pNoDevice;
    sockaddr_un address;
    const socklen_t length = LoopP2pSocket::address(uid, address);
    if (::connect(m_fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        close();
        return LoopP2pNoDevice;
    }
    LoopP2pFrame frame;
    const int got = take(LoopP2pFrameKind::Accepted, LoopP2pFrameKind::Refused, timeoutMs, frame);
    if (got == LoopP2pRecvTimeout) {
        close();
        return LoopP2pNoAnswer;
    }
    if (got < 0) {
        close();
        return LoopP2pNoDevice;
    }
    if (frame.kind == static_cast<uint8_t>(LoopP2pFrameKind::Refused)) {
        close();
        return codeOf(frame);
    }
    return 0;
}

int LoopP2pClient::startAv(const std::string& account, const std::string& password, int timeoutMs)
{
    std::string body = account;
    body += '\0';
    body += password;
    body += '\0';
    if (sendRaw(static_cast<uint8_t>(LoopP2pFrameKind::AvStart), body) != 0)
        return LoopP2pPeerClosed;
    LoopP2pFrame frame;
    const int got = take(LoopP2pFrameKind::AvOk, LoopP2pFrameKind::AvRefused, timeoutMs, frame);
    if (got == LoopP2pRecvTimeout)
        return LoopP2pNoAnswer;
    if (got < 0)
        return got;
    return frame.kind == static_cast<uint8_t>(LoopP2pFrameKind::AvOk) ? 0 : codeOf(frame);
}

int LoopP2pClient::sendIoCtrl(uint32_t type, const std::string& data)
{
    std::string body;
    LoopP2pFrameReader::appendU32(body, type);
    body += data;
    return sendRaw(static_cast<uint8_t>(LoopP2pFrameKind::IoCtrl), body);
}

int LoopP2pClient::recvIoCtrl(int timeoutMs, uint32_t& type, std::string& data)
{
    LoopP2pFrame frame;
    for (;;) {
        const int got = take(LoopP2pFrameKind::IoCtrl, LoopP2pFrameKind::IoCtrl, timeoutMs, frame);
        if (got < 0)
            return got;
        if (frame.body.size() >= 4)
            break;
    }
    type = LoopP2pFrameReader::readU32(frame.body.data());
    data = frame.body.substr(4);
    return static_cast<int>(data.size());
}

int LoopP2pClient::sendAudio(const LoopP2pFrameInfo& info, const std::string& data)
{
    std::string body(reinterpret_cast<const char*>(&info), sizeof(info));
    body += data;
    return sendRaw(static_cast<uint8_t>(LoopP2pFrameKind::Audio), body);
}

int LoopP2pClient::recvAudio(int timeoutMs, LoopP2pFrameInfo& info, std::string& data)
{
    LoopP2pFrame frame;
    for (;;) {
        const int got = take(LoopP2pFrameKind::Audio, LoopP2pFrameKind::Audio, timeoutMs, frame);
        if (got < 0)
            return got;
        if (frame.body.size() >= sizeof(info))
            break;
    }
    std::memcpy(&info, frame.body.data(), sizeof(info));
    data = frame.body.substr(sizeof(info));
    return static_cast<int>(data.size());
}

int LoopP2pClient::sendRaw(uint8_t kind, const std::string& body)
{
    return sendBytes(LoopP2pFrameReader::header(kind, static_cast<uint32_t>(body.size())) + body);
}

int LoopP2pClient::sendRawHeader(uint8_t kind, uint32_t length)
{
    return sendBytes(LoopP2pFrameReader::header(kind, length));
}

int LoopP2pClient::sendBytes(const std::string& bytes)
{
    if (m_fd < 0)
        return LoopP2pSendFailed;
    return LoopP2pSocket::sendAll(m_fd, bytes.data(), bytes.size()) ? 0 : LoopP2pSendFailed;
}

int LoopP2pClient::take(LoopP2pFrameKind kind, LoopP2pFrameKind other, int timeoutMs,
                        LoopP2pFrame& frame)
{
    const auto wanted = [&](const LoopP2pFrame& f) {
        return f.kind == static_cast<uint8_t>(kind) || f.kind == static_cast<uint8_t>(other);
    };
    for (auto it = m_kept.begin(); it != m_kept.end(); ++it) {
        if (wanted(*it)) {
            frame = std::move(*it);
            m_kept.erase(it);
            return 0;
        }
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        LoopP2pFrame next;
        LoopP2pFrameReader::Status status;
        while ((status = m_reader.next(next)) == LoopP2pFrameReader::Ready) {
            if (wanted(next)) {
                frame = std::move(next);
                return 0;
            }
            m_kept.push_back(std::move(next));
        }
        if (status == LoopP2pFrameReader::TooLarge || m_eof || m_fd < 0) {
            m_eof = true;
            return LoopP2pPeerClosed;
        }
        const int ready = LoopP2pSocket::waitReadable(m_fd, LoopP2pSocket::msLeft(deadline));
        if (ready == 0)
            return LoopP2pRecvTimeout;
        char chunk[64 * 1024];
        const ssize_t got = ready < 0 ? -1 : ::recv(m_fd, chunk, sizeof(chunk), MSG_DONTWAIT);
        if (got > 0)
            m_reader.append(chunk, static_cast<size_t>(got));
        else if (got == 0 || (errno != EINTR && errno != EAGAIN))
            m_eof = true;
    }
}
