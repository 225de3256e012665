#include "QPcap.h"

#include "RDFunctionThread.h"
#include "RDLog.h"
#include "RDThread.h"

#include <chrono>
#include <cstdio>
#include <net/if.h>

QPcap::QPcap() = default;

QPcap::~QPcap()
{
    stop();
}

void QPcap::setNetwork(const RDSystemNetwork& network)
{
    m_network = network;
}

int QPcap::start()
{
    stop();
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        m_queue.clear();
    }
    m_thread = std::make_unique<RDFunctionThread>("QPcap", [this](RDThread* thread) { superviseLoop(thread); });
    m_running = true;
    m_thread->start();
    return 0;
}

void QPcap::stop()
{
    if (!m_thread)
        return;
    // Waits on other threads end now, not once the adapter is closed.
    m_running = false;
    m_thread->stop();
    m_thread->wait();
    m_thread.reset();
}

bool QPcap::send(const QByteArray& frame, double deadline)
{
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        if (int(m_queue.size()) >= kMaxQueuedFrames) {
            RDLOG("capture: send queue full, frame of %d bytes dropped", int(frame.size()));
            return false;
        }
        m_queue.push_back(QueuedFrame{frame, deadline});
    }
    m_queueWake.notify_one();
    return true;
}

int QPcap::queuedFrames() const
{
    std::lock_guard<std::mutex> lock(m_queueMutex);
    return int(m_queue.size());
}

QString QPcap::lastError() const
{
    std::lock_guard<std::mutex> lock(m_errorMutex);
    return m_lastError;
}

void QPcap::reportError(const QString& text)
{
    // The supervisor retries once a second for as long as the capture runs: one line per
    // distinct failure, not one per attempt.
    std::lock_guard<std::mutex> lock(m_errorMutex);
    if (text == m_lastError)
        return;
    m_lastError = text;
    RDLOG("capture on %s: %s", m_network.name().toUtf8().constData(), text.toUtf8().constData());
}

// Opens the adapter and keeps it open: an adapter that cannot be opened is tried again every
// kRetryMs; an error flag raised by the send or receive thread, or an interface that was
// removed and made again under the same name, closes everything and reopens at once.
void QPcap::superviseLoop(RDThread* thread)
{
    while (!thread->isStop()) {
        if (!m_handle) {
            m_error = 0;
            if (!open()) {
                close();
                thread->sleepUntilStop(kRetryMs);
                continue;
            }
            // A stop wakes the sender from its wait for a frame, and breaks the capture loop so
            // that the receiver ends without waiting for one.
            m_sendThread = std::make_unique<RDFunctionThread>(
                "QPcapSend", [this](RDThread* thread) { sendLoop(thread); }, [this] { wakeSender(); });
            m_sendThread->start();
            m_recvThread = std::make_unique<RDFunctionThread>(
                "QPcapRecv", [this](RDThread* thread) { recvLoop(thread); }, [this] { breakLoop(); });
            m_recvThread->start();
            m_open = true;
        }
        if (m_error || interfaceChanged()) {
            close();
            m_error = 0;
            continue;
        }
        thread->sleepUntilStop(kSuperviseMs);
    }
    close();
}

bool QPcap::open()
{
    const QByteArray name = m_network.name().toUtf8();
    char errors[PCAP_ERRBUF_SIZE] = {};
    pcap_t* handle = pcap_create(name.constData(), errors);
    if (!handle) {
        reportError(QString::fromLocal8Bit(errors));
        return false;
    }
    pcap_set_snaplen(handle, kSnapLength);
    pcap_set_buffer_size(handle, kBufferBytes);
    pcap_set_promisc(handle, 1);
    pcap_set_timeout(handle, kReadTimeoutMs);
    // Without immediate mode Linux hands frames over in blocks, replies arriving up to a
    // second late.
    pcap_set_immediate_mode(handle, 1);
    const int status = pcap_activate(handle);
    if (status < 0) {
        QString text = QString::fromLocal8Bit(pcap_geterr(handle));
        if (text.isEmpty())
            text = QString::fromLocal8Bit(pcap_statustostr(status));
        reportError(text);
        pcap_close(handle);
        return false;
    }
    // Linux also captures the frames this host sends (its own requests, RTP multicast): only
    // incoming frames can be replies.
    pcap_setdirection(handle, PCAP_D_IN);
    // The filter goes on before the handle counts as open: setting it discards what was
    // captured so far, which would lose a reply to a request sent just after the open.
    if (!setFilter(handle)) {
        pcap_close(handle);
        return false;
    }
    m_handle = handle;
    m_interfaceIndex = if_nametoindex(name.constData());
    {
        std::lock_guard<std::mutex> lock(m_errorMutex);
        RDLOG("capture on %s: open", name.constData());
        m_lastError.clear();
    }
    return true;
}

