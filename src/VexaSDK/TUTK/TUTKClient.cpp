#include "TUTKClient.h"

#include "LoopP2p.h"
#include "RDFunctionThread.h"
#include "RDLog.h"

#include <chrono>
#include <cstring>
#include <utility>
#include <vector>

namespace {

// The start record's two fixed values at offsets 16 and 20, and the output record's at 4 and 8.
constexpr uint32_t kStartRecordValue = 1;

int acceptEveryAccount(const char*, const char*)
{
    return 0;
}

void answerNullQuery(void* context, LoopP2pQueryReply reply, void*, void* user)
{
    static const char kAnswer[] = "NULL";
    if (reply)
        reply(context, kAnswer, static_cast<int>(sizeof(kAnswer) - 1), user);
}

int answerNoQuery(void*)
{
    return 0;
}

LoopP2pAvStartInput startInput(int sessionId, int channelId)
{
    LoopP2pAvStartInput input;
    std::memset(&input, 0, sizeof(input));
    input.size = sizeof(input);
    input.session = sessionId;
    input.channel = static_cast<uint8_t>(channelId);
    input.timeoutSeconds = TUTKClient::kAvStartTimeoutSeconds;
    input.value16 = kStartRecordValue;
    input.value20 = kStartRecordValue;
    input.authCheck = acceptEveryAccount;
    input.queryA = answerNullQuery;
    input.queryB = answerNoQuery;
    return input;
}

LoopP2pAvStartOutput startOutput()
{
    LoopP2pAvStartOutput output;
    std::memset(&output, 0, sizeof(output));
    output.size = sizeof(output);
    output.value4 = kStartRecordValue;
    output.value8 = kStartRecordValue;
    return output;
}

// The SDK's answers that mean "nothing this time": an empty message, a listen time-out, a
// receive time-out and the receive codes up to -20014 (a message too large for the buffer is
// dropped by the SDK and counts as nothing too).
bool isNothingReceived(int result)
{
    return result == 0 || result == LoopP2pListenTimeout
           || (result <= LoopP2pRecvTimeout && result >= -20014);
}

} // namespace

TUTKClient::TUTKClient(int sessionId, double loginWithin, LoginRequired loginRequired)
    : m_loginWithin(loginWithin), m_loginRequired(std::move(loginRequired)), m_sessionId(sessionId)
{
}

TUTKClient::~TUTKClient()
{
    stop();
}

bool TUTKClient::start()
{
    stopThreads();
    const int session = m_sessionId.load();
    const int channel = IOTC_Session_Get_Free_Channel(session);
    if (channel < 0) {
        // The SDK takes the channel as one byte: a negative one must not become channel 255.
        RDLOG("IOTC_Session_Get_Free_Channel %d for session %d", channel, session);
        stop();
        return false;
    }
    m_channelId = channel;

    const LoopP2pAvStartInput input = startInput(session, channel);
    LoopP2pAvStartOutput output = startOutput();
    // abortStart raises m_startAborted, then looks at m_starting; this raises m_starting, then
    // looks at m_startAborted. Whatever the interleaving, either the start is skipped or the
    // abort reaches the SDK, which also fails a start that comes after it.
    m_starting = true;
    int result = LoopP2pAvAborted;
    if (!m_startAborted.load())
        result = avServStartEx(&input, &output);
    m_starting = false;
    if (result < 0) {
        RDLOG("avServStartEx %d for session %d", result, session);
        stop();
        return false;
    }
    m_avIndex = result;
    RDLOG("P2P session %d started AV server %d on channel %d", session, result, channel);
    startThreads();
    return true;
}

void TUTKClient::abortStart()
{
    m_startAborted = true;
    const int session = m_sessionId.load();
    const int channel = m_channelId.load();
    if (m_starting.load() && session >= 0 && channel >= 0)
        avServExit(session, static_cast<unsigned char>(channel));
}

void TUTKClient::stop()
{
    // Stop flags first, then the SDK state: closing the session wakes a send that waits for a
    // stalled app, so the joins below take at most one receive wait, not a send's stall limit.
    for (RDFunctionThread* thread : {m_audioThread.get(), m_sendThread.get(), m_readThread.get()}) {
        if (thread)
            thread->stop();
    }
    wakeSender();
    abortStart();
    closeSdk();
    stopThreads();
    std::lock_guard<std::mutex> lock(m_sendLock);
    m_sendQueue.clear();
    m_sendAudioCount = 0;
    m_sendMessageCount = 0;
}

