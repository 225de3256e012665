#include "RtpInfoSession.h"

#include "CoreDeviceCapture.h"
#include "RDDecimal.h"
#include "RDIpv4.h"
#include "RDLog.h"
#include "RTPAudioPacket.h"
#include "RTPAudioReader.h"
#include "RTPAudioWriter.h"
#include "RTPFileAudioReader.h"
#include "RTPFilesAudioReader.h"
#include "RTPHttpWriter.h"
#include "RTPSDKReader.h"
#include "RTPSDKWriter.h"
#include "RTPStreamAudioReader.h"
#include "RtpInfoSessionObserver.h"
#include "RtpInfoSessionSchedule.h"
#include "RtpInfoSessionSendThread.h"
#include "RtpCodec.h"
#include "RtpLayerSession.h"
#include "RtpCallSources.h"
#include "RtpPortManager.h"
#include "RDThread.h"

#include <QStringList>

#include <arpa/inet.h>

const int RtpInfoSession::kSourceOrder[kSlotCount] = {RtpInfo::kSourceSip,      RtpInfo::kSourceSdk,
                                                      RtpInfo::kSourcePlaylist, RtpInfo::kSourceDevice,
                                                      RtpInfo::kSourceStream,   RtpInfo::kSourceBell};

namespace {

constexpr int kMulticastTtl = 255;
constexpr double kPreTransmissionDelay = 0.02;

} // namespace

RtpInfoSession::RtpInfoSession() = default;

RtpInfoSession::~RtpInfoSession()
{
    stopAll(0);
}

int RtpInfoSession::slotIndex(int source)
{
    for (int i = 0; i < kSlotCount; ++i) {
        if (kSourceOrder[i] == source)
            return i;
    }
    return -1;
}

int RtpInfoSession::codecPayloadType(int codec)
{
    const RtpCodec* row = RtpCodec::byIndex(codec);
    return row ? row->payloadType : -1;
}

RtpInfoSession::Codec RtpInfoSession::codec(int codec)
{
    const RtpCodec* row = RtpCodec::byIndex(codec);
    if (!row)
        row = RtpCodec::byIndex(RtpCodec::kIndexPcmu);
    return {row->payloadType, row->clockRate, row->channels};
}

void RtpInfoSession::setRtpInfo(const RtpInfo& info)
{
    std::lock_guard<std::mutex> lock(m_infoMutex);
    m_info = info;
}

RtpInfo RtpInfoSession::rtpInfo() const
{
    std::lock_guard<std::mutex> lock(m_infoMutex);
    return m_info;
}

void RtpInfoSession::setNetwork(const RDSystemNetwork& network)
{
    std::lock_guard<std::mutex> lock(m_infoMutex);
    m_network = network;
}

void RtpInfoSession::setObserver(RtpInfoSessionObserver* observer)
{
    m_observer.store(observer, std::memory_order_release);
}

void RtpInfoSession::setTalkClient(const std::shared_ptr<VexaClient>& client)
{
    std::lock_guard<std::mutex> lock(m_infoMutex);
    m_talkClient = client;
}

void RtpInfoSession::lock()
{
    m_mutex.lock();
}

void RtpInfoSession::unlock()
{
    m_mutex.unlock();
}

RTPAudioReader* RtpInfoSession::createSource(int kind, const RtpInfo& info)
{
    switch (kind) {
    case RtpInfo::kSourceSdk: {
        std::shared_ptr<VexaClient> client;
        {
            std::lock_guard<std::mutex> lock(m_infoMutex);
            client = m_talkClient;
        }
        // Without a talk client there is nothing to read.
        return client ? createTalkSource(client) : nullptr;
    }
    case RtpInfo::kSourceDevice: {
        auto* capture = new CoreDeviceCapture;
        capture->setDevice(info.deviceId, info.deviceName, info.deviceType);
        return capture;
    }
    case RtpInfo::kSourcePlaylist: {
        auto* playlist = new RTPFilesAudioReader;
        playlist->setObserver(this);
        playlist->setPlaylist(QStringList(info.playlist.begin(), info.playlist.end()));
        playlist->setRepeatCount(-1);
        return playlist;
    }
    case RtpInfo::kSourceBell: {
        auto* bell = new RTPFileAudioReader;
        bell->setObserver(this);
        bell->setPath(info.bellPath);
        switch (info.bellLoopType) {
        case RtpInfo::kBellLoops:
            bell->setRepeatCount(info.bellLoops);
            bell->setTimeLimit(0);
            break;
        case RtpInfo::kBellForDuration:
            bell->setRepeatCount(-1);
            bell->setTimeLimit(info.bellDuration);
            break;
        default: // RtpInfo::kBellOnce
            bell->setRepeatCount(0);
            bell->setTimeLimit(0);
            break;
        }
        return bell;
    }
    case RtpInfo::kSourceStream: {
        auto* stream = new RTPStreamAudioReader;
        stream->setObserver(this);
        stream->setUrl(info.streamUrl);
        return stream;
    }
    default:
        return nullptr;
    }
}

