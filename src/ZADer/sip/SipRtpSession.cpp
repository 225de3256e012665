#include "SipRtpSession.h"

#include "RDFunctionThread.h"
#include "RDLog.h"
#include "RDThread.h"
#include "RtpInfoSessionSchedule.h"
#include "RtpLayerPacket.h"
#include "SipMedia.h"
#include "SipPacket.h"
#include "SipRtpSessionObserver.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cmath>

namespace {

// The dotted IPv4 address in host order; 0 for anything else and for 0.0.0.0 (no address).
uint32_t ipv4Of(const std::string& text)
{
    in_addr address{};
    if (inet_pton(AF_INET, text.c_str(), &address) != 1)
        return 0;
    return ntohl(address.s_addr);
}

std::string ipv4Text(uint32_t hostOrder)
{
    in_addr address{};
    address.s_addr = htonl(hostOrder);
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, text, sizeof(text));
    return text;
}

bool isPowerOfTwo(uint64_t n)
{
    return n != 0 && (n & (n - 1)) == 0;
}

} // namespace

SipRtpSession::SipRtpSession() : m_rtp(std::make_unique<RtpLayerSession>()) {}

SipRtpSession::~SipRtpSession()
{
    stop();
}

void SipRtpSession::setDataTimeout(double seconds)
{
    m_dataTimeout = seconds;
}

void SipRtpSession::setDurationLimit(double seconds)
{
    m_durationLimit = seconds;
}

void SipRtpSession::setObserver(SipRtpSessionObserver* observer)
{
    m_observer = observer;
}

uint32_t SipRtpSession::defaultIncrementFor(int clockRate, int channels, int packetTime)
{
    const int64_t base = static_cast<int64_t>(clockRate) * packetTime;
    return static_cast<uint32_t>((channels > 0 ? base * channels : base) / 1000);
}

int SipRtpSession::start(const std::shared_ptr<SipMedia>& medium, int packetTime)
{
    if (!medium || !medium->sendPayload || isRunning())
        return -1;
    const SipPayload& send = *medium->sendPayload;
    m_clockRate = send.clockRate > 0 ? send.clockRate : 8000;
    m_ptime = packetTime < 1 ? kDefaultPacketTime : packetTime;
    int created = 0;
    if (medium->boundRtp && medium->boundRtp->isOpen() && medium->boundRtp->localPort() == medium->localPort) {
        m_rtp = std::move(medium->boundRtp);
        created = m_rtp->setClock(m_clockRate, m_ptime / 1000.0) == 0 ? 0 : RtpLayerSession::kErrorInvalidArgument;
        if (created < 0)
            m_rtp->byeAndClose();
    } else {
        created = m_rtp->open(std::string(), medium->localPort, m_clockRate, 1, std::string(), m_ptime / 1000.0);
    }
    if (created < 0) {
        RDLOG("rtp session create %d", created);
        return -1;
    }
    m_payloadType = send.payloadType;
    m_mediaType = medium->type;
    m_defaultIncrement = defaultIncrementFor(m_clockRate, send.channels, m_ptime);
    {
        std::lock_guard<std::mutex> guard(m_latchMutex);
        m_describedAddress = ipv4Of(medium->remoteAddress);
        m_describedSeen = -1e9;
        m_latchedAddress = 0;
        m_latchedPort = 0;
        m_rejected = 0;
        setDestinationLocked(m_describedAddress, medium->remotePort);
        if (!m_describedAddress)
            RDLOG("rtp to %s:%d not sent until the remote side sends", medium->remoteAddress.c_str(),
                  medium->remotePort);
    }
    m_medium = medium;
    m_sendThread = new RDFunctionThread("SipRtpSendThread", [this](RDThread* thread) { doSend(thread); });
    m_recvThread = new RDFunctionThread("SipRtpRecvThread", [this](RDThread* thread) { doReceive(thread); });
    if (!m_sendThread->start() || !m_recvThread->start()) {
        RDLOG("rtp threads of port %d cannot start", medium->localPort);
        stop();
        return -1;
    }
    return 0;
}

void SipRtpSession::stop()
{
    if (m_recvThread) {
        m_recvThread->stop();
        m_recvThread->wait();
        delete m_recvThread;
        m_recvThread = nullptr;
    }
    if (m_sendThread) {
        m_sendThread->stop();
        m_sendThread->wait();
        delete m_sendThread;
        m_sendThread = nullptr;
    }
    // The BYE goes to the destinations present now.
    if (m_rtp->isOpen())
        m_rtp->byeAndClose();
    m_rtp->clearDestinations();
    m_medium.reset();
}

void SipRtpSession::setDestinationLocked(uint32_t address, int port)
{
    m_rtp->clearDestinations();
    m_targetAddress = 0;
    m_targetPort = 0;
    if (!address || port < 1 || port > 65534)
        return;
    if (m_rtp->addDestination(ipv4Text(address), port) == 0) {
        m_targetAddress = address;
        m_targetPort = port;
    }
}

int SipRtpSession::retarget(const std::string& ip, int port)
{
    const uint32_t address = ipv4Of(ip);
    std::lock_guard<std::mutex> guard(m_latchMutex);
    m_describedAddress = address;
    m_describedSeen = -1e9;
    m_latchedAddress = 0;
    m_latchedPort = 0;
    setDestinationLocked(address, port);
    return address && m_targetAddress == address ? 0 : -1;
}