void TUTKClient::closeSdk()
{
    const int av = m_avIndex.exchange(-1);
    if (av >= 0)
        avServStop(av);
    const int session = m_sessionId.exchange(-1);
    if (session >= 0 && IOTC_Session_Close(session) == 0)
        RDLOG("P2P session %d closed", session);
}

bool TUTKClient::isRunning() const
{
    return m_threadsRunning.load();
}

bool TUTKClient::isConnected() const
{
    return m_sessionId.load() >= 0;
}

void TUTKClient::startThreads()
{
    m_sendThread = std::make_unique<RDFunctionThread>(
        "TUTK Send", [this](RDThread* thread) { sendItems(thread); }, [this] { wakeSender(); });
    m_readThread = std::make_unique<RDFunctionThread>(
        "TUTK Read", [this](RDThread* thread) { readMessages(thread); });
    m_audioThread = std::make_unique<RDFunctionThread>(
        "TUTK Read Audio", [this](RDThread* thread) { readAudioFrames(thread); });
    m_threadsRunning = true;
    m_sendThread->start();
    m_readThread->start();
    m_audioThread->start();
}

void TUTKClient::stopThreads()
{
    for (std::unique_ptr<RDFunctionThread>* slot : {&m_audioThread, &m_sendThread, &m_readThread}) {
        if (*slot) {
            (*slot)->stop();
            (*slot)->wait();
            slot->reset();
        }
    }
    m_threadsRunning = false;
}

int TUTKClient::sendData(VexaBuffer& buffer)
{
    if (buffer.size() <= 0)
        return 0;
    return queueItem(ItemKind::Message, VexaBuffer(buffer.bytes(), buffer.size())) ? 0 : -1;
}

int TUTKClient::sendAudio(const VexaAudioPacket& packet)
{
    VexaBuffer bytes;
    const int size = packet.writeTo(static_cast<uint8_t*>(nullptr), 0, 0);
    bytes.data.resize(static_cast<size_t>(size));
    packet.writeTo(bytes.data.data(), 0, size);
    bytes.length = size;
    return queueItem(ItemKind::Audio, std::move(bytes)) ? 0 : -1;
}

bool TUTKClient::queueItem(ItemKind kind, VexaBuffer&& bytes)
{
    if (!isConnected())
        return false;
    {
        std::lock_guard<std::mutex> lock(m_sendLock);
        if (kind == ItemKind::Message) {
            if (m_sendMessageCount >= kSendMessageLimit) {
                if (!m_overflowed.exchange(true))
                    RDLOG("P2P session %d: %zu messages unsent, the app stopped reading",
                          m_sessionId.load(), m_sendMessageCount);
                return false;
            }
            ++m_sendMessageCount;
        } else {
            if (m_sendAudioCount >= kSendAudioLimit) {
                for (auto it = m_sendQueue.begin(); it != m_sendQueue.end(); ++it) {
                    if (it->kind == ItemKind::Audio) {
                        m_sendQueue.erase(it);
                        --m_sendAudioCount;
                        break;
                    }
                }
            }
            ++m_sendAudioCount;
        }
        m_sendQueue.push_back(Item{kind, std::move(bytes)});
    }
    m_sendReady.notify_one();
    return true;
}

bool TUTKClient::takeItem(RDThread* thread, Item& item)
{
    std::unique_lock<std::mutex> lock(m_sendLock);
    m_sendReady.wait_for(lock, std::chrono::milliseconds(kSendIdleWaitMs),
                         [&] { return !m_sendQueue.empty() || thread->isStop() || m_closeWhenSent.load(); });
    if (m_sendQueue.empty() || thread->isStop())
        return false;
    item = std::move(m_sendQueue.front());
    m_sendQueue.pop_front();
    if (item.kind == ItemKind::Audio)
        --m_sendAudioCount;
    else
        --m_sendMessageCount;
    return true;
}

void TUTKClient::wakeSender()
{
    // Taking the lock orders the wake after a waiter's look at its predicate.
    { std::lock_guard<std::mutex> lock(m_sendLock); }
    m_sendReady.notify_all();
}

int TUTKClient::readAudio(VexaAudioPacket& packet)
{
    return m_audioQueue.pop(packet);
}