RTPAudioReader* RtpInfoSession::createTalkSource(const std::shared_ptr<VexaClient>& client)
{
    auto* talk = new RTPSDKReader;
    talk->setClient(client);
    return talk;
}

void RtpInfoSession::setCallSources(RtpCallSources* sources)
{
    m_callSources.store(sources);
}

int RtpInfoSession::findSipSource(const RtpInfo& info, std::shared_ptr<RTPAudioReader>* source)
{
    RtpCallSources* sources = m_callSources.load();
    return sources ? sources->findCallSource(info, source) : -1;
}

void RtpInfoSession::endSipCalls(const RtpInfo& info)
{
    if (RtpCallSources* sources = m_callSources.load())
        sources->endCalls(info);
}

int RtpInfoSession::startSource(int source, int startedType)
{
    const int index = slotIndex(source);
    const RtpInfo info = rtpInfo();
    // A loop that ended by itself is not running: it is wound up (its BYE sent, its sinks
    // closed) outside the lock, and this start begins a new one.
    Detached ended;
    bool present = false;
    int payloadType = -1;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_sendThread && m_sendThread->hasEnded())
            ended = detachSend(false);
        present = index >= 0 && (m_slots[index].reader || m_slots[index].callSource);
        payloadType = sourcePayloadType(info);
    }
    finishSend(ended);

    // Sources start outside the lock: opening a sound card takes a while, and the send loop of
    // the channel's other sources must not wait for it.
    RTPAudioReader* reader = nullptr;
    if (index < 0) {
        RDLOG("source %d is not a channel source", source);
    } else if (!present && source != RtpInfo::kSourceSip) {
        reader = createSource(source, info);
        if (reader)
            reader->setPayloadType(payloadType);
        if (startReader(reader))
            reader->setStartedType(startedType);
        else
            reader = nullptr;
    }

    int result = -1;
    Detached endedMeanwhile;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (index >= 0 && !present) {
            Slot& slot = m_slots[index];
            if (slot.reader || slot.callSource) {
                // Another start filled the slot meanwhile; it stays.
            } else if (source == RtpInfo::kSourceSip) {
                result = attachSipSource(slot, info, startedType);
            } else if (reader) {
                slot.reader = reader;
                reader = nullptr;
                result = 0;
            }
        }
        // The loop may have ended between the two steps (its last source finished): a source
        // placed now would be left without a loop, so that one is wound up and a new one begun.
        if (m_sendThread && m_sendThread->hasEnded())
            endedMeanwhile = detachSend(false);
        else if (!m_sendThread)
            startSend();
    }
    if (endedMeanwhile.thread) {
        finishSend(endedMeanwhile);
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_sendThread)
            startSend();
    }
    if (reader) {
        reader->stop();
        delete reader;
    }
    return result;
}

int RtpInfoSession::attachSipSource(Slot& slot, const RtpInfo& info, int startedType)
{
    std::shared_ptr<RTPAudioReader> source;
    if (findSipSource(info, &source) < 0)
        return -1;
    // A call without its media yet still counts as started.
    if (source) {
        source->setStartedType(startedType);
        slot.reader = source.get();
        slot.callSource = std::move(source);
    }
    return 0;
}

void RtpInfoSession::stopSource(int source, int startedType)
{
    (void)startedType;
    const int index = slotIndex(source);
    if (index < 0)
        return;
    Slot slot;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        slot = takeSlot(index);
    }
    dropSlot(slot, rtpInfo());
}

void RtpInfoSession::stopAll(int startedType)
{
    (void)startedType;
    Detached detached;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        detached = detachSend(true);
    }
    finishSend(detached);
    Slot taken[kSlotCount];
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (int i = 0; i < kSlotCount; ++i)
            taken[i] = takeSlot(i);
    }
    const RtpInfo info = rtpInfo();
    for (Slot& slot : taken)
        dropSlot(slot, info);
}

void RtpInfoSession::stopSend()
{
    Detached detached;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        detached = detachSend(true);
    }
    finishSend(detached);
}

