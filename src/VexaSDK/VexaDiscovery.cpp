#include "VexaDiscovery.h"

#include "RDFunctionThread.h"
#include "RDIpv4.h"
#include "RDJsonParser.h"
#include "RDLog.h"
#include "RDThread.h"
#include "RDUdpSocket.h"
#include "VexaCode.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <vector>

namespace {

const char* const kAnyAddress = "0.0.0.0";
const char* const kAllOnes = "255.255.255.255";
// Waits are cut into slices of this length so that a stop is seen even if the shutdown that
// wakes them were missed.
constexpr int kWaitSliceUs = 500 * 1000;
constexpr uint32_t kDefaultNetmask = 0xffffff00u;

} // namespace

VexaDiscovery::VexaDiscovery(InfoSource source, int requestPort, int replyPort)
    : m_source(std::move(source)), m_requestPort(requestPort), m_replyPort(replyPort)
{
}

VexaDiscovery::~VexaDiscovery()
{
    stop();
}

void VexaDiscovery::setAddress(const std::string& address, const std::string& netmask)
{
    m_address = address;
    m_netmask = netmask;
}

bool VexaDiscovery::start()
{
    stop();
    if (!openSockets()) {
        closeSockets();
        return false;
    }
    m_destination = broadcastAddress(m_address, m_netmask);
    RDUdpSocket* socket = m_recvSocket.get();
    m_thread = std::make_unique<RDFunctionThread>(
        "Vexa Discovery", [this](RDThread* thread) { run(thread); }, [socket]() { socket->shutdown(); });
    if (!m_thread->start()) {
        m_thread.reset();
        closeSockets();
        return false;
    }
    RDLOG("Discovery on port %d answers to %s:%d", m_requestPort, m_destination.c_str(), m_replyPort);
    return true;
}

void VexaDiscovery::stop()
{
    if (m_thread) {
        m_thread->stop();
        m_thread->wait();
        m_thread.reset();
    }
    closeSockets();
}

bool VexaDiscovery::openSockets()
{
    m_recvSocket = std::make_unique<RDUdpSocket>();
    m_recvSocket->setReuseAddr(1);
    m_recvSocket->setBroadcast();
    m_recvSocket->setNonBlocking();
    if (m_recvSocket->bind(RDSocketAddress(kAnyAddress, m_requestPort)) < 0) {
        RDLOG("Discovery: cannot bind port %d (error %d)", m_requestPort, m_recvSocket->lastError());
        return false;
    }
    m_sendSocket = std::make_unique<RDUdpSocket>();
    m_sendSocket->setNonBlocking();
    m_sendSocket->setBroadcast();
    // Leaving from the adapter's own address keeps the reply on that adapter.
    if (!m_address.empty() && m_sendSocket->bind(RDSocketAddress(m_address, 0)) < 0)
        RDLOG("Discovery: cannot send from %s (error %d)", m_address.c_str(), m_sendSocket->lastError());
    return true;
}

void VexaDiscovery::closeSockets()
{
    if (m_sendSocket) {
        m_sendSocket->close();
        m_sendSocket.reset();
    }
    if (m_recvSocket) {
        m_recvSocket->close();
        m_recvSocket.reset();
    }
}

void VexaDiscovery::run(RDThread* thread)
{
    std::vector<char> buffer(kReceiveBufferSize);
    const double interval = kReplyIntervalMs / 1000.0;
    double nextReply = 0;
    bool pending = false;
    // Sleeps in poll() until a datagram comes, or until the end of the reply window when a
    // request waits in it; a request outside a window is answered at once and opens one.
    while (!thread->isStop() && m_recvSocket->isValid()) {
        const double now = RDThread::monotonicTime();
        if (pending && now >= nextReply) {
            pending = false;
            broadcast();
            nextReply = RDThread::monotonicTime() + interval;
            continue;
        }
        const int waitUs = pending ? std::min(kWaitSliceUs, static_cast<int>((nextReply - now) * 1e6) + 1) : kWaitSliceUs;
        if (m_recvSocket->waitReadable(0, waitUs) <= 0)
            continue;
        RDSocketAddress from;
        const int n = m_recvSocket->recvFrom(from, buffer.data(), kReceiveBufferSize - 1);
        if (n < 1)
            continue;
        buffer[static_cast<size_t>(n)] = '\0';
        RDLOG("Recv %s", buffer.data());
        if (!isRequest(buffer.data(), n))
            continue;
        if (RDThread::monotonicTime() >= nextReply) {
            broadcast();
            nextReply = RDThread::monotonicTime() + interval;
        } else {
            pending = true;
        }
    }
}

bool VexaDiscovery::isRequest(const char* data, int length)
{
    if (length < 0 || RDJsonParser::parseObject(data, size_t(length), nullptr) != RDJsonParser::Status::Ok) {
        RDLOG("Discovery: not a JSON object, ignored");
        return false;
    }
    return true;
}

void VexaDiscovery::broadcast()
{
    if (!m_sendSocket)
        return;
    const QByteArray json = reply(m_source ? m_source() : VexaDiscoveryInfo());
    const int sent = m_sendSocket->sendTo(RDSocketAddress(m_destination, m_replyPort), json.constData(), json.size());
    if (sent != json.size()) {
        RDLOG("Discovery: reply to %s:%d failed (error %d)", m_destination.c_str(), m_replyPort,
              m_sendSocket->lastError());
        return;
    }
    m_replies.fetch_add(1);
}

QByteArray VexaDiscovery::reply(const VexaDiscoveryInfo& info)
{
    QJsonObject object;
    if (info.apiEnable) {
        const int port = info.apiPort > 0 ? info.apiPort : kDefaultApiPort;
        object.insert(QStringLiteral("code"), VexaCode::encode(QStringLiteral("%1:%2").arg(info.ip).arg(port)));
    } else if (info.vexaCodeEnable && !info.vexaCode.isEmpty()) {
        object.insert(QStringLiteral("code"), info.vexaCode);
    }
    object.insert(QStringLiteral("uid"), info.uid);
    object.insert(QStringLiteral("name"), info.name);
    object.insert(QStringLiteral("type"), QStringLiteral("Zv"));
    object.insert(QStringLiteral("version"), info.version);
    object.insert(QStringLiteral("result"), 0);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::string VexaDiscovery::broadcastAddress(const std::string& address, const std::string& netmask)
{
    uint32_t host = 0;
    if (!parseIpv4(address, &host))
        return kAllOnes;
    uint32_t mask = 0;
    if (!parseIpv4(netmask, &mask))
        mask = kDefaultNetmask;
    return ipv4Text(host | ~mask);
}