bool QPcap::setFilter(pcap_t* handle)
{
    bpf_u_int32 netmask = 0xffffff00;
    int a = 0, b = 0, c = 0, d = 0;
    if (!m_network.ip().isEmpty() &&
        std::sscanf(m_network.netmask().toUtf8().constData(), "%d.%d.%d.%d", &a, &b, &c, &d) == 4) {
        netmask = (bpf_u_int32(a & 0xff) << 24) | (bpf_u_int32(b & 0xff) << 16) | (bpf_u_int32(c & 0xff) << 8) |
                  bpf_u_int32(d & 0xff);
    }
    bpf_program program{};
    if (pcap_compile(handle, &program, m_filter.c_str(), 1, netmask) < 0) {
        std::fprintf(stderr, "[ERROR] Unable to compile the packet filter. Check the syntax.\n");
        reportError(QString::fromLocal8Bit(pcap_geterr(handle)));
        return false;
    }
    const int set = pcap_setfilter(handle, &program);
    pcap_freecode(&program);
    if (set < 0) {
        reportError(QString::fromLocal8Bit(pcap_geterr(handle)));
        return false;
    }
    return true;
}

void QPcap::close()
{
    m_open = false;
    if (m_sendThread) {
        m_sendThread->stop();
        m_sendThread->wait();
        m_sendThread.reset();
    }
    if (m_recvThread) {
        m_recvThread->stop();
        m_recvThread->wait();
        m_recvThread.reset();
    }
    if (m_handle) {
        pcap_close(m_handle);
        m_handle = nullptr;
    }
}

bool QPcap::interfaceChanged() const
{
    // A deleted interface does not always end the capture loop; one made again under the same
    // name gets a new index and the old handle would never see a frame.
    const QByteArray name = m_network.name().toUtf8();
    return if_nametoindex(name.constData()) != m_interfaceIndex;
}

void QPcap::wakeSender()
{
    { std::lock_guard<std::mutex> lock(m_queueMutex); }
    m_queueWake.notify_all();
}

// Frames go out back to back while the queue has any; an empty queue waits for send() to
// wake it. A frame whose command has already given up is dropped instead of being sent.
void QPcap::sendLoop(RDThread* thread)
{
    while (!thread->isStop()) {
        QueuedFrame frame;
        {
            std::unique_lock<std::mutex> lock(m_queueMutex);
            m_queueWake.wait_for(lock, std::chrono::milliseconds(kSendIdleMs),
                                 [&] { return !m_queue.empty() || thread->isStop(); });
            if (thread->isStop() || m_queue.empty())
                continue;
            frame = std::move(m_queue.front());
            m_queue.pop_front();
        }
        if (frame.deadline > 0 && RDThread::tickTime() > frame.deadline) {
            RDLOG("capture: frame of %d bytes dropped, its deadline passed", int(frame.bytes.size()));
            continue;
        }
        const int result = pcap_sendpacket(m_handle, reinterpret_cast<const u_char*>(frame.bytes.constData()),
                                           frame.bytes.size());
        if (result < 0) {
            reportError(QString::fromLocal8Bit(pcap_geterr(m_handle)));
            m_error = 1;
            return;
        }
    }
}

void QPcap::recvLoop(RDThread* thread)
{
    const int result = pcap_loop(m_handle, -1, &QPcap::packetHandler, reinterpret_cast<u_char*>(this));
    // -2 is our own pcap_breakloop; -1 is a failing adapter, which only a reopen mends.
    if (result == PCAP_ERROR && !thread->isStop()) {
        reportError(QString::fromLocal8Bit(pcap_geterr(m_handle)));
        m_error = 1;
    }
}

void QPcap::breakLoop()
{
    if (m_handle)
        pcap_breakloop(m_handle);
}

void QPcap::packetHandler(u_char* user, const pcap_pkthdr* header, const u_char* bytes)
{
    auto* capture = reinterpret_cast<QPcap*>(user);
    if (header->caplen > unsigned(kMaxFrameBytes) || header->len > unsigned(kMaxFrameBytes))
        return;
    QPcapObserver* observer = capture->m_observer.load();
    if (!observer)
        return;
    observer->onPacket(capture, QByteArray(reinterpret_cast<const char*>(bytes), int(header->caplen)));
}