int RtpInfoSession::startTalk(const std::shared_ptr<VexaClient>& client)
{
    stopTalk();
    RTPAudioReader* reader = createTalkSource(client);
    if (reader)
        reader->setPayloadType(sourcePayloadType(rtpInfo()));
    if (!startReader(reader))
        return -1;
    m_slots[slotIndex(RtpInfo::kSourceSdk)].reader = reader;
    return 0;
}

void RtpInfoSession::stopTalk()
{
    Slot old = takeSlot(slotIndex(RtpInfo::kSourceSdk));
    dropSlot(old, RtpInfo());
}

int RtpInfoSession::startListen(const std::shared_ptr<VexaClient>& client)
{
    stopListen();
    RTPAudioWriter* writer = createListenWriter(client);
    if (!writer)
        return -1;
    const RtpInfo info = rtpInfo();
    const Codec parameters = sendCodec(info);
    if (writer->open(&info, parameters.payloadType, parameters.clockRate, parameters.channels) < 0) {
        closeWriter(writer);
        return -1;
    }
    std::lock_guard<std::mutex> sinks(m_sinkMutex);
    m_sdkWriter = writer;
    return 0;
}

void RtpInfoSession::stopListen()
{
    RTPAudioWriter* writer;
    {
        std::lock_guard<std::mutex> sinks(m_sinkMutex);
        writer = m_sdkWriter;
        m_sdkWriter = nullptr;
    }
    closeWriter(writer);
}

RTPAudioWriter* RtpInfoSession::createHttpWriter()
{
    return new RTPHttpWriter;
}

RTPAudioWriter* RtpInfoSession::createListenWriter(const std::shared_ptr<VexaClient>& client)
{
    auto* writer = new RTPSDKWriter;
    writer->setClient(client);
    return writer;
}

void RtpInfoSession::closeWriter(RTPAudioWriter* writer)
{
    if (writer) {
        writer->close();
        delete writer;
    }
}

int RtpInfoSession::currentSource()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (int i = 0; i < kSlotCount; ++i) {
        if (m_slots[i].reader || m_slots[i].callSource)
            return kSourceOrder[i];
    }
    return 0;
}

int RtpInfoSession::currentStartedType()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const Slot& slot : m_slots) {
        if (slot.reader)
            return slot.reader->startedType();
        if (slot.callSource)
            return 0;
    }
    return 0;
}

bool RtpInfoSession::hasSource(int source)
{
    const int index = slotIndex(source);
    if (index < 0)
        return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_slots[index].reader || m_slots[index].callSource;
}

bool RtpInfoSession::isSending()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_sendThread && !m_sendThread->hasEnded();
}

RTPFilesAudioReader* RtpInfoSession::playlist()
{
    return dynamic_cast<RTPFilesAudioReader*>(m_slots[slotIndex(RtpInfo::kSourcePlaylist)].reader);
}

int RtpInfoSession::playlistStatus(int* index, double* position, double* duration)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    RTPFilesAudioReader* reader = playlist();
    return reader ? reader->status(index, position, duration) : -1;
}

void RtpInfoSession::seekPlaylist(double progress)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (RTPFilesAudioReader* reader = playlist())
        reader->seek(progress);
}

void RtpInfoSession::changePlaylistFile(int index)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (RTPFilesAudioReader* reader = playlist())
        reader->jump(index);
}

void RtpInfoSession::onItemOpened(RTPFilesAudioReader*, int index)
{
    if (RtpInfoSessionObserver* observer = m_observer.load(std::memory_order_acquire))
        observer->onFilesItemOpened(this, index);
}

void RtpInfoSession::onOpened(RTPFileAudioReader*)
{
    if (RtpInfoSessionObserver* observer = m_observer.load(std::memory_order_acquire))
        observer->onFileOpened(this);
}

void RtpInfoSession::onFinished(RTPFileAudioReader*)
{
    if (RtpInfoSessionObserver* observer = m_observer.load(std::memory_order_acquire))
        observer->onFileFinished(this);
}

void RtpInfoSession::onOpened(RTPStreamAudioReader*)
{
    if (RtpInfoSessionObserver* observer = m_observer.load(std::memory_order_acquire))
        observer->onStreamOpened(this);
}

void RtpInfoSession::onEnd(RTPStreamAudioReader*)
{
    if (RtpInfoSessionObserver* observer = m_observer.load(std::memory_order_acquire))
        observer->onStreamEnd(this);
}

RtpInfoSession::Codec RtpInfoSession::sendCodec(const RtpInfo& info) const
{
    return m_sendThread ? Codec{m_payloadType, m_clockRate, m_channels} : codec(info.codec);
}

int RtpInfoSession::sourcePayloadType(const RtpInfo& info) const
{
    // While a loop runs, new sources deliver what it sends, whatever the record now says.
    return codecPayloadType(m_sendThread ? m_codec : info.codec);
}

