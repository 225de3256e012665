#include "RtpManager.h"

#include "RDLog.h"
#include "RDFunctionThread.h"
#include "RtpEngineHost.h"
#include "RtpInfoSession.h"
#include "RtpManagerNullSip.h"
#include "RtpManagerObserver.h"
#include "RtpManagerScheduler.h"
#include "RtpManagerSip.h"
#include "RtpScheduleThread.h"
#include "ZvDB.h"

#include <QDateTime>

#include <algorithm>

namespace {

std::atomic<RtpManager*> g_instance{nullptr};

// Serialises creation and destruction of the instance.
std::mutex& lifeMutex()
{
    static std::mutex mutex;
    return mutex;
}

bool isAllSources(int source)
{
    return source == RtpInfo::kSourceAll || source == -1;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Instance

RtpManager* RtpManager::createInstance(SipFactory sipFactory)
{
    auto* manager = new RtpManager;
    manager->setSipFactory(std::move(sipFactory));
    return createInstance(manager);
}

RtpManager* RtpManager::createInstance(RtpManager* manager)
{
    std::lock_guard<std::mutex> life(lifeMutex());
    if (!manager)
        return g_instance.load();
    if (RtpManager* existing = g_instance.load()) {
        if (manager != existing)
            delete manager;
        return existing;
    }
    manager->m_playLog.open();
    // The instance is there before init, so that what init starts may reach it.
    g_instance.store(manager);
    manager->init();
    return manager;
}

RtpManager* RtpManager::instance()
{
    return g_instance.load();
}

void RtpManager::destroyInstance()
{
    std::lock_guard<std::mutex> life(lifeMutex());
    RtpManager* manager = g_instance.exchange(nullptr);
    if (!manager)
        return;
    manager->shutdown();
    delete manager;
}

RtpManager::RtpManager() = default;

RtpManager::~RtpManager()
{
    shutdown();
}

void RtpManager::setSipFactory(SipFactory factory)
{
    m_sipFactory = std::move(factory);
}

RtpManagerSip* RtpManager::sipManager() const
{
    return m_sip.load();
}

RtpInfoSession* RtpManager::createSession()
{
    return new RtpInfoSession;
}

std::unique_ptr<RtpManagerSip> RtpManager::createSip()
{
    return m_sipFactory ? m_sipFactory(this) : nullptr;
}

RtpManagerScheduler* RtpManager::createScheduler()
{
    return new RtpScheduleThread(this);
}

void RtpManager::init()
{
    const QVector<RtpInfo> infos = getRtpInfos();

    std::unique_ptr<RtpManagerSip> made = createSip();
    if (!made)
        made = std::make_unique<RtpManagerNullSip>();
    RtpManagerSip* sip = made.release();
    m_sip.store(sip);
    const int sipPort = RtpEngineHost::currentSipPort();
    const int sipResult = sip->init(sipPort, 0);
    if (sipResult < 0)
        RDLOG("SipManager init on port %d failed: %d; channels do not register", sipPort, sipResult);

    RtpManagerScheduler* scheduler = createScheduler();
    if (scheduler && !scheduler->startScheduling())
        RDLOG("the scheduler thread did not start; schedules do not run");
    m_scheduler.store(scheduler);

    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        m_accepting = true;
    }
    m_eventThread = new RDFunctionThread(
        "RtpManagerEvent", [this](RDThread* thread) { runEvents(thread); }, [this] { wakeEventThread(); });
    if (!m_eventThread->start()) {
        RDLOG("the channel manager's event thread did not start");
        {
            std::lock_guard<std::mutex> lock(m_queueMutex);
            m_accepting = false;
        }
        delete m_eventThread;
        m_eventThread = nullptr;
    }

    sip->addChannels(infos);
    if (scheduler)
        scheduler->addRtpInfos(infos);
}

void RtpManager::shutdown()
{
    {
        std::lock_guard<std::mutex> lock(m_listMutex);
        if (m_closed)
            return;
        m_closed = true;
    }
    // The event thread goes first: from here on what the sessions report is dropped.
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        m_accepting = false;
    }
    if (m_eventThread) {
        m_eventThread->stop();
        m_eventThread->wait();
        delete m_eventThread;
        m_eventThread = nullptr;
    }
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        m_queue.clear();
    }
    if (RtpManagerScheduler* scheduler = m_scheduler.exchange(nullptr)) {
        scheduler->stopScheduling();
        delete scheduler;
    }
    // The sessions before the SIP agent, whose calls their SIP sources read.
    {
        std::lock_guard<std::mutex> lock(m_listMutex);
        while (!m_sessions.empty())
            removeSession(m_sessions.begin());
    }
    if (RtpManagerSip* sip = m_sip.exchange(nullptr)) {
        sip->unregisterAll();
        sip->uninit();
        delete sip;
    }
    m_playLog.closeThisThread();
}

