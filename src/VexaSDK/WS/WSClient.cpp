#include "WSClient.h"

#include "RDBigEndian.h"
#include "RDFunctionThread.h"
#include "RDLog.h"
#include "RDTcpSocket.h"
#include "RDThread.h"
#include "WSHandshake.h"
#include "WSMessageReader.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

namespace {

// What one receive takes at most; the reader keeps what a frame still needs.
constexpr int kReceiveChunk = 64 * 1024;
// Waits in poll() are cut into slices of this length so that a stop is seen even if the
// shutdown that wakes them were missed. Long: stop wakes them at once anyway, and with 64
// clients every slice is 64 wake-ups (500 ms slices cost 50 quiet clients 1 % of a core).
constexpr int kWaitSliceUs = 5000 * 1000;
// The payload of the pings this side sends; any frame that comes back counts as the answer.
const std::string kPingPayload = "\r\n";
// RFC 6455 7.1.1: after the close frame, a short wait lets the peer read it before the socket
// goes.
constexpr int kCloseWriteTimeoutMs = 1000;

double now()
{
    return RDThread::monotonicTime();
}

// RFC 6455 5.5.1: a close frame's body starts with the status code.
std::string closeBody(WSCloseCode code)
{
    uint8_t body[2];
    writeBe16(body, static_cast<uint16_t>(code));
    return std::string(reinterpret_cast<const char*>(body), sizeof(body));
}

} // namespace

WSClient::WSClient(RDTcpSocket* socket, RulesSource rules)
    : m_rules(std::move(rules)), m_socket(socket)
{
    if (m_socket)
        m_peer = m_socket->address().toString();
}

WSClient::~WSClient()
{
    stop();
}

std::string WSClient::peer() const
{
    return m_peer;
}

bool WSClient::start()
{
    stopThreads();
    {
        std::lock_guard<std::mutex> lock(m_socketLock);
        if (!m_socket || !m_socket->isValid())
            return false;
    }
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        m_sendStop = false;
    }
    m_sendThread = std::make_unique<RDFunctionThread>(
        "WSClient Send", [this](RDThread* thread) { runSend(thread); },
        [this]() {
            std::lock_guard<std::mutex> lock(m_queueLock);
            m_sendStop = true;
            m_queueChanged.notify_all();
        });
    m_readThread = std::make_unique<RDFunctionThread>(
        "WSClient Read", [this](RDThread* thread) { runRead(thread); }, [this]() { shutdownSocket(); });
    if (!m_sendThread->start() || !m_readThread->start()) {
        RDLOG("WebSocket client %s: threads did not start", m_peer.c_str());
        stop();
        return false;
    }
    return true;
}

void WSClient::stop()
{
    // The threads are woken (socket shut down, queue signalled), joined, and only then is the
    // socket released: neither thread ever touches a freed socket.
    stopThreads();
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        m_queue.clear();
        m_queuedAudio = 0;
    }
    m_audioQueue.clear();
    std::unique_ptr<RDTcpSocket> socket;
    {
        std::lock_guard<std::mutex> lock(m_socketLock);
        socket = std::move(m_socket);
    }
    if (socket)
        socket->close();
}

void WSClient::stopThreads()
{
    if (!m_sendThread && !m_readThread)
        return;
    if (m_sendThread)
        m_sendThread->stop();
    if (m_readThread)
        m_readThread->stop();
    shutdownSocket();
    if (m_sendThread) {
        m_sendThread->wait();
        m_sendThread.reset();
    }
    if (m_readThread) {
        m_readThread->wait();
        m_readThread.reset();
    }
}

bool WSClient::isRunning() const
{
    return m_sendThread || m_readThread;
}

bool WSClient::isConnected() const
{
    std::lock_guard<std::mutex> lock(m_socketLock);
    return m_socket && m_socket->isValid();
}

int WSClient::sendData(VexaBuffer& buffer)
{
    const uint8_t* bytes = buffer.bytes();
    std::string text(reinterpret_cast<const char*>(bytes ? bytes : reinterpret_cast<const uint8_t*>("")),
                     static_cast<size_t>(buffer.size()));
    return enqueue(WSOpcode::Text, std::move(text), false) ? 0 : -1;
}

