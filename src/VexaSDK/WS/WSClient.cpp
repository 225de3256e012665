#include "WSClient.h"

#include "RDFunctionThread.h"
#include "RDLog.h"
#include "RDTcpSocket.h"
#include "RDThread.h"
#include "WSHandshake.h"
#include "WSMessageReader.h"

#include <chrono>
#include <vector>

namespace {

// What one receive takes at most; the reader keeps what a frame still needs.
constexpr int kReceiveChunk = 64 * 1024;
// Waits in poll() are cut into slices of this length so that a stop is seen even if the
// shutdown that wakes them were missed. Long: stop wakes them at once anyway, and with 64
// clients every slice is 64 wake-ups (500 ms slices cost 50 quiet clients 1 % of a core).
constexpr int kWaitSliceUs = 5000 * 1000;
// The payload of the pings this side sends; the pong that comes back is not looked at.
const std::string kPingPayload = "\r\n";
// RFC 6455 7.1.1: after the close frame, a short wait lets the peer read it before the socket
// goes.
constexpr int kCloseWriteTimeoutMs = 1000;

double now()
{
    return RDThread::monotonicTime();
}

} // namespace

WSClient::WSClient(RDTcpSocket* socket, double pingInterval)
    : m_pingInterval(pingInterval), m_socket(socket)
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
        std::lock_guard<std::mutex> lock(m_writeLock);
        if (!m_closing && m_socket && m_socket->isValid()) {
            const std::string frame = WSFrameHeader::encodeClose(code);
            m_socket->sendAll(frame.data(), static_cast<int>(frame.size()), kCloseWriteTimeoutMs);
        }
        m_closing = true;
    }
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
    readMessages(thread, firstBytes);
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

void WSClient::readMessages(RDThread* thread, const std::string& firstBytes)
{
    RDTcpSocket* socket = m_socket.get();
    WSMessageReader reader;
    reader.append(firstBytes.data(), firstBytes.size());
    std::vector<char> chunk(kReceiveChunk);
    std::string payload;
    for (;;) {
        // Hand out every whole message and control frame at hand, then wait for more bytes.
        for (;;) {
            const WSMessageReader::Event event = reader.next(&payload);
            switch (event) {
            case WSMessageReader::Event::NeedMore:
                break;
            case WSMessageReader::Event::Text:
                if (!payload.empty()) {
                    VexaBuffer buffer(payload.data(), static_cast<int>(payload.size()));
                    notifyData(buffer);
                }
                continue;
            case WSMessageReader::Event::Binary:
                onBinary(payload);
                continue;
            case WSMessageReader::Event::Ping:
                // RFC 6455 5.5.3: the pong carries the ping's payload, before queued messages.
                enqueue(WSOpcode::Pong, payload, true);
                continue;
            case WSMessageReader::Event::Pong:
                continue;
            case WSMessageReader::Event::Close:
                // RFC 6455 5.5.1: answered with the same code, then the connection ends.
                closeWith(static_cast<uint16_t>(reader.closeCode()), "closed by the peer");
                return;
            case WSMessageReader::Event::Error:
                closeWith(static_cast<uint16_t>(reader.closeCode()), reader.error());
                return;
            }
            break;
        }
        if (thread->isStop() || !socket->isValid())
            return;
        if (socket->waitReadable(0, kWaitSliceUs) <= 0)
            continue;
        const int n = socket->recv(chunk.data(), static_cast<int>(chunk.size()));
        if (n > 0)
            reader.append(chunk.data(), static_cast<size_t>(n));
    }
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
    double lastSend = now();
    // Sleeps until an item is queued, the ping falls due or stop; then writes one frame.
    while (!thread->isStop()) {
        Item item{WSOpcode::Ping, std::string()};
        {
            std::unique_lock<std::mutex> lock(m_queueLock);
            const auto due = [&]() { return m_pingInterval > 0 && now() >= lastSend + m_pingInterval; };
            while (!m_sendStop && m_queue.empty() && !due() && isConnected()) {
                if (m_pingInterval > 0) {
                    const double left = lastSend + m_pingInterval - now();
                    m_queueChanged.wait_for(lock, std::chrono::microseconds(static_cast<long long>(left * 1e6) + 1));
                } else {
                    m_queueChanged.wait_for(lock, std::chrono::microseconds(kWaitSliceUs));
                }
            }
            if (m_sendStop || !isConnected())
                return;
            if (!m_queue.empty()) {
                item = std::move(m_queue.front());
                m_queue.pop_front();
                if (item.opcode == WSOpcode::Binary)
                    --m_queuedAudio;
            } else {
                item.payload = kPingPayload;
            }
        }
        const std::string frame = WSFrameHeader::encode(item.opcode, item.payload.data(), item.payload.size());
        if (!write(frame)) {
            RDLOG("WebSocket client %s: send failed or stalled, closing", m_peer.c_str());
            shutdownSocket();
            return;
        }
        lastSend = now();
    }
}
