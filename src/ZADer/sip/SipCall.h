#pragma once

#include "SipMedia.h"
#include "SipRtpSessionObserver.h"
#include "SipTelephoneEvent.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

class SipChannel;
class SipDevice;
class SipRtpSession;

// One SIP dialog of a channel with its media: the audio and video records, the device that
// produces and consumes the media, and one RTP session per running medium. The channel creates
// the call, fills in its identity and media and drives its state; the call starts and stops its
// media, chooses the payloads, relays payloads between the sessions and the device, reports
// RFC 4733 events as DTMF, follows payload type changes of the remote side within the
// negotiated set, and asks its channel to end it when the remote media stop arriving. Always
// owned by a shared pointer.
//
// Locking: callMutex (start, stop, media changes) before rtpMutex (the sessions' callbacks)
// before deviceMutex (the device and its payloads) before the media mutex (the two media
// pointers). Sessions are stopped, which joins their threads, with callMutex held only.
class SipCall : public SipRtpSessionObserver
{
public:
    enum State : int {
        Created = 0,
        New = 1, // an incoming INVITE accepted into the channel
        Ringing = 2, // 180 sent
        Answered = 3, // 200 sent
        Established = 5, // media started
        Terminated = 6,
    };

    // No RTP for this long ends the call (video only when the call has no audio).
    static constexpr double kAudioDataTimeout = 20.0;
    static constexpr double kVideoDataTimeout = 60.0;

    SipCall();
    ~SipCall() override;
    SipCall(const SipCall&) = delete;
    SipCall& operator=(const SipCall&) = delete;

    // -- SipRtpSessionObserver (the sessions' threads) -----------------------------------------
    SipPacket* getPacket(SipRtpSession* session) override;
    void onReadPacket(SipRtpSession* session, const uint8_t* packet, int packetLength, const uint8_t* payload,
                      int payloadLength, uint32_t timestamp) override;
    void onDataTimeout(SipRtpSession* session) override;
    void onDurationLimit(SipRtpSession* session) override;

    // The device of a call whose media start; the base has none (so its media never start).
    virtual std::shared_ptr<SipDevice> createDevice();

    // The weak pointer to the call itself, set by its creator from the owning shared pointer.
    void setSelf(const std::shared_ptr<SipCall>& self);
    std::shared_ptr<SipCall> self() const;
    // Keeps a weak pointer to the owning channel.
    void setChannel(const std::shared_ptr<SipChannel>& channel);
    // The owning channel, null when it is gone.
    std::shared_ptr<SipChannel> channel() const;

    std::shared_ptr<SipDevice> device() const;
    bool isMediaRunning() const;

    // Forwarded to the owning channel (nothing when it is gone).
    int ring();
    int answer();
    int reject(int status);
    int terminate();

    // True when at least one medium started (state 5); else state 6.
    bool start();
    // Stops both media and releases the device (state 6). Harmless when repeated.
    void stop();
    bool startAudio();
    bool startVideo();
    void stopAudio();
    void stopVideo();

    // Follows a received payload type P within the negotiated set; a telephone-event payload
    // is decoded into *dtmf (and *haveDtmf set) instead. False when P is already received.
    // Called with rtpMutex and deviceMutex held (from onReadPacket).
    bool resetAudioPayload(int payloadType, uint32_t timestamp, const uint8_t* payload, int length,
                           SipTelephoneEvent* dtmf, bool* haveDtmf);
    bool resetVideoPayload(int payloadType);
    // An RFC 4733 payload (at least 4 bytes; fewer leave every field 0).
    static SipTelephoneEvent decodeTelephoneEvent(const uint8_t* payload, int length, uint32_t timestamp);

    // The media records; the channel fills them before the media start.
    std::shared_ptr<SipMedia> audioMedia() const;
    std::shared_ptr<SipMedia> videoMedia() const;
    void setMedia(const std::shared_ptr<SipMedia>& audio, const std::shared_ptr<SipMedia>& video);
    // A new remote description in the dialog (re-INVITE): takes the new records, whose local
    // halves the channel has filled keeping the running ports. A running medium whose codec
    // choice stays goes on and follows the remote address and port; one whose codec changes is
    // restarted. False when the audio runs and the new description leaves it no codec (nothing
    // changes then).
    bool updateMedia(const std::shared_ptr<SipMedia>& audio, const std::shared_ptr<SipMedia>& video);
    // The session of a running medium, for reading its state (null when not running).
    SipRtpSession* audioSession() const { return m_audioSession.load(); }
    SipRtpSession* videoSession() const { return m_videoSession.load(); }

    // Set before start: the data time-outs of the two media, the send-duration limit of the
    // audio (0 = none).
    void setDataTimeouts(double audio, double video);
    void setDurationLimit(double seconds);

    // True for the first caller only: the call's end (stopping, callbacks, removal) is done once
    // whichever way it comes (BYE, CANCEL, release, time-out, unregistration).
    bool markEnded();
    bool isEnded() const { return m_ended.load(); }

    // Wall-clock seconds at construction, the last start and the last stop; createdTick is the
    // monotonic time of construction, or the channel's clock at creation once it has set it.
    double createdTime() const { return m_createdTime; }
    double createdTick() const { return m_createdTick.load(); }
    void setCreatedTick(double tick) { m_createdTick.store(tick); }
    double startTime() const { return m_startTime.load(); }
    double stopTime() const { return m_stopTime.load(); }

    std::atomic<int32_t> state{Created};
    std::atomic<int32_t> cid{0};
    std::atomic<int32_t> tid{0};
    std::atomic<int32_t> did{0};

    // Filled by the channel before the call is listed; read-only afterwards.
    std::string fromUser;
    std::string fromName;
    std::string fromHost;
    int32_t fromPort = 0;
    std::string toUser;
    std::string toName;
    std::string toHost;
    int32_t toPort = 0;

private:
    bool startAudioLocked();
    bool startVideoLocked();
    void stopAudioLocked();
    void stopVideoLocked();
    // Starts one medium's session: the payload choice, the device's payloads, the session.
    bool startMediumLocked(bool video);
    void stopMediumLocked(bool video);
    void endFromMediaThread(const char* why);

    std::weak_ptr<SipCall> m_self;
    std::weak_ptr<SipChannel> m_channel;

    const double m_createdTime;
    std::atomic<double> m_createdTick;
    std::atomic<double> m_startTime{0};
    std::atomic<double> m_stopTime{0};
    std::atomic<bool> m_ended{false};

    std::mutex m_callMutex;
    std::mutex m_rtpMutex;
    mutable std::mutex m_deviceMutex;
    mutable std::mutex m_mediaMutex;

    std::shared_ptr<SipMedia> m_audioMedia;
    std::shared_ptr<SipMedia> m_videoMedia;
    std::atomic<SipRtpSession*> m_audioSession{nullptr};
    std::atomic<SipRtpSession*> m_videoSession{nullptr};
    std::shared_ptr<SipDevice> m_device;

    double m_audioDataTimeout = kAudioDataTimeout;
    double m_videoDataTimeout = kVideoDataTimeout;
    double m_durationLimit = 0;
    uint64_t m_dropped = 0; // received packets of a payload type outside the negotiated set
};