int WSClient::sendAudio(const VexaAudioPacket& packet)
{
    const int size = packet.writeTo(nullptr, 0, 0);
    std::vector<uint8_t> frame(static_cast<size_t>(size) + 1);
    frame[0] = static_cast<uint8_t>(Kind::Audio);
    packet.writeTo(frame.data(), 1, static_cast<int>(frame.size()));
    return enqueue(WSOpcode::Binary, std::string(frame.begin(), frame.end()), false) ? 0 : -1;
}

int WSClient::readAudio(VexaAudioPacket& packet)
{
    return m_audioQueue.pop(packet);
}

int WSClient::queuedMessages() const
{
    std::lock_guard<std::mutex> lock(m_queueLock);
    return static_cast<int>(m_queue.size()) - m_queuedAudio;
}

int WSClient::queuedAudio() const
{
    std::lock_guard<std::mutex> lock(m_queueLock);
    return m_queuedAudio;
}

bool WSClient::enqueue(WSOpcode opcode, std::string payload, bool urgent)
{
    if (!isConnected())
        return false;
    const bool audio = opcode == WSOpcode::Binary;
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        if (audio && m_queuedAudio >= kMaxQueuedAudio) {
            for (auto it = m_queue.begin(); it != m_queue.end(); ++it) {
                if (it->opcode == WSOpcode::Binary) {
                    m_queue.erase(it);
                    --m_queuedAudio;
                    break;
                }
            }
        }
        const int messages = static_cast<int>(m_queue.size()) - m_queuedAudio;
        if (!audio && messages >= kMaxQueuedMessages) {
            RDLOG("WebSocket client %s: %d messages unsent, closing", m_peer.c_str(), messages);
        } else {
            if (urgent)
                m_queue.push_front(Item{opcode, std::move(payload)});
            else
                m_queue.push_back(Item{opcode, std::move(payload)});
            if (audio)
                ++m_queuedAudio;
            m_queueChanged.notify_all();
            return true;
        }
    }
    shutdownSocket();
    return false;
}

bool WSClient::write(const std::string& bytes)
{
    std::lock_guard<std::mutex> lock(m_writeLock);
    if (m_closing)
        return false;
    // The socket lives until stop, which joins the writers first.
    RDTcpSocket* socket = m_socket.get();
    if (!socket || !socket->isValid())
        return false;
    const int size = static_cast<int>(bytes.size());
    return socket->sendAll(bytes.data(), size, kWriteTimeoutMs) == size;
}

void WSClient::closeWith(uint16_t code, const char* why)
{
    RDLOG("WebSocket client %s: close %d (%s)", m_peer.c_str(), code, why);
    {
        // A writer stalled on an app that reads nothing holds the lock up to kWriteTimeoutMs: the
        // close frame is not worth that wait, the shutdown below ends that writer too. (Tried in
        // 1-ms steps: ThreadSanitizer does not see std::timed_mutex's timed lock and would
        // report every unlock.)
        std::unique_lock<std::mutex> lock(m_writeLock, std::defer_lock);
        const double giveUpAt = now() + kCloseWriteTimeoutMs / 1000.0;
        while (!lock.try_lock() && now() < giveUpAt)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (lock.owns_lock()) {
            if (!m_closing && m_socket && m_socket->isValid()) {
                const std::string frame = WSFrameHeader::encodeClose(code);
                m_socket->sendAll(frame.data(), static_cast<int>(frame.size()), kCloseWriteTimeoutMs);
            }
            m_closing = true;
        }
    }
    shutdownSocket();
}

void WSClient::finishClose()
{
    {
        std::lock_guard<std::mutex> lock(m_writeLock);
        m_closing = true;
    }
    RDLOG("WebSocket client %s: closed as its request was handled", m_peer.c_str());
    shutdownSocket();
}

void WSClient::shutdownSocket()
{
    {
        std::lock_guard<std::mutex> lock(m_socketLock);
        if (m_socket)
            m_socket->shutdown();
    }
    // The send thread may sleep until its next ping: it learns of the end now.
    std::lock_guard<std::mutex> lock(m_queueLock);
    m_queueChanged.notify_all();
}

void WSClient::runRead(RDThread* thread)
{
    std::string firstBytes;
    if (!readHandshake(thread, &firstBytes)) {
        shutdownSocket();
        return;
    }
    m_handshaken.store(true);
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        m_queueChanged.notify_all();
    }
    if (readMessages(thread, firstBytes))
        return;
    shutdownSocket();
}