// ---------------------------------------------------------------------------------------------
// The session list (all under the session-list lock)

RtpManager::Entries::iterator RtpManager::findById(int id)
{
    return std::find_if(m_sessions.begin(), m_sessions.end(),
                        [id](const Entry& entry) { return entry.id == id; });
}

RtpManager::Entries::iterator RtpManager::findBySerial(uint64_t serial)
{
    return std::find_if(m_sessions.begin(), m_sessions.end(),
                        [serial](const Entry& entry) { return entry.serial == serial; });
}

RtpInfoSession* RtpManager::runningSession(int id)
{
    auto it = findById(id);
    if (it == m_sessions.end())
        return nullptr;
    if (it->session->isSending())
        return it->session;
    // Its loop has ended by itself and its finished event has not been worked yet: the channel
    // has stopped, and the session is wound up here so that the start that asks begins anew.
    writePlayLog(it->session->rtpInfo(), kActionStop, RtpInfo::kSourceAll, RtpInfo::kTriggerApi);
    removeSession(it);
    return nullptr;
}

RtpInfoSession* RtpManager::makeSession(int id, const RDSystemNetwork& network,
                                        const std::shared_ptr<VexaClient>& talkClient)
{
    if (m_closed)
        return nullptr;
    RtpInfoSession* session = createSession();
    session->setNetwork(network);
    session->setCallSources(m_sip.load());
    if (talkClient)
        session->setTalkClient(talkClient);
    const uint64_t serial = ++m_lastSerial;
    {
        std::lock_guard<std::mutex> lock(m_serialMutex);
        m_serials[session] = serial;
    }
    session->setObserver(this);
    m_sessions.push_back(Entry{session, serial, id});
    return session;
}

void RtpManager::removeSession(Entries::iterator it)
{
    RtpInfoSession* session = it->session;
    m_sessions.erase(it);
    // What the session reports while it stops still names it.
    session->stopAll(0);
    {
        std::lock_guard<std::mutex> lock(m_serialMutex);
        m_serials.erase(session);
    }
    delete session;
}

int RtpManager::startSessionSource(RtpInfoSession* session, const RtpInfo& info, int source, int startedType)
{
    writePlayLog(info, kActionStart, source, startedType);
    if (session->hasSource(source))
        session->stopSource(source, startedType);
    session->setRtpInfo(info);
    if (session->startSource(source, startedType) < 0) {
        session->stopSource(source, startedType);
        RDLOG("channel %d: source %d did not start (trigger %d)", info.id, source, startedType);
        return -1;
    }
    // A loop that ended by itself as the source arrived is the session's to restart.
    return 0;
}

int RtpManager::writePlayLog(const RtpInfo& info, int action, int source, int startedType)
{
    ZvLog row;
    row.volume = info.volume;
    row.rtpId = info.id;
    row.rtpAddress = info.address;
    row.action = action;
    row.source = isAllSources(source) ? RtpInfo::kSourceAll : source;
    row.type = startedType;
    row.codec = info.codec;
    row.dateTime = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    return m_playLog.write(row);
}

