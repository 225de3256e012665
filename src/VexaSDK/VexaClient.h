#pragma once

#include "VexaAudioPacket.h"
#include "VexaBuffer.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

class VexaClientObserver;

// One connected remote app (P2P or WebSocket). The transport subclasses queue outgoing messages
// and audio, deliver each received message to their observer (the server) and buffer received
// audio for the channel engine.
//
// Lifetime: the server creates the client with new and calls makeShared, after which the client
// owns itself through `self`; copies handed out by sharedSelf keep it alive as well. The server
// lists it until it purges it (stop, then resetShared); the object goes when the last copy
// does, on whichever thread drops it, so a subclass's destructor must not assume its own threads
// are gone unless stop ran (the registry always runs stop first).
//
// Threads: start and stop run on the server's listen thread (only the registry calls them).
// send, sendData, sendAudio, readAudio and isConnected may be called from any thread; the
// channel engine calls only isConnected, sendAudio and readAudio, through a shared pointer.
// The observer is set before start; authorized and the failed logins are the session's login
// state, kept by ZvAPI.
class VexaClient
{
public:
    // Received audio waiting for the channel engine, at most: the oldest frames give way.
    static constexpr int kAudioQueueLimit = 100;

    VexaClient() = default;
    VexaClient(const VexaClient&) = delete;
    VexaClient& operator=(const VexaClient&) = delete;
    virtual ~VexaClient();

    // Starts the transport's threads: true when the client runs; one that did not start is
    // released at once, unlisted and unannounced.
    virtual bool start() { return true; }
    // Stops the threads and closes the transport; idempotent; isConnected is false afterwards.
    virtual void stop() {}
    virtual bool isRunning() const { return false; }
    virtual bool isConnected() const { return false; }

    // Queue one message (a copy of the bytes): 0, or negative when it was not queued.
    virtual int send(const std::string& text);
    virtual int send(const char* data, int length);
    // Queue one message; the client may take the buffer's bytes, leaving it empty.
    virtual int sendData(VexaBuffer& buffer) = 0;
    // Queue a copy of one audio frame: 0, or negative when it was not queued.
    virtual int sendAudio(const VexaAudioPacket& packet) = 0;
    // Moves the oldest received frame into packet and returns its payload length, or clears
    // packet and returns 0 when none is queued.
    virtual int readAudio(VexaAudioPacket& packet) = 0;

    // Makes `self` a shared pointer owning this client. While the client is shared already, or
    // copies of an earlier `self` still live, it owns through that same pointer: one object never
    // gets two owners that would each delete it.
    virtual void makeShared();
    // Releases `self`. The client may be destroyed inside this call: touch it no more.
    virtual void resetShared();
    // A copy of `self` (empty before makeShared and after resetShared).
    virtual std::shared_ptr<VexaClient> sharedSelf() const;

    void setObserver(VexaClientObserver* observer) { m_observer.store(observer); }
    // Hands one received message to the observer with this client's shared pointer; dropped
    // when there is no observer, the client is no longer shared or its close was requested.
    void notifyData(VexaBuffer& buffer);

    void setAuthorized(bool authorized) { m_authorized.store(authorized); }
    bool isAuthorized() const { return m_authorized.load(); }
    // Counts one more failed credential check: the count so far, this one included.
    int countFailedLogin() { return m_failedLogins.fetch_add(1) + 1; }

    // Ends the connection on the observer's word (ZvAPI, after too many failed logins), from the
    // client's read thread while the observer handles one of its messages, where stop would wait
    // for that very thread. The reply to that message and whatever was queued before it still go
    // out, nothing the app sends after it reaches the observer, and then the transport closes
    // (isConnected turns false and the registry purges the client as any that went away).
    void requestClose() { m_closeRequested.store(true); }
    bool isCloseRequested() const { return m_closeRequested.load(); }

private:
    mutable std::mutex m_selfLock;
    std::shared_ptr<VexaClient> m_self;
    std::weak_ptr<VexaClient> m_weakSelf;
    std::atomic<VexaClientObserver*> m_observer{nullptr};
    std::atomic<bool> m_authorized{false};
    std::atomic<int> m_failedLogins{0};
    std::atomic<bool> m_closeRequested{false};
};
