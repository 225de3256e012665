#pragma once

#include "RDSystemNetwork.h"
#include "RTPFileAudioReaderObserver.h"
#include "RTPFilesAudioReaderObserver.h"
#include "RTPStreamAudioReaderObserver.h"
#include "RtpInfo.h"

#include <atomic>
#include <memory>
#include <mutex>

class RTPAudioPacket;
class RTPAudioReader;
class RTPAudioWriter;
class RTPFileAudioReader;
class RTPFilesAudioReader;
class RTPStreamAudioReader;
class RtpCallSources;
class RtpInfoSessionObserver;
class RtpInfoSessionSendThread;
class RtpLayerSession;
class VexaClient;

// One playing channel: up to one source of each source kind, one send loop that takes the packet
// of the highest-priority source on every pass, paces it on the monotonic clock and sends it as
// RTP to the channel's address, and the sinks that get every packet sent. The channel manager
// makes and drives it; every call comes from the manager (under its session-list lock), the
// send thread or the readers' threads (the observer faces only).
//
// Locks: the session lock guards the source slots and the send loop; the record, the adapter
// and the talk client have a small lock of their own; the sink lock guards the sinks, and the
// send loop never holds it together with the session lock. Sources are started and stopped,
// the send thread joined and the sinks closed outside the session lock, except in startTalk,
// stopTalk, startListen and stopListen, whose caller holds it; the threads those wait for
// (the remote-app reader's and sink's) never take it.
//
// The observer is called on the send thread (started, source changed, finished) and on the
// readers' threads (the rest), never with the session lock held; the threads that stop a
// session wait for both, so the observer must not take locks such a stopper may hold.
class RtpInfoSession : public RTPFilesAudioReaderObserver,
                       public RTPFileAudioReaderObserver,
                       public RTPStreamAudioReaderObserver
{
public:
    // The source kinds of RtpInfo::Source a session plays, from the highest priority down.
    static constexpr int kSlotCount = 6;
    static const int kSourceOrder[kSlotCount];

    // Local ports tried when the allocator's port is taken by the time the session binds it.
    static constexpr int kBindAttempts = 5;

    struct Codec
    {
        int payloadType;
        int clockRate;
        int channels;
    };

    RtpInfoSession();
    // Stops whatever still runs; the owner normally stops the session first.
    virtual ~RtpInfoSession();
    RtpInfoSession(const RtpInfoSession&) = delete;
    RtpInfoSession& operator=(const RtpInfoSession&) = delete;

    // Set-up. The record is given again before every start of a source; a running send loop
    // keeps the address and codec it started with.
    void setRtpInfo(const RtpInfo& info);
    // A copy of the record.
    RtpInfo rtpInfo() const;
    void setNetwork(const RDSystemNetwork& network);
    void setObserver(RtpInfoSessionObserver* observer);
    void setTalkClient(const std::shared_ptr<VexaClient>& client);
    // Where the channel's SIP calls are found (kind 64); set before the first start and
    // outliving the session. Without it the channel has no calls.
    void setCallSources(RtpCallSources* sources);

    // Starts one source kind; 0, or -1 when the kind is already present or cannot start. Starts
    // the send loop when none runs, whatever the result.
    int startSource(int source, int startedType);
    // Stops and drops one source kind. The send loop ends by itself when no source is left.
    void stopSource(int source, int startedType);
    // Ends the send loop, closes the sinks, ends the RTP session (with its BYE) and drops every
    // source.
    void stopAll(int startedType);
    // Ends the send loop, closes the sinks and ends the RTP session; the sources stay.
    void stopSend();

    // The remote-app source and sink; the caller holds the session lock around these.
    void lock();
    void unlock();
    int startTalk(const std::shared_ptr<VexaClient>& client);
    void stopTalk();
    int startListen(const std::shared_ptr<VexaClient>& client);
    void stopListen();

    // The first filled kind in priority order and its trigger; 0 when there is none.
    int currentSource();
    int currentStartedType();
    bool hasSource(int source);
    // Whether a send loop exists that has not ended by itself.
    bool isSending();

    // The playlist source's item, position and duration; -1 with nothing written without one.
    int playlistStatus(int* index, double* position, double* duration);
    void seekPlaylist(double progress);
    void changePlaylistFile(int index);

    // The payload type that sources must deliver for a channel codec; -1 for an unknown codec.
    static int codecPayloadType(int codec);
    // What the send loop sends for a channel codec; an unknown codec sends PCMU.
    static Codec codec(int codec);

    // The send thread's body.
    void doSend(RtpInfoSessionSendThread* thread);

    // The playlist face, the bell's file face and the stream face, raised on the readers'
    // threads and passed on.
    void onItemOpened(RTPFilesAudioReader* reader, int index) override;
    void onOpened(RTPFileAudioReader* reader) override;
    void onFinished(RTPFileAudioReader* reader) override;
    void onOpened(RTPStreamAudioReader* reader) override;
    void onEnd(RTPStreamAudioReader* reader) override;

protected:
    // The source of one kind, configured from the record but neither given its payload type nor
    // started; null when that kind cannot be made. Kind 64 is never made here (findSipSource).
    virtual RTPAudioReader* createSource(int kind, const RtpInfo& info);
    // The remote-app source fed by client, as createSource makes it; null when it cannot be made.
    virtual RTPAudioReader* createTalkSource(const std::shared_ptr<VexaClient>& client);
    // The SIP call's source of this channel: -1 when the channel has no call; 0 with *source
    // set, or left null when the call has no media yet. *source shares ownership with the call.
    virtual int findSipSource(const RtpInfo& info, std::shared_ptr<RTPAudioReader>* source);
    // Ends the channel's SIP calls when its SIP source is stopped.
    virtual void endSipCalls(const RtpInfo& info);
    // The HTTP stream sink and the remote-app sink for client, not yet opened.
    virtual RTPAudioWriter* createHttpWriter();
    virtual RTPAudioWriter* createListenWriter(const std::shared_ptr<VexaClient>& client);

private:
    struct Slot
    {
        RTPAudioReader* reader = nullptr;
        std::shared_ptr<RTPAudioReader> callSource; // RtpInfo::kSourceSip only: reader is this, owned by the call
    };
    // What a stop takes off the session and then ends outside the session lock.
    struct Detached
    {
        RtpInfoSessionSendThread* thread = nullptr;
        RTPAudioWriter* httpWriter = nullptr;
        RTPAudioWriter* sdkWriter = nullptr;
    };

    static int slotIndex(int source);
    // A reader that will not start is stopped and deleted; whether it started.
    static bool startReader(RTPAudioReader* reader);
    static void closeWriter(RTPAudioWriter* writer);

    // Under the session lock.
    RTPFilesAudioReader* playlist();
    int attachSipSource(Slot& slot, const RtpInfo& info, int startedType);
    // What new sources deliver and what a new listener is opened with: the running loop's codec,
    // else the record's.
    int sourcePayloadType(const RtpInfo& info) const;
    Codec sendCodec(const RtpInfo& info) const;
    int startSend();
    RtpLayerSession* startSession(const RtpInfo& info, int clockRate);
    RTPAudioPacket* readPacket(int* source);
    bool allFinished();
    // Takes the loop and the HTTP sink off the session, with listener the remote-app sink too.
    Detached detachSend(bool listener);
    Slot takeSlot(int index);

    // Without the session lock.
    void finishSend(Detached& detached);
    void dropSlot(Slot& slot, const RtpInfo& info);
    void notifyStarted();
    void notifyFinished();
    void notifySourceChanged();

    // The session lock.
    std::mutex m_mutex;
    Slot m_slots[kSlotCount];
    RtpInfoSessionSendThread* m_sendThread = nullptr;
    // The running loop's codec; sources started while it runs are given its payload type.
    int m_codec = 0;
    int m_payloadType = 0;
    int m_clockRate = 0;
    int m_channels = 0;

    // The sink lock: the sinks are swapped under it, and the send loop writes under it (never
    // while it holds the session lock), so no sink is written after it was taken off.
    std::mutex m_sinkMutex;
    RTPAudioWriter* m_httpWriter = nullptr;
    RTPAudioWriter* m_sdkWriter = nullptr;

    mutable std::mutex m_infoMutex;
    RtpInfo m_info;
    RDSystemNetwork m_network;
    std::shared_ptr<VexaClient> m_talkClient;

    std::atomic<RtpInfoSessionObserver*> m_observer{nullptr};
    std::atomic<RtpCallSources*> m_callSources{nullptr};
};
