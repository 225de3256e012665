#include "RTPSDKWriter.h"

#include "RDLog.h"
#include "RTPAudioPacket.h"
#include "RTPAudioPacketQueue.h"
#include "RDFunctionThread.h"
#include "VexaAudioPacket.h"
#include "VexaClient.h"

#include <cmath>

RTPSDKWriter::~RTPSDKWriter()
{
    close();
}

void RTPSDKWriter::setClient(const std::shared_ptr<VexaClient>& client)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_client = client;
}

std::shared_ptr<VexaClient> RTPSDKWriter::client() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_client;
}

int RTPSDKWriter::open(const RtpInfo*, int payloadType, int, int)
{
    close();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_client) {
        RDLOG("remote listener without a client");
        return -1;
    }
    m_payloadType = payloadType;
    m_ended = false;
    m_queue = new RTPAudioPacketQueue();
    m_queue->setLimit(kQueueLimit);
    m_thread = new RDFunctionThread("SDK Write", [this](RDThread* thread) { sendLoop(thread); });
    if (!m_thread->start()) {
        delete m_thread;
        m_thread = nullptr;
        delete m_queue;
        m_queue = nullptr;
        m_payloadType = -1;
        return -1;
    }
    return 0;
}

bool RTPSDKWriter::isOpen()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_thread != nullptr;
}

int RTPSDKWriter::queued() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_queue ? m_queue->count() : 0;
}

int RTPSDKWriter::write(const RTPAudioPacket* packet)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    // Once the app has gone nothing takes packets off the queue any more.
    if (!m_queue || m_ended)
        return -1;
    if (!packet)
        return 0;
    auto* copy = new RTPAudioPacket();
    copy->setData(packet->data, packet->length);
    copy->payloadType = packet->payloadType;
    copy->duration = packet->duration;
    copy->sampleRate = packet->sampleRate;
    copy->channels = packet->channels;
    m_queue->push(copy);
    return 0;
}

void RTPSDKWriter::sendLoop(RDThread* thread)
{
    // The queue, the client and the thread stay in place until close has stopped this loop.
    RTPAudioPacketQueue* queue;
    std::shared_ptr<VexaClient> client;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        queue = m_queue;
        client = m_client;
    }
    while (!thread->isStop()) {
        if (!client->isConnected()) {
            RDLOG("remote listener disconnected; its sender ends");
            break;
        }
        RTPAudioPacket* packet = queue->pop();
        if (!packet) {
            thread->sleepUntilStop(1);
            continue;
        }
        VexaAudioPacket frame;
        frame.payloadType = packet->payloadType;
        frame.channels = packet->channels;
        frame.sampleRate = packet->sampleRate;
        // Rounded: a product such as 0.0145 * 1e6 lies just below its whole number.
        frame.duration = static_cast<int>(std::lround(packet->duration * 1000000.0));
        frame.setPayload(reinterpret_cast<const char*>(packet->data), packet->length);
        client->sendAudio(frame);
        delete packet;
    }
    m_ended = true;
    // What is left can never be sent.
    queue->clear();
}

void RTPSDKWriter::close()
{
    RDThread* thread;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        thread = m_thread;
        m_thread = nullptr;
    }
    if (thread) {
        thread->stop();
        thread->wait();
        delete thread;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    delete m_queue;
    m_queue = nullptr;
    m_payloadType = -1;
    m_ended = false;
}