// Each receive waits up to 10 ms in the SDK, so the loop needs no sleep of its own and sees
// its stop flag, a stopped AV server or a closed session within one wait.
void TUTKClient::readMessages(RDThread* thread)
{
    std::vector<char> buffer(kIoCtrlBufferBytes);
    const double loginBy = RDThread::monotonicTime() + m_loginWithin;
    while (!thread->isStop() && m_sessionId.load() >= 0) {
        const int av = m_avIndex.load();
        if (av < 0)
            break;
        // Asked on every pass, so an app that came while authentication was off goes too once
        // it is switched on.
        if (m_loginWithin > 0 && m_loginRequired && !isAuthorized() && RDThread::monotonicTime() >= loginBy
            && m_loginRequired()) {
            RDLOG("P2P session %d: not logged in within %.0f s, closed", m_sessionId.load(), m_loginWithin);
            closeSdk();
            break;
        }
        unsigned int type = 0;
        const int result = avRecvIOCtrl(av, &type, buffer.data(), kIoCtrlBufferBytes, kReceiveWaitMs);
        if (result < 1) {
            if (isNothingReceived(result))
                continue;
            if (!thread->isStop())
                RDLOG("avRecvIOCtrl %d: P2P session %d ends", result, m_sessionId.load());
            closeSdk();
            break;
        }
        if (type != TUTKIoCtrlMessage) {
            RDLOG("Ignore IO-control type 0x%x (%d bytes)", type, result);
            continue;
        }
        VexaBuffer message(buffer.data(), result);
        notifyData(message);
        if (isCloseRequested()) {
            // The reply is queued by now: the sender closes the session once it has gone out.
            m_closeWhenSent = true;
            wakeSender();
            break;
        }
    }
}

// The SDK waits up to 10 ms for a frame; the extra 1-ms pause after "nothing" keeps the loop
// from spinning should a receive ever return at once.
void TUTKClient::readAudioFrames(RDThread* thread)
{
    std::vector<char> buffer(kAudioBufferBytes);
    char info[sizeof(LoopP2pFrameInfo)];
    unsigned int frameNumber = 0;
    while (!thread->isStop()) {
        const int av = m_avIndex.load();
        if (av < 0)
            break;
        const int result = avRecvAudioData(av, buffer.data(), kAudioBufferBytes, info,
                                           static_cast<int>(sizeof(info)), &frameNumber);
        if (result < 1) {
            if (isNothingReceived(result)) {
                thread->sleepUntilStop(1);
                continue;
            }
            // The app's end reaches both queues; the read thread closes the session once it
            // has handed on every message sent before it, which a close here would drop.
            if (result == LoopP2pPeerClosed)
                break;
            // -1006 after another thread closed the session is that close, logged there.
            if (!thread->isStop() && m_avIndex.load() >= 0)
                RDLOG("avRecvAudioData %d: P2P session %d ends", result, m_sessionId.load());
            closeSdk();
            break;
        }
        VexaAudioPacket packet;
        const VexaAudioPacket::HeaderStatus status =
            packet.parse(reinterpret_cast<const uint8_t*>(buffer.data()), result);
        if (status != VexaAudioPacket::kHeaderOk) {
            RDLOG("Drop an audio frame of %d bytes: %s", result, VexaAudioPacket::headerStatusText(status));
            continue;
        }
        if (m_audioQueue.push(std::move(packet)) > 0) {
            if (!m_audioOverflowLogged)
                RDLOG("remove first audio frame cause audio size over 100");
            m_audioOverflowLogged = true;
        } else {
            m_audioOverflowLogged = false;
        }
    }
}

void TUTKClient::sendItems(RDThread* thread)
{
    const LoopP2pFrameInfo info = [] {
        LoopP2pFrameInfo value;
        std::memset(&value, 0, sizeof(value));
        value.codec = TUTKFrameCodec;
        value.flags = TUTKFrameFlags;
        return value;
    }();
    while (!thread->isStop() && m_sessionId.load() >= 0) {
        const int av = m_avIndex.load();
        if (av < 0)
            break;
        if (m_overflowed.load()) {
            closeSdk();
            break;
        }
        Item item;
        if (!takeItem(thread, item)) {
            // Empty after the reply to the request that asked for the end.
            if (m_closeWhenSent.load() && !thread->isStop()) {
                RDLOG("P2P session %d: closed as its request was handled", m_sessionId.load());
                closeSdk();
                break;
            }
            continue;
        }
        // A failed send shuts the session down in the SDK; the readers then see the end.
        const char* bytes = reinterpret_cast<const char*>(item.bytes.bytes());
        if (item.kind == ItemKind::Message)
            avSendIOCtrl(av, TUTKIoCtrlMessage, bytes, item.bytes.size());
        else
            avSendAudioData(av, bytes, item.bytes.size(), &info, sizeof(info));
    }
}
