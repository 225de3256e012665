#pragma once

#include "VexaAudioPacket.h"

// One connected remote app (P2P or WebSocket), held by shared pointer. The channel engine sends
// the audio of a channel the app listens to and reads the audio the app talks into a channel;
// the client carries both over its own transport. Every operation may be called from any
// thread: the client guards its queues itself.
class VexaClient
{
public:
    // Queues of audio frames hold at most this many; the oldest frames give way.
    static constexpr int kAudioQueueLimit = 100;

    virtual ~VexaClient() = default;

    // True while the connection to the remote app is up.
    virtual bool isConnected() const = 0;
    // Queues a copy of the frame for sending to the remote app; the caller keeps the packet.
    virtual int sendAudio(const VexaAudioPacket& packet) = 0;
    // Moves the oldest received frame into packet and drops it from the receive queue, or
    // clears packet (length 0) when none is queued.
    virtual int readAudio(VexaAudioPacket& packet) = 0;
};
