#include "ZAVeze.h"

#include "RDLog.h"
#include "RDThread.h"
#include "ZAVezeFrame.h"

#include <QMetaObject>

#include <chrono>
#include <climits>
#include <limits>

ZAVeze::ZAVeze()
{
    m_capture.setObserver(this);
    m_capture.setFilter(ZAVezeFrame::captureFilter());
}

ZAVeze::~ZAVeze()
{
    stop();
    m_capture.setObserver(nullptr);
}

void ZAVeze::setNetwork(const RDSystemNetwork& network)
{
    m_network = network;
}

void ZAVeze::start()
{
    if (m_network.mac().size() != 6 || m_network.ipBytes().size() != 4)
        RDLOG("device tool: adapter \"%s\" has no Ethernet address or no IPv4 address; no request can be sent",
              m_network.name().toUtf8().constData());
    m_droppedFrames = 0;
    m_capture.setNetwork(m_network);
    m_capture.start();
}

void ZAVeze::stop()
{
    if (m_capture.isRunning())
        m_capture.stop();
    m_replyArrived.notify_all();
}

void ZAVeze::beginJob()
{
    m_cancelled = false;
}

void ZAVeze::cancel()
{
    {
        std::lock_guard<std::mutex> lock(m_replyMutex);
        m_cancelled = true;
    }
    m_replyArrived.notify_all();
}

int ZAVeze::nextId()
{
    quint32 current = m_counter.load();
    quint32 next = 0;
    do {
        next = current >= quint32(INT_MAX) ? 1 : current + 1;
    } while (!m_counter.compare_exchange_weak(current, next));
    return int(next);
}

bool ZAVeze::sendJson(const QByteArray& mac, const QByteArray& ip, const QJsonObject& json, double deadline)
{
    const QByteArray text = ZAVezeFrame::jsonText(json);
    if (text.size() > ZAVezeFrame::kMaxJsonBytes) {
        RDLOG("device tool: request of %d bytes refused, at most %d fit a frame", int(text.size()),
              ZAVezeFrame::kMaxJsonBytes);
        return false;
    }
    if (m_network.mac().size() != 6 || m_network.ipBytes().size() != 4 || mac.size() != 6 || ip.size() != 4) {
        RDLOG("device tool: request refused, the adapter or the device lacks an Ethernet or IPv4 address");
        return false;
    }
    RDLOG("send %s", ZAVezeFrame::logText(json).constData());
    return m_capture.send(ZAVezeFrame::build(mac, ip, m_network.mac(), m_network.ipBytes(), text), deadline);
}

void ZAVeze::onPacket(QPcap* capture, const QByteArray& frame)
{
    (void)capture;
    if (ZAVezeFrame::checkHeader(frame) != ZAVezeFrame::Check::Accepted)
        return;
    if (m_pendingFrames.fetch_add(1) >= kMaxPendingFrames) {
        m_pendingFrames.fetch_sub(1);
        if (m_droppedFrames.fetch_add(1) == 0)
            RDLOG("device tool: frames arrive faster than they are read; dropping");
        return;
    }
    if (!QMetaObject::invokeMethod(this, "onRecvMessage", Qt::QueuedConnection, Q_ARG(QByteArray, frame))) {
        m_pendingFrames.fetch_sub(1);
        RDLOG("device tool: a received frame could not be passed on");
    }
}

void ZAVeze::onRecvMessage(QByteArray bytes)
{
    m_pendingFrames.fetch_sub(1);
    ZAVezeReply reply;
    if (ZAVezeFrame::parseReply(bytes, m_network.mac(), m_network.ipBytes(), reply) != ZAVezeFrame::Check::Accepted)
        return;
    RDLOG("%s", ZAVezeFrame::logText(reply.json).constData());
    {
        std::lock_guard<std::mutex> lock(m_replyMutex);
        m_replies.push_back(std::move(reply));
        if (int(m_replies.size()) > kMaxReplies)
            m_replies.pop_front();
    }
    m_replyArrived.notify_all();
}

int ZAVeze::takeReply(ZAVezeReply& out)
{
    std::lock_guard<std::mutex> lock(m_replyMutex);
    if (m_replies.empty())
        return -1;
    out = std::move(m_replies.front());
    m_replies.pop_front();
    return 0;
}

void ZAVeze::clearReplies()
{
    std::lock_guard<std::mutex> lock(m_replyMutex);
    m_replies.clear();
}

int ZAVeze::replyCount() const
{
    std::lock_guard<std::mutex> lock(m_replyMutex);
    return int(m_replies.size());
}

// Every reply that waits is looked at in one pass, so a backlog of foreign replies cannot hide
// the right one past the deadline; the wait sleeps only while the list is empty, and a new
// reply, a cancel or a stop wakes it.
int ZAVeze::waitReply(int id, const QString& method, ZAVezeReply& out, double seconds)
{
    const double deadline = seconds > 0 ? RDThread::tickTime() + seconds : std::numeric_limits<double>::max();
    while (m_capture.isRunning() && !m_cancelled) {
        std::unique_lock<std::mutex> lock(m_replyMutex);
        while (!m_replies.empty()) {
            ZAVezeReply reply = std::move(m_replies.front());
            m_replies.pop_front();
            if (reply.matches(id, method)) {
                out = std::move(reply);
                return 0;
            }
        }
        if (RDThread::tickTime() >= deadline)
            return -1;
        m_replyArrived.wait_for(lock, std::chrono::milliseconds(1),
                                [this] { return !m_replies.empty() || m_cancelled; });
    }
    return -1;
}

int ZAVeze::request(const QByteArray& mac, const QByteArray& ip, const QString& method, const QJsonObject& members,
                    ZAVezeReply* reply, double seconds)
{
    std::lock_guard<std::mutex> job(m_jobMutex);
    const QByteArray device = ZAVezeFrame::macText(mac).toUtf8();
    const QByteArray name = method.toUtf8();
    clearReplies();
    if (m_cancelled) {
        RDLOG("device tool: %s to %s: cancelled", name.constData(), device.constData());
        return -1;
    }
    if (!m_capture.isOpen()) {
        RDLOG("device tool: %s to %s: the adapter is not open", name.constData(), device.constData());
        return -1;
    }
    const int id = nextId();
    QJsonObject json = members;
    json.insert(QStringLiteral("id"), id);
    json.insert(QStringLiteral("method"), method);
    if (!sendJson(mac, ip, json, RDThread::tickTime() + seconds)) {
        RDLOG("device tool: %s to %s: refused", name.constData(), device.constData());
        return -1;
    }
    ZAVezeReply answer;
    if (waitReply(id, method, answer, seconds) != 0) {
        const char* cause = m_cancelled ? "cancelled" : !m_capture.isRunning() ? "capture stopped" : "no reply";
        RDLOG("device tool: %s to %s: %s", name.constData(), device.constData(), cause);
        return -1;
    }
    if (reply)
        *reply = answer;
    if (!answer.isSuccess()) {
        RDLOG("device tool: %s to %s: result \"%s\"", name.constData(), device.constData(),
              ZAVezeReply::textMember(answer.json, QStringLiteral("result")).toUtf8().constData());
        return -1;
    }
    return 0;
}