bool RtpInfoSession::startReader(RTPAudioReader* reader)
{
    if (!reader)
        return false;
    if (reader->start())
        return true;
    reader->stop();
    delete reader;
    return false;
}

int RtpInfoSession::startSend()
{
    const RtpInfo info = rtpInfo();
    const Codec parameters = codec(info.codec);
    m_codec = info.codec;
    m_payloadType = parameters.payloadType;
    m_clockRate = parameters.clockRate;
    m_channels = parameters.channels;

    RtpLayerSession* rtp = startSession(info, m_clockRate);

    if (info.httpOutput) {
        RTPAudioWriter* writer = createHttpWriter();
        if (writer && writer->open(&info, m_payloadType, m_clockRate, m_channels) < 0) {
            closeWriter(writer);
            writer = nullptr;
        }
        std::lock_guard<std::mutex> sinks(m_sinkMutex);
        m_httpWriter = writer;
    }

    m_sendThread = new RtpInfoSessionSendThread(this, rtp, m_payloadType, m_clockRate);
    if (!m_sendThread->start()) {
        delete m_sendThread;
        m_sendThread = nullptr;
        return -1;
    }
    return 0;
}

RtpLayerSession* RtpInfoSession::startSession(const RtpInfo& info, int clockRate)
{
    const QStringList parts = info.address.split(QLatin1Char(':'), Qt::KeepEmptyParts);
    if (parts.size() != 2) {
        RDLOGLINE() << "rtp address \"" << info.address << "\" is not ip:port, no rtp is sent";
        return nullptr;
    }
    const int port = parsePort(parts[1].toStdString());
    if (port < 0) {
        RDLOGLINE() << "rtp address \"" << info.address << "\" has no valid port, no rtp is sent";
        return nullptr;
    }
    // Only a dotted-quad host other than 0.0.0.0 is a destination: Linux hands datagrams for
    // 0.0.0.0 to this very machine.
    const std::string host = parts[0].toStdString();
    uint32_t parsed = 0;
    if (!parseIpv4(host, &parsed) || parsed == INADDR_ANY) {
        RDLOGLINE() << "rtp host \"" << parts[0] << "\" is not an IPv4 address, no rtp is sent";
        return nullptr;
    }
    RtpPortManager* ports = RtpPortManager::instance();
    if (!ports) {
        RDLOG("no rtp port allocator, no rtp is sent");
        return nullptr;
    }
    std::string bindIp;
    {
        std::lock_guard<std::mutex> lock(m_infoMutex);
        bindIp = m_network.ip().toStdString();
    }

    RtpLayerSession* rtp = new RtpLayerSession;
    int result = RtpLayerSession::kErrorAddressInUse;
    // The allocator only probed its port: another program may have taken it since.
    for (int attempt = 0; attempt < kBindAttempts && result == RtpLayerSession::kErrorAddressInUse; ++attempt) {
        const int portBase = ports->getFreePort();
        if (portBase < 1) {
            RDLOG("no free local rtp port");
            delete rtp;
            return nullptr;
        }
        result = rtp->open(bindIp, portBase, clockRate, kMulticastTtl, bindIp, kPreTransmissionDelay);
    }
    if (result < 0) {
        RDLOG("rtp session create %d", result);
        delete rtp;
        return nullptr;
    }
    rtp->addDestination(host, port);
    RDLOG("support multicasting");
    // Unicast addresses are refused without a system call; a failed join still sends.
    rtp->joinGroup(host);
    return rtp;
}

RTPAudioPacket* RtpInfoSession::readPacket(int* source)
{
    RTPAudioPacket* chosen = nullptr;
    int chosenSource = 0;
    int chosenPriority = -1;
    for (int i = 0; i < kSlotCount; ++i) {
        RTPAudioReader* reader = m_slots[i].reader;
        if (!reader)
            continue;
        RTPAudioPacket* packet = reader->read();
        // A source that has finished is not running: it no longer silences those below it.
        if (!packet && reader->isFinished())
            continue;
        const int priority = reader->priority();
        if (chosenPriority == -1 || priority > chosenPriority) {
            delete chosen;
            chosen = packet;
            chosenSource = kSourceOrder[i];
            chosenPriority = priority;
        } else {
            delete packet;
        }
    }
    *source = chosenSource;
    return chosen;
}

bool RtpInfoSession::allFinished()
{
    for (const Slot& slot : m_slots) {
        if (slot.reader && !slot.reader->isFinished())
            return false;
    }
    return true;
}