std::string SipRtpSession::remoteTarget() const
{
    std::lock_guard<std::mutex> guard(m_latchMutex);
    if (!m_targetAddress)
        return std::string();
    return ipv4Text(m_targetAddress) + ":" + std::to_string(m_targetPort);
}

void SipRtpSession::doSend(RDThread* thread)
{
    // The channels' timetable, started without a lead: a frame is read only once it is due, so
    // the call's own audio leaves as soon as it is there. A frame more than the timetable's
    // lateness limit behind is sent at once and the rest follow at their pace, without a burst.
    RtpInfoSessionSchedule schedule(m_clockRate, 0.0);
    while (!thread->isStop()) {
        const double now = RDThread::tickTime();
        m_rtp->serviceRtcp(now);
        if (schedule.hasStarted() && schedule.nextDue() > now) {
            thread->sleepUntilStop(std::max(1, static_cast<int>(std::ceil((schedule.nextDue() - now) * 1000.0))));
            continue;
        }
        SipPacket* packet = m_observer ? m_observer->getPacket(this) : nullptr;
        if (!packet) {
            thread->sleepUntilStop(1);
            continue;
        }
        // A frame without a duration counts as one packet time, so that it cannot be sent in a
        // tight loop.
        const double duration = packet->duration > 0 ? packet->duration : m_ptime / 1000.0;
        uint32_t increment = 0;
        schedule.place(now, duration, &increment);
        sendFrame(packet->data, packet->size, packet->payloadType, increment);
        delete packet;
        if (m_durationLimit > 0 && schedule.sentDuration() >= m_durationLimit)
            m_observer->onDurationLimit(this);
    }
}

void SipRtpSession::sendFrame(const uint8_t* data, int size, int payloadType, uint32_t increment)
{
    if (!data || size <= 0)
        return;
    if (m_mediaType == SipMedia::Video) {
        SipH264::packetize(data, static_cast<size_t>(size), increment,
                           [this](const uint8_t* payload, size_t length, bool marker, uint32_t increment) {
                               m_rtp->sendPacket(payload, length, static_cast<uint8_t>(m_payloadType & 0x7F),
                                                marker, increment);
                           });
        return;
    }
    m_rtp->sendPacket(data, static_cast<size_t>(size), static_cast<uint8_t>(payloadType & 0x7F), false, increment);
}

void SipRtpSession::doReceive(RDThread* thread)
{
    double lastData = RDThread::tickTime();
    RtpLayerPacket packets[RtpLayerSession::kDefaultReceiveCount];
    while (!thread->isStop()) {
        const int count = m_rtp->receive(packets, RtpLayerSession::kDefaultReceiveCount);
        const double now = RDThread::tickTime();
        bool taken = false;
        for (int i = 0; i < count; ++i) {
            if (!accept(packets[i], now))
                continue;
            taken = true;
            deliver(packets[i]);
        }
        if (taken) {
            lastData = now;
            continue;
        }
        if (m_dataTimeout > 0 && now - lastData > m_dataTimeout) {
            if (m_observer)
                m_observer->onDataTimeout(this);
            lastData = now;
            continue;
        }
        if (count == 0)
            m_rtp->waitReadable(kReceiveWaitMs);
    }
}

bool SipRtpSession::accept(const RtpLayerPacket& packet, double now)
{
    std::lock_guard<std::mutex> guard(m_latchMutex);
    if (m_describedAddress && packet.sourceAddress == m_describedAddress) {
        m_describedSeen = now;
        return true;
    }
    if (m_latchedAddress && packet.sourceAddress == m_latchedAddress && packet.sourcePort == m_latchedPort) {
        m_latchedSeen = now;
        return true;
    }
    const bool describedQuiet = now - m_describedSeen >= kLatchQuiet;
    const bool latchedQuiet = !m_latchedAddress || now - m_latchedSeen >= kLatchQuiet;
    if (describedQuiet && latchedQuiet) {
        // The described address sends nothing (a caller behind NAT): take this source and answer it.
        m_latchedAddress = packet.sourceAddress;
        m_latchedPort = packet.sourcePort;
        m_latchedSeen = now;
        RDLOG("rtp latched to %s:%u", ipv4Text(m_latchedAddress).c_str(), unsigned(m_latchedPort));
        setDestinationLocked(m_latchedAddress, m_latchedPort);
        return true;
    }
    ++m_rejected;
    if (isPowerOfTwo(m_rejected))
        RDLOG("drop rtp from %s:%u, %llu dropped", ipv4Text(packet.sourceAddress).c_str(),
              unsigned(packet.sourcePort), static_cast<unsigned long long>(m_rejected));
    return false;
}

void SipRtpSession::deliver(const RtpLayerPacket& packet)
{
    if (!m_observer || packet.payloadLength == 0)
        return;
    const int length = static_cast<int>(packet.data.size());
    if (m_mediaType == SipMedia::Audio) {
        m_observer->onReadPacket(this, packet.data.data(), length, packet.payload(),
                                 static_cast<int>(packet.payloadLength), packet.timestamp);
    } else if (m_mediaType == SipMedia::Video) {
        if (m_assembler.push(packet.payload(), packet.payloadLength))
            m_observer->onReadPacket(this, packet.data.data(), length, m_assembler.unit(),
                                     static_cast<int>(m_assembler.unitSize()), packet.timestamp);
    }
}
