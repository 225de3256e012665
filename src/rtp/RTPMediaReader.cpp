#include "RTPMediaReader.h"

#include "RDLog.h"
#include "RDThread.h"

#include <QDebug>

#include <algorithm>

RTPMediaReader::RTPMediaReader(const char* threadName, int queueCap) : m_threadName(threadName), m_queueCap(queueCap)
{
}

RTPMediaReader::~RTPMediaReader()
{
    stop();
}

bool RTPMediaReader::start()
{
    prepareStart();
    resetPacing();
    m_resetRequest = false;
    m_limitSeen = false;
    m_openedOnce = false;
    m_lastDuration = 0.0;
    return startThread(m_threadName, [this](RDThread* thread) { _run(thread); });
}

RTPAudioPacket* RTPMediaReader::read()
{
    if (!isRunning())
        return nullptr;
    if (limitReached()) {
        // The thread may be sleeping on a full queue; it ends as soon as it sees the limit.
        if (!m_limitSeen.exchange(true))
            wake();
        return nullptr;
    }
    return pacedPop();
}

void RTPMediaReader::reset()
{
    if (!isRunning())
        return;
    m_resetRequest = true;
    wake();
}

void RTPMediaReader::waitToRetry(RDThread* thread, int ms)
{
    closeInput();
    thread->sleepUntilStop(ms);
}

bool RTPMediaReader::_open(RDThread* thread)
{
    const QByteArray location = m_location.toUtf8();
    qDebug().noquote() << "open file" << m_location;
    m_passPackets = 0;
    int ret = -1;
    if (admits())
        ret = m_input.open(m_location, m_payloadType.load(), [thread] { return thread->isStop(); });
    m_openedOnce = m_openedOnce || ret == 0;
    reportOpen(ret == 0);
    RDLOG("open file %s %s", location.constData(), ret == 0 ? "success" : "failure");
    return ret == 0;
}

void RTPMediaReader::_waitForRoom(RDThread* thread)
{
    // read() hands packets out in real time: the queue is down to half its cap after about
    // this long.
    const int over = m_queue.count() - m_queueCap / 2;
    nap(thread, std::max(kFullQueueWaitMs / 1000.0, over * m_lastDuration));
}

void RTPMediaReader::_drain(RDThread* thread)
{
    while (!thread->isStop() && m_queue.count() > 0) {
        if (limitReached()) {
            m_queue.clear();
            break;
        }
        thread->sleepUntilStop(kFullQueueWaitMs);
    }
}

void RTPMediaReader::_run(RDThread* thread)
{
    const RTPMediaInput::Sink sink = [this](RTPAudioPacket* packet) {
        ++m_passPackets;
        m_lastDuration = packet->duration;
        m_queue.push(packet);
    };
    begin();
    // The media is opened on the loop's first turn and again after every pass the policy goes
    // on from; the thread reads only while the queue has room, so it keeps a few packets ahead
    // and sleeps otherwise.
    while (!thread->isStop()) {
        if (limitReached()) {
            m_queue.clear();
            break;
        }
        if (m_resetRequest.exchange(false))
            closeInput();
        if (m_queue.count() > m_queueCap) {
            _waitForRoom(thread);
            continue;
        }
        if (!m_input.isOpen() && !_open(thread)) {
            closeInput();
            if (thread->isStop() || !openFailed(thread))
                break;
            continue;
        }
        const int ret = m_input.readPacket(sink);
        if (ret >= 0 || thread->isStop())
            continue;
        // The last partial frame and what the codecs hold still belong to the pass.
        m_input.flush(sink);
        if (!passEnded(ret, thread))
            break;
    }
    if (m_openedOnce) {
        _drain(thread);
        reportFinished();
    }
    closeInput();
    m_finished = true;
}
