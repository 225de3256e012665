#include "ZAVeze.h"

#include "RDLog.h"
#include "RDThread.h"
#include "ZAVezeFrame.h"

#include <QJsonObject>
#include <QList>
#include <QMetaObject>
#include <QStringList>

#include <chrono>
#include <climits>
#include <limits>

namespace {

const QByteArray kBroadcastMac(6, char(0xff));
const QByteArray kBroadcastIp(4, char(0xff));

} // namespace

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

int ZAVeze::findDevice(const QVector<ZAVezeDevice>& devices, const QByteArray& mac, const QByteArray& ip)
{
    for (int i = 0; i < devices.size(); ++i)
        if (devices[i].mac == mac && devices[i].ip == ip)
            return i;
    return -1;
}

void ZAVeze::waitForReplies(int ms)
{
    std::unique_lock<std::mutex> lock(m_replyMutex);
    m_replyArrived.wait_for(lock, std::chrono::milliseconds(ms), [this] { return !m_replies.empty() || m_cancelled; });
}

// The devices answer the three broadcasts in any order and at any time within the window, so
// the search collects for the whole window: search replies list a device (once), settings
// replies fill its lists, and settings that come before their device's search reply are kept
// and applied at the end.
int ZAVeze::search(QVector<ZAVezeDevice>& devices, double seconds)
{
    std::lock_guard<std::mutex> job(m_jobMutex);
    clearReplies();
    if (m_cancelled) {
        RDLOG("device tool: search cancelled");
        return devices.size();
    }
    if (!m_capture.isOpen()) {
        RDLOG("device tool: search: the adapter is not open");
        return -1;
    }
    const double now = RDThread::tickTime();
    const double deadline = seconds > 0 ? now + seconds : std::numeric_limits<double>::max();
    const double frameDeadline = seconds > 0 ? deadline : 0;
    const int searchId = nextId();
    // "user" and "alarmTest" exactly as the devices know them.
    sendJson(kBroadcastMac, kBroadcastIp,
             QJsonObject{{"id", searchId}, {"method", "search"}, {"user", "Windows Ravlix"}, {"alarmTest", "enable"}},
             frameDeadline);
    const int sipId = nextId();
    const int rtpId = nextId();
    sendJson(kBroadcastMac, kBroadcastIp, QJsonObject{{"id", sipId}, {"method", "GetSipSettings"}}, frameDeadline);
    sendJson(kBroadcastMac, kBroadcastIp, QJsonObject{{"id", rtpId}, {"method", "GetRtpSettings"}}, frameDeadline);

    QList<ZAVezeReply> early;
    while (!m_cancelled && m_capture.isRunning() && RDThread::tickTime() < deadline) {
        ZAVezeReply reply;
        if (takeReply(reply) != 0) {
            waitForReplies(1);
            continue;
        }
        const int id = reply.id();
        const QString method = reply.method();
        if (id == searchId && method == QLatin1String("search")) {
            if (findDevice(devices, reply.senderMac, reply.senderIp) >= 0)
                continue; // the same device answered twice
            if (devices.size() >= kMaxDevices) {
                RDLOG("device tool: search: more than %d devices, the rest are left out", kMaxDevices);
                continue;
            }
            devices.append(ZAVezeDevice::fromReply(reply));
        } else if ((id == sipId && method == QLatin1String("GetSipSettings")) ||
                   (id == rtpId && method == QLatin1String("GetRtpSettings"))) {
            if (!reply.isSuccess())
                continue;
            const int index = findDevice(devices, reply.senderMac, reply.senderIp);
            if (index < 0) {
                if (early.size() < 2 * kMaxDevices)
                    early.append(reply);
            } else if (id == sipId) {
                devices[index].parseSipSettings(reply);
            } else {
                devices[index].parseRtpSettings(reply);
            }
        }
    }
    applyEarlySettings(devices, early, sipId);
    return devices.size();
}

void ZAVeze::applyEarlySettings(QVector<ZAVezeDevice>& devices, const QList<ZAVezeReply>& early, int sipId)
{
    for (const ZAVezeReply& reply : early) {
        const int index = findDevice(devices, reply.senderMac, reply.senderIp);
        if (index < 0)
            continue;
        if (reply.id() == sipId)
            devices[index].parseSipSettings(reply);
        else
            devices[index].parseRtpSettings(reply);
    }
}