bool WSClient::readHandshake(RDThread* thread, std::string* firstBytes)
{
    RDTcpSocket* socket = m_socket.get();
    const double deadline = now() + kHandshakeTimeoutMs / 1000.0;
    std::string request;
    char chunk[1024];
    WSHandshake handshake;
    WSHandshake::Status status = WSHandshake::Status::Incomplete;
    // A slow or split request is gathered piece by piece; each piece is parsed again from the
    // start (the head is at most 8 KiB), until it is whole, refused, or the time is up.
    while (status == WSHandshake::Status::Incomplete) {
        if (thread->isStop() || !socket->isValid())
            return false;
        const double left = deadline - now();
        if (left <= 0) {
            status = WSHandshake::Status::TimedOut;
            break;
        }
        const int waitUs = std::min(kWaitSliceUs, static_cast<int>(left * 1e6) + 1);
        if (socket->waitReadable(0, waitUs) <= 0)
            continue;
        const int n = socket->recv(chunk, sizeof(chunk));
        if (n <= 0)
            continue;
        request.append(chunk, static_cast<size_t>(n));
        status = handshake.parse(request.data(), static_cast<int>(request.size()));
    }
    if (status != WSHandshake::Status::Ok) {
        RDLOG("WebSocket client %s: handshake refused: %s", m_peer.c_str(), WSHandshake::describe(status));
        write(WSHandshake::refusalResponse(status));
        return false;
    }
    if (!write(WSHandshake::acceptResponse(handshake.key())))
        return false;
    firstBytes->assign(request, static_cast<size_t>(handshake.headLength()), std::string::npos);
    return true;
}

// Hands out every whole message and control frame at hand, then looks at the app's deadlines,
// then sleeps in poll() until a byte comes or the nearest deadline (the ping, the answer to it,
// the login) falls due.
bool WSClient::readMessages(RDThread* thread, const std::string& firstBytes)
{
    RDTcpSocket* socket = m_socket.get();
    WSMessageReader reader;
    reader.append(firstBytes.data(), firstBytes.size());
    std::vector<char> chunk(kReceiveChunk);
    std::string payload;
    const double handshakeAt = now();
    double heardAt = handshakeAt;
    double pingedAt = -1;
    for (;;) {
        for (;;) {
            const WSMessageReader::Event event = reader.next(&payload);
            if (event == WSMessageReader::Event::NeedMore)
                break;
            heardAt = now();
            pingedAt = -1;
            switch (event) {
            case WSMessageReader::Event::NeedMore:
            case WSMessageReader::Event::Pong:
                break;
            case WSMessageReader::Event::Text:
                if (!payload.empty()) {
                    VexaBuffer buffer(payload.data(), static_cast<int>(payload.size()));
                    notifyData(buffer);
                }
                break;
            case WSMessageReader::Event::Binary:
                onBinary(payload);
                break;
            case WSMessageReader::Event::Ping:
                // RFC 6455 5.5.3: the pong carries the ping's payload, before queued messages.
                enqueue(WSOpcode::Pong, payload, true);
                break;
            case WSMessageReader::Event::Close:
                // RFC 6455 5.5.1: answered with the same code, then the connection ends.
                closeWith(static_cast<uint16_t>(reader.closeCode()), "closed by the peer");
                return false;
            case WSMessageReader::Event::Error:
                closeWith(static_cast<uint16_t>(reader.closeCode()), reader.error());
                return false;
            }
            if (isCloseRequested()) {
                // The observer queued its reply while it handled the message: the close frame
                // goes out after it, and nothing more is read.
                return enqueue(WSOpcode::Close, closeBody(WSCloseCode::PolicyViolation), false);
            }
        }
        const Rules rules = m_rules ? m_rules() : Rules();
        const Timeouts& wait = rules.timeouts;
        const double t = now();
        WSCloseCode code = WSCloseCode::Normal;
        if (const char* why = overdue(rules, t, handshakeAt, pingedAt, &code)) {
            closeWith(static_cast<uint16_t>(code), why);
            return false;
        }
        double wake = t + kWaitSliceUs / 1e6;
        if (wait.pingAfter > 0) {
            if (pingedAt < 0 && t >= heardAt + wait.pingAfter) {
                // Urgent: behind a backlog the app could not answer in time.
                enqueue(WSOpcode::Ping, kPingPayload, true);
                pingedAt = t;
            }
            if (pingedAt < 0)
                wake = std::min(wake, heardAt + wait.pingAfter);
            else if (wait.pongWithin > 0)
                wake = std::min(wake, pingedAt + wait.pongWithin);
        }
        if (wait.loginWithin > 0 && handshakeAt + wait.loginWithin > t)
            wake = std::min(wake, handshakeAt + wait.loginWithin);
        if (thread->isStop() || !socket->isValid())
            return false;
        const int waitUs = std::max(1, static_cast<int>((wake - t) * 1e6) + 1);
        if (socket->waitReadable(0, waitUs) <= 0)
            continue;
        const int n = socket->recv(chunk.data(), static_cast<int>(chunk.size()));
        if (n > 0)
            reader.append(chunk.data(), static_cast<size_t>(n));
    }
}