void RtpManager::addLiveStatus(RtpInfo& info, RtpInfoSession* session)
{
    info.startedSource = session->currentSource();
    info.startedType = session->currentStartedType();
    int index = 0;
    double position = 0.0;
    double duration = 0.0;
    if (session->playlistStatus(&index, &position, &duration) >= 0) {
        info.playingIndex = index;
        info.playingPosition = position;
        info.playingDuration = duration;
    }
    info.playingGetTime = RDThread::tickTime();
}

int RtpManager::sessionCount()
{
    std::lock_guard<std::mutex> lock(m_listMutex);
    return int(m_sessions.size());
}

// ---------------------------------------------------------------------------------------------
// Channel operations

int RtpManager::startRtpInfo(const RtpInfo& info, int source, int startedType)
{
    std::unique_lock<std::mutex> lock(m_listMutex);
    RtpInfoSession* session = runningSession(info.id);
    if (!session) {
        // The adapter comes from the settings: read without holding up every other channel.
        lock.unlock();
        const RDSystemNetwork network = RtpEngineHost::currentNetwork();
        lock.lock();
        session = runningSession(info.id);
        if (!session)
            session = makeSession(info.id, network, nullptr);
        if (!session)
            return -1;
    }
    return startSessionSource(session, info, source, startedType);
}

int RtpManager::stopRtpInfo(const RtpInfo& info, int source, int startedType)
{
    std::lock_guard<std::mutex> lock(m_listMutex);
    auto it = findById(info.id);
    if (it == m_sessions.end())
        return -1;
    RtpInfoSession* session = it->session;
    writePlayLog(session->rtpInfo(), kActionStop, source, startedType);
    if (isAllSources(source))
        session->stopAll(startedType);
    else
        session->stopSource(source, startedType);
    if (session->currentSource() == 0) {
        session->stopSend();
        removeSession(it);
    }
    return 0;
}

RtpInfoSession* RtpManager::listedSession(int id, int source)
{
    auto it = findById(id);
    if (it == m_sessions.end() || (source != 0 && !it->session->hasSource(source)))
        return nullptr;
    return it->session;
}

int RtpManager::callWithSessionLock(RtpInfoSession* session, const std::function<int(RtpInfoSession*)>& call)
{
    if (!session)
        return -1;
    session->lock();
    const int result = call(session);
    session->unlock();
    return result;
}

int RtpManager::startTalkRtp(int id, const std::shared_ptr<VexaClient>& client, bool create)
{
    auto startTalk = [&client](RtpInfoSession* session) { return session->startTalk(client) < 0 ? -1 : 0; };
    std::unique_lock<std::mutex> lock(m_listMutex);
    if (RtpInfoSession* running = runningSession(id))
        return callWithSessionLock(running, startTalk);
    if (!create || id <= 0)
        return -1;

    lock.unlock();
    ZvRtp row;
    {
        ZvDB db;
        db.getZvRtpById(id, row);
    }
    const RtpInfo info = ZvDB::toRtpInfo(row);
    RDSystemNetwork network;
    if (info.id > 0)
        network = RtpEngineHost::currentNetwork();
    lock.lock();

    // Another thread may have started the channel meanwhile.
    if (RtpInfoSession* running = runningSession(id))
        return callWithSessionLock(running, startTalk);
    if (info.id <= 0)
        return -1;
    RtpInfoSession* session = makeSession(id, network, client);
    if (!session)
        return -1;
    return startSessionSource(session, info, RtpInfo::kSourceSdk, RtpInfo::kTriggerApi);
}

int RtpManager::stopTalkRtp(int id, const std::shared_ptr<VexaClient>&)
{
    std::lock_guard<std::mutex> lock(m_listMutex);
    return callWithSessionLock(listedSession(id), [](RtpInfoSession* session) {
        session->stopTalk();
        return 0;
    });
}

