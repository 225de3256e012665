#include "SipCall.h"

#include "RDLog.h"
#include "RDString.h"
#include "RDThread.h"
#include "SipChannel.h"
#include "SipDevice.h"
#include "SipRtpSession.h"
#include "SipSdp.h"

namespace {

bool isPowerOfTwo(uint64_t n)
{
    return n != 0 && (n & (n - 1)) == 0;
}

} // namespace

SipCall::SipCall()
    : m_createdTime(RDThread::currentTime()), m_createdTick(RDThread::tickTime()),
      m_audioMedia(std::make_shared<SipMedia>()), m_videoMedia(std::make_shared<SipMedia>())
{
}

SipCall::~SipCall()
{
    // Every owner stops a call before letting it go; a session left running must not call back
    // into a freed call.
    for (std::atomic<SipRtpSession*>* slot : {&m_videoSession, &m_audioSession}) {
        if (SipRtpSession* session = slot->exchange(nullptr)) {
            session->stop();
            delete session;
        }
    }
}

std::shared_ptr<SipDevice> SipCall::createDevice()
{
    return nullptr;
}

void SipCall::setSelf(const std::shared_ptr<SipCall>& self)
{
    m_self = self;
}

std::shared_ptr<SipCall> SipCall::self() const
{
    return m_self.lock();
}

void SipCall::setChannel(const std::shared_ptr<SipChannel>& channel)
{
    m_channel = channel;
}

std::shared_ptr<SipChannel> SipCall::channel() const
{
    return m_channel.lock();
}

std::shared_ptr<SipDevice> SipCall::device() const
{
    std::lock_guard<std::mutex> guard(m_deviceMutex);
    return m_device;
}

bool SipCall::isMediaRunning() const
{
    return m_audioSession.load() || m_videoSession.load();
}

std::shared_ptr<SipMedia> SipCall::audioMedia() const
{
    std::lock_guard<std::mutex> guard(m_mediaMutex);
    return m_audioMedia;
}

std::shared_ptr<SipMedia> SipCall::videoMedia() const
{
    std::lock_guard<std::mutex> guard(m_mediaMutex);
    return m_videoMedia;
}

void SipCall::setMedia(const std::shared_ptr<SipMedia>& audio, const std::shared_ptr<SipMedia>& video)
{
    std::lock_guard<std::mutex> guard(m_mediaMutex);
    m_audioMedia = audio ? audio : std::make_shared<SipMedia>();
    m_videoMedia = video ? video : std::make_shared<SipMedia>();
}

void SipCall::setDataTimeouts(double audio, double video)
{
    m_audioDataTimeout = audio;
    m_videoDataTimeout = video;
}

void SipCall::setDurationLimit(double seconds)
{
    m_durationLimit = seconds;
}

bool SipCall::markEnded()
{
    return !m_ended.exchange(true);
}

int SipCall::ring()
{
    auto owner = channel();
    return owner ? owner->ringCall(self()) : -1;
}

int SipCall::answer()
{
    auto owner = channel();
    return owner ? owner->answerCall(self()) : -1;
}

int SipCall::reject(int status)
{
    auto owner = channel();
    return owner ? owner->rejectCall(self(), status) : -1;
}

int SipCall::terminate()
{
    auto owner = channel();
    return owner ? owner->terminateCall(self()) : -1;
}

// ---------------------------------------------------------------------------------------------
// Start and stop

bool SipCall::start()
{
    m_startTime = RDThread::currentTime();
    bool started = false;
    {
        std::lock_guard<std::mutex> guard(m_callMutex);
        {
            std::lock_guard<std::mutex> device(m_deviceMutex);
            if (!m_device)
                m_device = createDevice();
        }
        const bool audio = startAudioLocked();
        const bool video = startVideoLocked();
        started = audio || video;
    }
    if (started) {
        state = Established;
        RDLOG("start from(%s@%s:%d) -> to(%s@%s:%d) call (%d)", fromName.c_str(), fromHost.c_str(), fromPort,
              toName.c_str(), toHost.c_str(), toPort, cid.load());
    } else {
        state = Terminated;
        RDLOG("start from(%s@%s:%d) -> to(%s@%s:%d) call (%d) failure", fromName.c_str(), fromHost.c_str(),
              fromPort, toName.c_str(), toHost.c_str(), toPort, cid.load());
    }
    return started;
}