RtpInfoSession::Detached RtpInfoSession::detachSend(bool listener)
{
    Detached detached;
    detached.thread = m_sendThread;
    m_sendThread = nullptr;
    std::lock_guard<std::mutex> sinks(m_sinkMutex);
    if (detached.thread)
        detached.thread->stop();
    detached.httpWriter = m_httpWriter;
    m_httpWriter = nullptr;
    if (listener) {
        detached.sdkWriter = m_sdkWriter;
        m_sdkWriter = nullptr;
    }
    return detached;
}

RtpInfoSession::Slot RtpInfoSession::takeSlot(int index)
{
    Slot slot;
    std::swap(slot, m_slots[index]);
    return slot;
}

void RtpInfoSession::finishSend(Detached& detached)
{
    if (detached.thread) {
        detached.thread->stop();
        detached.thread->wait();
    }
    closeWriter(detached.sdkWriter);
    closeWriter(detached.httpWriter);
    detached.sdkWriter = nullptr;
    detached.httpWriter = nullptr;
    if (!detached.thread)
        return;
    RtpLayerSession* rtp = detached.thread->takeRtp();
    if (rtp) {
        // The BYE goes to the destinations present, so it leaves before they are cleared.
        rtp->byeAndClose();
        rtp->leaveAllGroups();
        rtp->clearDestinations();
        delete rtp;
    }
    delete detached.thread;
    detached.thread = nullptr;
}

void RtpInfoSession::dropSlot(Slot& slot, const RtpInfo& info)
{
    if (slot.callSource) {
        slot.reader = nullptr;
        slot.callSource.reset();
        endSipCalls(info);
        return;
    }
    if (slot.reader) {
        slot.reader->stop();
        delete slot.reader;
        slot.reader = nullptr;
    }
}

void RtpInfoSession::notifyStarted()
{
    if (RtpInfoSessionObserver* observer = m_observer.load(std::memory_order_acquire))
        observer->onSessionStarted(this);
}

void RtpInfoSession::notifyFinished()
{
    if (RtpInfoSessionObserver* observer = m_observer.load(std::memory_order_acquire))
        observer->onSessionFinished(this);
}

void RtpInfoSession::notifySourceChanged()
{
    if (RtpInfoSessionObserver* observer = m_observer.load(std::memory_order_acquire))
        observer->onSourceChanged(this);
}

void RtpInfoSession::doSend(RtpInfoSessionSendThread* thread)
{
    notifyStarted();
    RtpLayerSession* rtp = thread->rtp();
    const int payloadType = thread->payloadType();
    RtpInfoSessionSchedule schedule(thread->clockRate(), RtpInfoSessionSendThread::scheduleDelay());
    int lastSource = 0;
    bool mismatchLogged = false;

    while (!thread->isStop()) {
        const double now = RDThread::monotonicTime();
        if (rtp)
            rtp->serviceRtcp(now);
        if (schedule.hasStarted() && now < schedule.nextDue()) {
            thread->sleepUntil(schedule.nextDue());
            continue;
        }

        int source = 0;
        RTPAudioPacket* packet;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            packet = readPacket(&source);
        }
        if (!packet) {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (allFinished()) {
                    thread->setEnded();
                    break;
                }
            }
            thread->idle();
            continue;
        }
        uint32_t increment = 0;
        const double due = schedule.place(RDThread::monotonicTime(), packet->duration, &increment);
        // A source started before the channel's codec was edited may still deliver the old one:
        // its packet keeps its time slot but goes nowhere.
        if (packet->payloadType >= 0 && packet->payloadType != payloadType) {
            if (!mismatchLogged) {
                RDLOG("packets of payload type %d on a channel sending %d are dropped", packet->payloadType,
                      payloadType);
                mismatchLogged = true;
            }
            delete packet;
            continue;
        }
        if (!thread->waitUntil(due)) {
            delete packet;
            break;
        }

        if (lastSource != 0 && lastSource != source)
            notifySourceChanged();
        lastSource = source;
        {
            // A packet goes to the destinations and the sinks alike or to none: detachSend stops
            // the loop under this lock before it takes the sinks away, so a stream never misses
            // the last packet the devices heard.
            std::lock_guard<std::mutex> sinks(m_sinkMutex);
            if (thread->isStop()) {
                delete packet;
                break;
            }
            if (rtp)
                rtp->sendPacket(packet->data, size_t(packet->length), uint8_t(payloadType), false, increment);
            if (m_httpWriter)
                m_httpWriter->write(packet);
            if (m_sdkWriter)
                m_sdkWriter->write(packet);
        }
        delete packet;
    }
    notifyFinished();
}