int ZAVeze::playVolume(const ZAVezeDevice& device)
{
    return request(device.mac, device.ip, QStringLiteral("PlayVolume"), QJsonObject());
}

int ZAVeze::reboot(const ZAVezeDevice& device)
{
    return request(device.mac, device.ip, QStringLiteral("reboot"), QJsonObject());
}

int ZAVeze::resetDefault(const ZAVezeDevice& device)
{
    return request(device.mac, device.ip, QStringLiteral("ResetDefault"), QJsonObject());
}

int ZAVeze::setAccountPassword(const ZAVezeDevice& device, const QString& account, const QString& password)
{
    return request(device.mac, device.ip, QStringLiteral("SetAccountPassword"),
                   QJsonObject{{"account", account}, {"password", password}});
}

int ZAVeze::setIpDhcp(const ZAVezeDevice& device)
{
    return request(device.mac, device.ip, QStringLiteral("SetIp"), QJsonObject{{"IpMode", "dhcp"}});
}

int ZAVeze::setIpStatic(const ZAVezeDevice& device, const QString& ip, const QString& netmask, const QString& gateway,
                        const QString& dns1, const QString& dns2)
{
    return request(device.mac, device.ip, QStringLiteral("SetIp"),
                   QJsonObject{{"IpMode", "static"},
                               {"ip", ip},
                               {"netmask", netmask},
                               {"gateway", gateway},
                               {"dns1", dns1},
                               {"dns2", dns2}});
}

int ZAVeze::setMac(const ZAVezeDevice& device, const QString& mac)
{
    return request(device.mac, device.ip, QStringLiteral("SetMac"), QJsonObject{{"mac", mac}});
}

int ZAVeze::setName(const ZAVezeDevice& device, const QString& name)
{
    return request(device.mac, device.ip, QStringLiteral("SetName"), QJsonObject{{"name", name}});
}

int ZAVeze::setRtpSettings(const ZAVezeDevice& device, const QVector<QString>& destinations)
{
    if (destinations.size() > ZAVezeDevice::kMaxRtp) {
        RDLOG("device tool: SetRtpSettings to %s: %d destinations refused, a device takes %d",
              ZAVezeFrame::macText(device.mac).toUtf8().constData(), int(destinations.size()),
              ZAVezeDevice::kMaxRtp);
        return -1;
    }
    QJsonObject members;
    for (int i = 0; i < destinations.size(); ++i) {
        const QStringList parts = destinations[i].split(QLatin1Char(':'));
        members.insert(QStringLiteral("rtp%1").arg(i), QJsonObject{{"enable", 1},
                                                                   {"rtpIp", parts.value(0)},
                                                                   {"rtpPort", parts.value(1)}});
    }
    return request(device.mac, device.ip, QStringLiteral("SetRtpSettings"), members);
}

int ZAVeze::setSipSettings(const ZAVezeDevice& device, int line, const ZAVezeSipInfo& sip)
{
    if (line != 0 && line != 1) {
        RDLOG("device tool: SetSipSettings to %s: line %d refused, a device has lines 0 and 1",
              ZAVezeFrame::macText(device.mac).toUtf8().constData(), line);
        return -1;
    }
    const QJsonObject object{{"serverHost", sip.serverHost},   {"serverPort", sip.serverPort},
                             {"account", sip.account},         {"authName", sip.authName},
                             {"password", sip.password},       {"displayName", sip.displayName},
                             {"expires", sip.expires},         {"proxyStatus", sip.proxyStatus},
                             {"proxyHost", sip.proxyHost},     {"proxyPort", sip.proxyPort}};
    return request(device.mac, device.ip, QStringLiteral("SetSipSettings"),
                   QJsonObject{{QStringLiteral("sip%1").arg(line), object}});
}

int ZAVeze::setDeviceVolume(const ZAVezeDevice& device, int micVolume, int outVolume, int autoMute)
{
    return request(device.mac, device.ip, QStringLiteral("SetDeviceVolume"),
                   QJsonObject{{"micVolume", micVolume}, {"outVolume", outVolume}, {"autoMute", autoMute}});
}
