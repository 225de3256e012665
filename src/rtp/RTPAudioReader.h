#pragma once

class RTPAudioPacket;

// A source of audio for a running channel session: started, polled for ready packets on the
// session's send thread, asked whether it has finished, and stopped.
class RTPAudioReader
{
public:
    virtual ~RTPAudioReader() = default;

    virtual bool start() { return true; }
    virtual void stop() {}
    // True for sources that deliver audio as it arrives (remote app, SIP call, sound card).
    virtual bool isLive() { return false; }
    virtual bool isFinished() { return false; }
    // The next ready packet, owned by the caller; null when none is ready.
    virtual RTPAudioPacket* read() { return nullptr; }
    virtual void reset() {}
    virtual void setPayloadType(int) {}
    virtual int payloadType() { return -1; }

    virtual void setPriority(int priority) { m_priority = priority; }
    virtual int priority() { return m_priority; }
    virtual void setStartedType(int type) { m_startedType = type; }
    virtual int startedType() { return m_startedType; }

private:
    int m_priority = 0;
    int m_startedType = 0;
};
