#include "RTPSDKReader.h"

#include "RDLog.h"
#include "RDThread.h"
#include "VexaAudioPacket.h"
#include "VexaClient.h"

RTPSDKReader::RTPSDKReader()
{
    m_payloadType = -1;
}

RTPSDKReader::~RTPSDKReader()
{
    stop();
}

bool RTPSDKReader::start()
{
    prepareStart();
    if (!m_client) {
        RDLOG("remote talker without a client");
        m_finished = true;
        return false;
    }
    m_input.open(m_payloadType.load());
    if (startThread("SDK Read", [this](RDThread* thread) { _run(thread); }))
        return true;
    m_input.close();
    return false;
}

void RTPSDKReader::stop()
{
    RTPThreadedAudioReader::stop();
    m_input.close();
}

RTPAudioPacket* RTPSDKReader::read()
{
    return m_input.pop();
}

void RTPSDKReader::reset()
{
    m_input.clear();
}

void RTPSDKReader::_run(RDThread* thread)
{
    const std::shared_ptr<VexaClient> client = m_client;
    double lastData = RDThread::tickTime();
    VexaAudioPacket frame;
    while (!thread->isStop()) {
        if (!client->isConnected()) {
            RDLOG("remote talker disconnected");
            break;
        }
        const double now = RDThread::tickTime();
        client->readAudio(frame);
        if (frame.length() == 0) {
            thread->sleepUntilStop(1);
            if (now - lastData >= m_silenceLimit) {
                RDLOG("no audio from the remote talker for %.0f s", m_silenceLimit);
                break;
            }
            continue;
        }
        // Malformed frames keep nothing alive: an app that sends only those is as silent.
        if (m_input.take(frame) != RTPSDKReaderInput::kBadFrame)
            lastData = now;
    }
    m_finished = true;
}