void SipCall::stop()
{
    {
        std::lock_guard<std::mutex> guard(m_callMutex);
        stopVideoLocked();
        stopAudioLocked();
        std::lock_guard<std::mutex> device(m_deviceMutex);
        m_device.reset();
    }
    m_stopTime = RDThread::currentTime();
    state = Terminated;
    RDLOG("stop call(%d) from(%s@%s:%d) -> to(%s@%s:%d)", cid.load(), fromName.c_str(), fromHost.c_str(), fromPort,
          toName.c_str(), toHost.c_str(), toPort);
}

bool SipCall::startAudio()
{
    std::lock_guard<std::mutex> guard(m_callMutex);
    return startAudioLocked();
}

bool SipCall::startVideo()
{
    std::lock_guard<std::mutex> guard(m_callMutex);
    return startVideoLocked();
}

void SipCall::stopAudio()
{
    std::lock_guard<std::mutex> guard(m_callMutex);
    stopAudioLocked();
}

void SipCall::stopVideo()
{
    std::lock_guard<std::mutex> guard(m_callMutex);
    stopVideoLocked();
}

bool SipCall::startAudioLocked()
{
    return startMediumLocked(false);
}

bool SipCall::startVideoLocked()
{
    return startMediumLocked(true);
}

bool SipCall::startMediumLocked(bool video)
{
    std::atomic<SipRtpSession*>& slot = video ? m_videoSession : m_audioSession;
    if (slot.load())
        return true;
    const std::shared_ptr<SipMedia> media = video ? videoMedia() : audioMedia();
    const std::shared_ptr<SipDevice> current = device();
    if (!media || !media->isDescribed() || !media->hasLocalPayloads() || !media->hasRemotePayloads() || !current)
        return false;
    // Telephone events and comfort noise accompany a codec; they are never the medium itself.
    const auto send = SipSdp::matchMediaPayload(media->remotePayloads, media->localPayloads);
    const auto recv = SipSdp::matchMediaPayload(media->localPayloads, media->remotePayloads);
    if (!send || !recv) {
        RDLOG("call(%d) %s has no codec in common", cid.load(), video ? "video" : "audio");
        return false;
    }
    {
        std::lock_guard<std::mutex> rtp(m_rtpMutex);
        media->sendPayload = send;
        media->recvPayload = recv;
    }
    if (video)
        RDLOG("start call video with %s/%d(%d), local port %d, remote port = %d", send->name.c_str(), send->clockRate,
              send->payloadType, media->localPort, media->remotePort);
    else
        RDLOG("start call(%d) audio with %s/%d/%d(%d), local port = %d, remote port = %d", cid.load(),
              send->name.c_str(), send->clockRate, send->channels, send->payloadType, media->localPort,
              media->remotePort);
    bool accepted = false;
    {
        std::lock_guard<std::mutex> guard(m_deviceMutex);
        if (m_device) {
            accepted = video ? m_device->setVideoSendPayload(send) >= 0 && m_device->setVideoRecvPayload(recv) >= 0
                             : m_device->setAudioSendPayload(send) >= 0 && m_device->setAudioRecvPayload(recv) >= 0;
        }
    }
    if (!accepted) {
        video ? stopVideoLocked() : stopAudioLocked();
        return false;
    }
    auto* session = new SipRtpSession();
    session->setDurationLimit(video ? 0 : m_durationLimit);
    session->setDataTimeout(video ? m_videoDataTimeout : m_audioDataTimeout);
    session->setObserver(this);
    // Published before its threads run: their callbacks tell the media apart by it.
    slot = session;
    if (session->start(media, send->ptime) < 0) {
        slot = nullptr;
        delete session;
        video ? stopVideoLocked() : stopAudioLocked();
        return false;
    }
    return true;
}

void SipCall::stopAudioLocked()
{
    stopMediumLocked(false);
}

void SipCall::stopVideoLocked()
{
    stopMediumLocked(true);
}

