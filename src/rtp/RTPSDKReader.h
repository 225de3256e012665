#pragma once

#include "RTPSDKReaderInput.h"
#include "RTPThreadedAudioReader.h"

#include <memory>

class RDThread;
class VexaClient;

// The audio a connected remote app talks into a channel: its thread ("SDK Read") takes the
// app's frames from the client as they arrive and converts them to the channel's payload type
// (see RTPSDKReaderInput for what is dropped). The source is live and unpaced; it finishes by
// itself when the app disconnects or sends nothing for the silence limit.
//
// Set-up calls come before start(). start, stop and the destructor belong to the owner's
// thread; read, isFinished and reset may be called from any thread.
class RTPSDKReader : public RTPThreadedAudioReader
{
public:
    // Seconds without a frame after which the source ends.
    static constexpr double kSilenceLimit = 20.0;

    RTPSDKReader();
    ~RTPSDKReader() override;

    // The app whose audio is played; the reader keeps its own reference.
    void setClient(const std::shared_ptr<VexaClient>& client) { m_client = client; }
    std::shared_ptr<VexaClient> client() const { return m_client; }
    void setSilenceLimit(double seconds) { m_silenceLimit = seconds; }

    // Starts the reader thread (a running reader is stopped first); false without a client or
    // when no thread could be made.
    bool start() override;
    // Ends the thread and drops the conversion with what it holds.
    void stop() override;
    bool isLive() override { return true; }
    // The next converted packet, as soon as it is made.
    RTPAudioPacket* read() override;
    // Drops the converted packets and the audio waiting to fill a frame.
    void reset() override;
    // Frames dropped since start.
    int dropped() const { return m_input.dropped(); }
    // Converted packets waiting for read().
    int queued() const { return m_input.queued(); }

private:

    // The reader thread's body.
    void _run(RDThread* thread);

    std::shared_ptr<VexaClient> m_client;
    double m_silenceLimit = kSilenceLimit;
    RTPSDKReaderInput m_input;
};