int RtpManager::startListenRtp(int id, const std::shared_ptr<VexaClient>& client)
{
    std::lock_guard<std::mutex> lock(m_listMutex);
    return callWithSessionLock(runningSession(id), [&client](RtpInfoSession* session) {
        return session->startListen(client) < 0 ? -1 : 0;
    });
}

int RtpManager::stopListenRtp(int id, const std::shared_ptr<VexaClient>&)
{
    std::lock_guard<std::mutex> lock(m_listMutex);
    return callWithSessionLock(listedSession(id), [](RtpInfoSession* session) {
        session->stopListen();
        return 0;
    });
}

int RtpManager::changePlaylistFile(const RtpInfo& info, int index)
{
    std::lock_guard<std::mutex> lock(m_listMutex);
    RtpInfoSession* session = listedSession(info.id, RtpInfo::kSourcePlaylist);
    if (!session)
        return -1;
    session->changePlaylistFile(index);
    return 0;
}

int RtpManager::seekPlaylistFile(const RtpInfo& info, int, double progress)
{
    std::lock_guard<std::mutex> lock(m_listMutex);
    RtpInfoSession* session = listedSession(info.id, RtpInfo::kSourcePlaylist);
    if (!session)
        return -1;
    session->seekPlaylist(progress);
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Stored channels

int RtpManager::getRtpInfo(int id, RtpInfo& out)
{
    ZvRtp row;
    int result;
    {
        ZvDB db;
        result = db.getZvRtpById(id, row);
    }
    out = ZvDB::toRtpInfo(row);
    if (out.id > 0) {
        std::lock_guard<std::mutex> lock(m_listMutex);
        auto it = findById(out.id);
        if (it != m_sessions.end() && it->session->isSending())
            addLiveStatus(out, it->session);
    }
    return result;
}

QVector<RtpInfo> RtpManager::getRtpInfos()
{
    QVector<RtpInfo> infos;
    {
        ZvDB db;
        infos = ZvDB::toRtpInfos(db.getZvRtps());
    }
    {
        std::lock_guard<std::mutex> lock(m_listMutex);
        for (const Entry& entry : m_sessions) {
            if (!entry.session->isSending())
                continue;
            for (RtpInfo& info : infos) {
                if (info.id == entry.id) {
                    addLiveStatus(info, entry.session);
                    break;
                }
            }
        }
    }
    std::sort(infos.begin(), infos.end());
    return infos;
}

int RtpManager::addRtpInfo(const RtpInfo& info)
{
    int id;
    {
        ZvDB db;
        id = db.insertZvRtp(ZvDB::toZvRtp(info));
    }
    if (id > 0) {
        RtpInfo added = info;
        added.id = id;
        if (RtpManagerSip* sip = m_sip.load())
            sip->addChannel(added);
        if (RtpManagerScheduler* scheduler = m_scheduler.load())
            scheduler->updateRtpInfo(added);
    }
    return id;
}

int RtpManager::updateRtpInfo(const RtpInfo& info)
{
    ZvDB db;
    return db.updateZvRtp(ZvDB::toZvRtp(info));
}

int RtpManager::deleteRtpInfo(const RtpInfo& info)
{
    stopRtpInfo(info, RtpInfo::kSourceAll, RtpInfo::kTriggerManual);
    if (RtpManagerSip* sip = m_sip.load())
        sip->removeChannel(info);
    if (RtpManagerScheduler* scheduler = m_scheduler.load())
        scheduler->removeRtpInfo(info);
    ZvDB db;
    return db.deleteZvRtp(ZvDB::toZvRtp(info));
}

int RtpManager::topRtpInfo(const RtpInfo& info)
{
    ZvDB db;
    return db.topZvRtpById(info.id);
}

int RtpManager::reloadSchedule(const RtpInfo& info)
{
    if (RtpManagerScheduler* scheduler = m_scheduler.load())
        scheduler->updateRtpInfo(info);
    return 0;
}

int RtpManager::reloadSip(const RtpInfo& info)
{
    if (RtpManagerSip* sip = m_sip.load()) {
        sip->removeChannel(info);
        sip->addChannel(info);
    }
    return 0;
}

QString RtpManager::getSipStatusText(int id)
{
    RtpManagerSip* sip = m_sip.load();
    return sip ? sip->statusText(id) : QString();
}

// ---------------------------------------------------------------------------------------------
// Observers

void RtpManager::addObserver(RtpManagerObserver* observer)
{
    if (!observer)
        return;
    std::lock_guard<std::recursive_mutex> lock(m_observerMutex);
    if (std::find(m_observers.begin(), m_observers.end(), observer) == m_observers.end())
        m_observers.push_back(observer);
}

void RtpManager::removeObserver(RtpManagerObserver* observer)
{
    std::lock_guard<std::recursive_mutex> lock(m_observerMutex);
    m_observers.erase(std::remove(m_observers.begin(), m_observers.end(), observer), m_observers.end());
}

void RtpManager::notifyObservers(Notice notice, const RtpInfo& info)
{
    std::lock_guard<std::recursive_mutex> lock(m_observerMutex);
    // A callback may add or remove observers: the list as it was is walked, skipping those
    // removed meanwhile.
    const std::vector<RtpManagerObserver*> observers = m_observers;
    for (RtpManagerObserver* observer : observers) {
        if (std::find(m_observers.begin(), m_observers.end(), observer) == m_observers.end())
            continue;
        switch (notice) {
        case kNoticeStarted:
            observer->onRtpStarted(info);
            break;
        case kNoticeChanged:
            observer->onRtpInfoChanged(info);
            break;
        case kNoticeStopped:
            observer->onRtpStopped(info);
            break;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// The event queue

int RtpManager::queueEvent(RtpManagerEvent event)
{
    std::lock_guard<std::mutex> lock(m_queueMutex);
    if (!m_accepting)
        return -1;
    m_queue.push_back(std::move(event));
    m_queueCondition.notify_one();
    return 0;
}

int RtpManager::queueStartRtpInfo(const RtpInfo& info, int source, int startedType)
{
    return queueEvent(RtpManagerEvent(RtpManagerEvent::kStart, source, startedType, info));
}

int RtpManager::queueStopRtpInfo(const RtpInfo& info, int source, int startedType)
{
    return queueEvent(RtpManagerEvent(RtpManagerEvent::kStop, source, startedType, info));
}

int RtpManager::setSipPort(int port)
{
    return queueEvent(RtpManagerEvent(RtpManagerEvent::kSipPort, port, 0));
}

void RtpManager::queueSessionEvent(RtpInfoSession* session, int type)
{
    uint64_t serial = 0;
    {
        std::lock_guard<std::mutex> lock(m_serialMutex);
        auto it = m_serials.find(session);
        if (it == m_serials.end())
            return;
        serial = it->second;
    }
    // A finished loop is a stop of every source with the trigger of playback that ended.
    const bool finished = type == RtpManagerEvent::kStop;
    queueEvent(RtpManagerEvent(type, finished ? RtpInfo::kSourceAll : 0, finished ? RtpInfo::kTriggerApi : 0, session->rtpInfo(), serial));
}

void RtpManager::onSessionStarted(RtpInfoSession* session)
{
    queueSessionEvent(session, RtpManagerEvent::kStarted);
}

void RtpManager::onSessionFinished(RtpInfoSession* session)
{
    queueSessionEvent(session, RtpManagerEvent::kStop);
}

void RtpManager::onSessionChanged(RtpInfoSession* session)
{
    queueSessionEvent(session, RtpManagerEvent::kChanged);
}

void RtpManager::onSourceChanged(RtpInfoSession* session)
{
    onSessionChanged(session);
}

void RtpManager::onFilesItemOpened(RtpInfoSession* session, int)
{
    onSessionChanged(session);
}

void RtpManager::onStreamOpened(RtpInfoSession* session)
{
    onSessionChanged(session);
}

void RtpManager::onStreamEnd(RtpInfoSession* session)
{
    onSessionChanged(session);
}

void RtpManager::onFileOpened(RtpInfoSession* session)
{
    onSessionChanged(session);
}

void RtpManager::onFileFinished(RtpInfoSession* session)
{
    onSessionChanged(session);
}

// ---------------------------------------------------------------------------------------------
// The event thread

void RtpManager::runEvents(RDThread* thread)
{
    RtpManagerEvent event;
    while (!thread->isStop()) {
        if (waitEvent(thread, event))
            processEvent(event);
    }
}

bool RtpManager::waitEvent(RDThread* thread, RtpManagerEvent& event)
{
    std::unique_lock<std::mutex> lock(m_queueMutex);
    m_queueCondition.wait(lock, [this, thread] { return !m_queue.empty() || thread->isStop(); });
    if (thread->isStop())
        return false;
    event = std::move(m_queue.front());
    m_queue.pop_front();
    return true;
}

void RtpManager::wakeEventThread()
{
    std::lock_guard<std::mutex> lock(m_queueMutex);
    m_queueCondition.notify_all();
}

void RtpManager::processEvent(const RtpManagerEvent& event)
{
    switch (event.type) {
    case RtpManagerEvent::kStart:
        if (startRtpInfo(event.info, event.source, event.startedType) < 0)
            RDLOG("queued start of source %d on channel %d failed", event.source, event.info.id);
        break;
    case RtpManagerEvent::kStop:
        if (event.session)
            sessionFinished(event);
        else
            stopRtpInfo(event.info, event.source, event.startedType);
        break;
    case RtpManagerEvent::kSipPort:
        reloadSipPort(event.source);
        break;
    case RtpManagerEvent::kStarted: {
        const RtpInfo info = sessionRecord(event);
        m_openLoops.insert(event.session);
        notifyObservers(kNoticeStarted, info);
        break;
    }
    case RtpManagerEvent::kChanged:
        // A change reported before the loop's start was told, or after its end, is not told.
        if (m_openLoops.count(event.session))
            notifyObservers(kNoticeChanged, sessionRecord(event));
        break;
    default:
        RDLOG("channel manager event of unknown type %d dropped", event.type);
        break;
    }
}

void RtpManager::sessionFinished(const RtpManagerEvent& event)
{
    {
        std::lock_guard<std::mutex> lock(m_listMutex);
        auto it = findBySerial(event.session);
        // A session that is sending again started a new loop after this one ended: it stays.
        if (it != m_sessions.end() && !it->session->isSending()) {
            writePlayLog(it->session->rtpInfo(), kActionStop, event.source, event.startedType);
            removeSession(it);
        }
    }
    // Every loop that was told started is told stopped, once, and before any later loop of the
    // channel is told started (its start is queued after this event).
    m_openLoops.erase(event.session);
    notifyObservers(kNoticeStopped, event.info);
}

RtpInfo RtpManager::sessionRecord(const RtpManagerEvent& event)
{
    std::lock_guard<std::mutex> lock(m_listMutex);
    auto it = findBySerial(event.session);
    if (it == m_sessions.end())
        return event.info;
    RtpInfo info = it->session->rtpInfo();
    addLiveStatus(info, it->session);
    return info;
}

void RtpManager::reloadSipPort(int port)
{
    RtpManagerSip* sip = m_sip.load();
    if (!sip)
        return;
    const QVector<RtpInfo> infos = getRtpInfos();
    sip->unregisterAll();
    const int current = sip->port();
    if (current <= 0 || current != port) {
        const int result = sip->restart(port);
        if (result < 0)
            RDLOG("SipManager restart on port %d failed: %d", port, result);
    }
    sip->addChannels(infos);
}