const char* WSClient::overdue(const Rules& rules, double t, double handshakeAt, double pingedAt,
                              WSCloseCode* code) const
{
    const Timeouts& wait = rules.timeouts;
    // Checked on every wake, not only at the deadline: an app that connected while
    // authentication was off and never logged in goes too once it is switched on.
    if (rules.loginRequired && wait.loginWithin > 0 && t >= handshakeAt + wait.loginWithin && !isAuthorized()) {
        *code = WSCloseCode::PolicyViolation;
        return "not logged in in time";
    }
    if (wait.pongWithin > 0 && pingedAt >= 0 && t >= pingedAt + wait.pongWithin) {
        // The code python3-websockets and others close with when their own pings go unanswered.
        *code = WSCloseCode::InternalError;
        return "no answer to a ping";
    }
    return nullptr;
}

void WSClient::onBinary(const std::string& message)
{
    if (message.empty())
        return;
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(message.data());
    const int rest = static_cast<int>(message.size()) - 1;
    switch (static_cast<Kind>(bytes[0])) {
    case Kind::Message:
        if (rest > 0) {
            VexaBuffer buffer(bytes + 1, rest);
            notifyData(buffer);
        }
        return;
    case Kind::Audio: {
        VexaAudioPacket packet;
        const VexaAudioPacket::HeaderStatus status = packet.parse(bytes + 1, rest);
        if (status != VexaAudioPacket::kHeaderOk) {
            RDLOG("WebSocket client %s: audio frame dropped: %s", m_peer.c_str(),
                  VexaAudioPacket::headerStatusText(status));
            return;
        }
        if (m_audioQueue.push(std::move(packet)) > 0)
            RDLOG("remove audio size over %d", kAudioQueueLimit);
        return;
    }
    }
    RDLOG("WebSocket client %s: binary message of kind %d ignored", m_peer.c_str(), bytes[0]);
}

void WSClient::runSend(RDThread* thread)
{
    {
        std::unique_lock<std::mutex> lock(m_queueLock);
        m_queueChanged.wait(lock, [this]() { return m_sendStop || m_handshaken.load() || !isConnected(); });
        if (m_sendStop || !m_handshaken.load())
            return;
    }
    // Sleeps until an item is queued or stop; then writes one frame. A close frame is the last.
    while (!thread->isStop()) {
        Item item{WSOpcode::Text, std::string()};
        {
            std::unique_lock<std::mutex> lock(m_queueLock);
            while (!m_sendStop && m_queue.empty() && isConnected())
                m_queueChanged.wait_for(lock, std::chrono::microseconds(kWaitSliceUs));
            if (m_sendStop || !isConnected())
                return;
            item = std::move(m_queue.front());
            m_queue.pop_front();
            if (item.opcode == WSOpcode::Binary)
                --m_queuedAudio;
        }
        const std::string frame = WSFrameHeader::encode(item.opcode, item.payload.data(), item.payload.size());
        if (!write(frame)) {
            RDLOG("WebSocket client %s: send failed or stalled, closing", m_peer.c_str());
            shutdownSocket();
            return;
        }
        if (item.opcode == WSOpcode::Close) {
            finishClose();
            return;
        }
    }
}