void SipCall::stopMediumLocked(bool video)
{
    std::atomic<SipRtpSession*>& slot = video ? m_videoSession : m_audioSession;
    if (SipRtpSession* session = slot.load()) {
        // Joins the session's threads; they take rtpMutex and deviceMutex, which are free here.
        session->stop();
        slot = nullptr;
        delete session;
    }
    std::lock_guard<std::mutex> guard(m_deviceMutex);
    if (!m_device)
        return;
    if (video) {
        m_device->resetVideoRecvPayload();
        m_device->resetVideoSendPayload();
    } else {
        m_device->resetAudioRecvPayload();
        m_device->resetAudioSendPayload();
    }
}

bool SipCall::updateMedia(const std::shared_ptr<SipMedia>& audio, const std::shared_ptr<SipMedia>& video)
{
    std::lock_guard<std::mutex> guard(m_callMutex);
    struct Medium
    {
        std::shared_ptr<SipMedia> next;
        std::shared_ptr<SipMedia> previous;
        SipRtpSession* session;
        bool restart = false;
    };
    Medium media[2] = {{audio ? audio : std::make_shared<SipMedia>(), audioMedia(), m_audioSession.load()},
                       {video ? video : std::make_shared<SipMedia>(), videoMedia(), m_videoSession.load()}};
    for (Medium& medium : media) {
        if (!medium.session)
            continue;
        const auto send = SipSdp::matchMediaPayload(medium.next->remotePayloads, medium.next->localPayloads);
        const auto recv = SipSdp::matchMediaPayload(medium.next->localPayloads, medium.next->remotePayloads);
        if (&medium == &media[0] && (!send || !recv))
            return false;
        std::lock_guard<std::mutex> rtp(m_rtpMutex);
        const auto& oldSend = medium.previous->sendPayload;
        const auto& oldRecv = medium.previous->recvPayload;
        if (send && recv && oldSend && oldRecv && send->sameFormat(*oldSend) && recv->sameFormat(*oldRecv)) {
            medium.next->sendPayload = oldSend;
            medium.next->recvPayload = oldRecv;
        } else {
            medium.restart = true;
        }
    }
    {
        std::lock_guard<std::mutex> rtp(m_rtpMutex);
        std::lock_guard<std::mutex> pointers(m_mediaMutex);
        m_audioMedia = media[0].next;
        m_videoMedia = media[1].next;
    }
    for (int i = 0; i < 2; ++i) {
        Medium& medium = media[i];
        if (!medium.session)
            continue;
        const bool video = i == 1;
        if (medium.restart) {
            RDLOG("call(%d) %s codec changed: media restarted", cid.load(), video ? "video" : "audio");
            video ? stopVideoLocked() : stopAudioLocked();
            startMediumLocked(video);
        } else if (medium.next->remoteAddress != medium.previous->remoteAddress ||
                   medium.next->remotePort != medium.previous->remotePort) {
            RDLOG("call(%d) %s now goes to %s:%d", cid.load(), video ? "video" : "audio",
                  medium.next->remoteAddress.c_str(), medium.next->remotePort);
            medium.session->retarget(medium.next->remoteAddress, medium.next->remotePort);
        }
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Session callbacks

SipPacket* SipCall::getPacket(SipRtpSession* session)
{
    std::lock_guard<std::mutex> rtp(m_rtpMutex);
    std::lock_guard<std::mutex> guard(m_deviceMutex);
    if (!m_device)
        return nullptr;
    if (session == m_audioSession.load())
        return m_device->readAudio();
    if (session == m_videoSession.load())
        return m_device->readVideo();
    return nullptr;
}

void SipCall::onReadPacket(SipRtpSession* session, const uint8_t* packet, int packetLength, const uint8_t* payload,
                           int payloadLength, uint32_t timestamp)
{
    if (!packet || packetLength < 2)
        return;
    const int payloadType = packet[1] & 0x7F;
    SipTelephoneEvent dtmf;
    bool haveDtmf = false;
    {
        std::lock_guard<std::mutex> rtp(m_rtpMutex);
        std::lock_guard<std::mutex> guard(m_deviceMutex);
        if (!m_device)
            return;
        const bool video = session == m_videoSession.load();
        if (!video && session != m_audioSession.load())
            return;
        if (video)
            resetVideoPayload(payloadType);
        else
            resetAudioPayload(payloadType, timestamp, payload, payloadLength, &dtmf, &haveDtmf);
        const std::shared_ptr<SipMedia> media = video ? videoMedia() : audioMedia();
        if (media->recvPayload && media->recvPayload->payloadType == payloadType) {
            if (video)
                m_device->writeVideo(payload, payloadLength, timestamp, payloadLength);
            else
                m_device->writeAudio(payload, payloadLength, timestamp);
        } else if (isPowerOfTwo(++m_dropped) || haveDtmf) {
            // Every event packet, and drops of anything else 1, 2, 4, 8, ... times.
            if (video)
                RDLOG("drop video data len = %d from payload %d", payloadLength, payloadType);
            else
                RDLOG("drop audio data len = %d from payload %d", payloadLength, payloadType);
        }
    }
    if (haveDtmf) {
        if (auto owner = channel())
            owner->notifyDtmf(self(), dtmf);
    }
}

SipTelephoneEvent SipCall::decodeTelephoneEvent(const uint8_t* payload, int length, uint32_t timestamp)
{
    SipTelephoneEvent event;
    if (payload && length >= 4) {
        event.eventId = payload[0];
        event.end = (payload[1] & 0x80) ? 1 : 0;
        event.volume = payload[1] & 0x3F;
        event.duration = static_cast<uint16_t>((payload[2] << 8) | payload[3]);
    }
    event.timestamp = timestamp;
    return event;
}

bool SipCall::resetAudioPayload(int payloadType, uint32_t timestamp, const uint8_t* payload, int length,
                                SipTelephoneEvent* dtmf, bool* haveDtmf)
{
    const std::shared_ptr<SipMedia> media = audioMedia();
    if (media->recvPayload && media->recvPayload->payloadType == payloadType)
        return false;
    std::shared_ptr<SipPayload> candidate;
    if (auto remote = SipSdp::findPayload(media->remotePayloads, payloadType)) {
        auto local = SipSdp::findPayload(media->localPayloads, payloadType);
        if (local && compareIgnoreCase(local->name, SipSdp::kTelephoneEvent) == 0) {
            const SipTelephoneEvent event = decodeTelephoneEvent(payload, length, timestamp);
            RDLOG("dtmf eventId = %d, end = %d, volume = %d, duration = %d", event.eventId, event.end, event.volume,
                  event.duration);
            if (dtmf)
                *dtmf = event;
            if (haveDtmf)
                *haveDtmf = true;
        } else if (local && !SipSdp::isSignallingPayload(*local)) {
            candidate = remote;
        }
    }
    if (candidate && m_device && candidate->isAudio()) {
        RDLOG("reset remote audio payload from %d to %d", media->recvPayload ? media->recvPayload->payloadType : -1,
              payloadType);
        media->recvPayload = candidate;
        m_device->resetAudioRecvPayload();
        m_device->setAudioRecvPayload(candidate);
    }
    return true;
}

bool SipCall::resetVideoPayload(int payloadType)
{
    const std::shared_ptr<SipMedia> media = videoMedia();
    if (media->recvPayload && media->recvPayload->payloadType == payloadType)
        return false;
    auto remote = SipSdp::findPayload(media->remotePayloads, payloadType);
    if (remote && SipSdp::findPayload(media->localPayloads, payloadType) && m_device && remote->isVideo()) {
        RDLOG("reset remote video payload from %d to %d", media->recvPayload ? media->recvPayload->payloadType : -1,
              payloadType);
        media->recvPayload = remote;
        m_device->resetVideoRecvPayload();
        m_device->setVideoRecvPayload(remote);
    }
    return false;
}

void SipCall::onDataTimeout(SipRtpSession* session)
{
    if (session == m_audioSession.load()) {
        endFromMediaThread("audio data timeout");
    } else if (session == m_videoSession.load()) {
        // A call whose audio still runs survives the loss of its video.
        if (!m_audioSession.load())
            endFromMediaThread("video data timeout");
        else
            RDLOG("call(%d) video data timeout, audio goes on", cid.load());
    }
}

void SipCall::onDurationLimit(SipRtpSession* session)
{
    if (session == m_audioSession.load())
        endFromMediaThread("duration limit");
}

void SipCall::endFromMediaThread(const char* why)
{
    RDLOG("call(%d) %s", cid.load(), why);
    // Never torn down on its own media thread: the channel's command thread ends it.
    if (auto owner = channel())
        owner->postTerminateCall(self());
}
