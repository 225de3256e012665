#pragma once

#include "RtpInfo.h"
#include "RtpInfoSessionObserver.h"
#include "RtpManagerControl.h"
#include "RtpManagerEvent.h"
#include "RtpManagerPlayLog.h"
#include "RtpManagerQueue.h"

#include <QString>
#include <QVector>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

class RDSystemNetwork;
class RDThread;
class RtpInfoSession;
class RtpManagerObserver;
class RtpManagerScheduler;
class RtpManagerQueue;
class RtpManagerSip;
class VexaClient;

// The process-wide channel manager: the running channel sessions, started and stopped by source
// kind and trigger for every requester (windows, remote apps, "/api", the scheduler, SIP calls),
// an action-log row for every start and stop request, the channels' rows and their live status,
// and the SIP agent, the scheduler and the event thread it owns.
//
// Threads and locks. Channel operations run on the caller's thread under the session-list lock;
// the lock order is the session-list lock, then a session's lock, then what a session's sources
// take. Sessions and their readers never take the session-list lock: what they report (started,
// changed, finished) is queued, with the identity of the reporting session, for the event thread,
// which is the only thread that calls the observers (with the observer lock held, never with the
// session-list lock held). So a thread that holds the session-list lock and waits for a session's
// threads to end never waits on anything those threads wait for.
//
// A channel is running while the list holds a session of its id whose send loop has not ended.
// A session leaves the list when a stop leaves it without sources, when a later start finds its
// loop ended, or when its finished event reaches the event thread.
class RtpManager : public RtpInfoSessionObserver, public RtpManagerControl, public RtpManagerQueue
{
public:
    // Actions of the action log.
    enum Action
    {
        kActionStart = 0,
        kActionStop = 1
    };

    // Makes the SIP agent above the engine, handed the queue its calls start and stop their
    // source through; null gives a manager without one.
    using SipFactory = std::function<std::unique_ptr<RtpManagerSip>(RtpManagerQueue* queue)>;

    // Makes the manager, opens its action log, makes it the instance and initialises it (SIP
    // agent from sipFactory, scheduler, event thread). The second form takes a manager made by
    // the caller (a subclass, its SIP factory set) and owns it from then on. An instance already
    // there is returned unchanged (and the given manager deleted).
    static RtpManager* createInstance(SipFactory sipFactory = SipFactory());
    static RtpManager* createInstance(RtpManager* manager);
    // Null before createInstance and from the start of destroyInstance on.
    static RtpManager* instance();
    // Stops the event thread, the scheduler, every session and the SIP agent, in that order,
    // and deletes the manager.
    static void destroyInstance();

    RtpManager();
    ~RtpManager() override;
    RtpManager(const RtpManager&) = delete;
    RtpManager& operator=(const RtpManager&) = delete;

    // Before init (createInstance): what makes the SIP agent.
    void setSipFactory(SipFactory factory);
    // The SIP agent, from init until shutdown; null otherwise. Sessions are handed it as their
    // call sources.
    RtpManagerSip* sipManager() const;

    // Starts source kind source on the channel's session, making the session when none runs,
    // after writing the start row: 0, or -1 when the source did not start (a session made for it
    // then ends by itself).
    int startRtpInfo(const RtpInfo& info, int source, int startedType) override;
    // Writes the stop row and stops one source kind (RtpInfo::kSourceAll or -1: all); a session
    // left without sources ends. 0, or -1 (no row) when the channel is not running.
    int stopRtpInfo(const RtpInfo& info, int source, int startedType) override;
    // The remote client's audio as the channel's RtpInfo::kSourceSdk: on the running session, or
    // (create) on a new session of the stored channel. 0, or -1 when there is no session (and
    // create is false), no such channel, or the source did not start.
    int startTalkRtp(int id, const std::shared_ptr<VexaClient>& client, bool create);
    // Drops the channel's remote-app source (the client is not looked at): 0, or -1 without a
    // session. A session left without sources ends by itself.
    int stopTalkRtp(int id, const std::shared_ptr<VexaClient>& client);
    // Sends the channel's audio to the client as well: 0, or -1 without a running session or
    // when the sink cannot be opened.
    int startListenRtp(int id, const std::shared_ptr<VexaClient>& client);
    int stopListenRtp(int id, const std::shared_ptr<VexaClient>& client);
    // Jumps the running playlist to item index, or seeks its item to the fraction progress (index
    // is not looked at): 0, or -1 when the channel plays no playlist.
    int changePlaylistFile(const RtpInfo& info, int index);
    int seekPlaylistFile(const RtpInfo& info, int index, double progress);

    // The stored channel with its live status when it runs; a record with id 0 when there is no
    // such channel. The database result.
    int getRtpInfo(int id, RtpInfo& out) override;
    // Every stored channel, the running ones with their live status, in list order.
    QVector<RtpInfo> getRtpInfos();
    // Stores a new channel and hands it, with its new id, to the SIP agent and the scheduler:
    // the new id, or 0 or less on failure.
    int addRtpInfo(const RtpInfo& info);
    // Writes every column of the channel's row (SIP and schedule are reloaded separately).
    int updateRtpInfo(const RtpInfo& info);
    // Stops the channel when it runs (stop row, RtpInfo::kTriggerManual), drops its SIP account and schedule
    // and deletes its row: the database result.
    int deleteRtpInfo(const RtpInfo& info);
    // Lists the channel first.
    int topRtpInfo(const RtpInfo& info);
    // Hands the record to the scheduler again; 0.
    int reloadSchedule(const RtpInfo& info);
    // Registers the channel's SIP account again; 0.
    int reloadSip(const RtpInfo& info);
    // "Registering", "Register Success" or "Register Failure", translated; empty in any other
    // state or without an account.
    QString getSipStatusText(int id);

    // Observers are called on the event thread in the order they were added; adding one twice
    // keeps one entry. Removing waits for a callback in progress on another thread, and may be
    // called from a callback.
    void addObserver(RtpManagerObserver* observer);
    void removeObserver(RtpManagerObserver* observer);

    // Queued for the event thread (a SIP call's audio up or hung up).
    int queueStartRtpInfo(const RtpInfo& info, int source, int startedType) override;
    int queueStopRtpInfo(const RtpInfo& info, int source, int startedType) override;
    // Queues a reload of the SIP agent on a new local port: every account registers again, and
    // the agent restarts when it does not listen on that port already. 0, or -1 when not queued.
    int setSipPort(int port);

    // What the sessions report; each is queued for the event thread.
    void onSessionStarted(RtpInfoSession* session) override;
    void onSessionFinished(RtpInfoSession* session) override;
    void onSourceChanged(RtpInfoSession* session) override;
    void onFilesItemOpened(RtpInfoSession* session, int index) override;
    void onStreamOpened(RtpInfoSession* session) override;
    void onStreamEnd(RtpInfoSession* session) override;
    void onFileOpened(RtpInfoSession* session) override;
    void onFileFinished(RtpInfoSession* session) override;
    void onSessionChanged(RtpInfoSession* session);

    // The event thread's side: its loop, the next event (false when thread is told to stop
    // first), the work for one event, and the wake-up of a stop.
    void runEvents(RDThread* thread);
    bool waitEvent(RDThread* thread, RtpManagerEvent& event);
    void processEvent(const RtpManagerEvent& event);
    void wakeEventThread();

    // The number of sessions in the list.
    int sessionCount();

protected:
    // What the manager makes; subclasses (tests) give their own. createSip (by default from the
    // SIP factory) and createScheduler may give null (no SIP agent, no schedules run).
    virtual RtpInfoSession* createSession();
    virtual std::unique_ptr<RtpManagerSip> createSip();
    virtual RtpManagerScheduler* createScheduler();

    // Run by createInstance, once.
    void init();
    // Run by destroyInstance, once.
    void shutdown();

private:
    struct Entry
    {
        RtpInfoSession* session = nullptr;
        uint64_t serial = 0;
        int id = 0; // the channel's; every record the session is given carries it
    };
    using Entries = std::vector<Entry>;

    // Under the session-list lock.
    Entries::iterator findById(int id);
    Entries::iterator findBySerial(uint64_t serial);
    RtpInfoSession* runningSession(int id);
    RtpInfoSession* makeSession(int id, const RDSystemNetwork& network, const std::shared_ptr<VexaClient>& talkClient);
    void removeSession(Entries::iterator it);
    // Any listed session of the channel (one whose loop has ended too), holding source kind
    // source when that is not 0; null without one.
    RtpInfoSession* listedSession(int id, int source = 0);
    // call on session with the session's lock held: its result, or -1 for a null session.
    static int callWithSessionLock(RtpInfoSession* session, const std::function<int(RtpInfoSession*)>& call);
    int startSessionSource(RtpInfoSession* session, const RtpInfo& info, int source, int startedType);
    int writePlayLog(const RtpInfo& info, int action, int source, int startedType);
    static void addLiveStatus(RtpInfo& info, RtpInfoSession* session);

    int queueEvent(RtpManagerEvent event);
    void queueSessionEvent(RtpInfoSession* session, int type);
    // On the event thread.
    void sessionFinished(const RtpManagerEvent& event);
    void reloadSipPort(int port);
    RtpInfo sessionRecord(const RtpManagerEvent& event);
    enum Notice
    {
        kNoticeStarted,
        kNoticeChanged,
        kNoticeStopped
    };
    void notifyObservers(Notice notice, const RtpInfo& info);

    // The session list.
    std::mutex m_listMutex;
    Entries m_sessions;
    uint64_t m_lastSerial = 0;
    // Set when shutdown begins: no session is made from then on.
    bool m_closed = false;

    // Which number each listed session has, for what the sessions report: a lock of its own,
    // taken alone, because sessions report from threads that a holder of the session-list lock
    // may be waiting for.
    std::mutex m_serialMutex;
    std::map<const RtpInfoSession*, uint64_t> m_serials;

    SipFactory m_sipFactory;
    std::atomic<RtpManagerSip*> m_sip{nullptr};
    std::atomic<RtpManagerScheduler*> m_scheduler{nullptr};
    RDThread* m_eventThread = nullptr;

    // The event queue; events are taken only while accepting (from init to shutdown).
    std::mutex m_queueMutex;
    std::condition_variable m_queueCondition;
    std::deque<RtpManagerEvent> m_queue;
    bool m_accepting = false;
    // The send-loop runs whose start the observers have heard and whose stop they have not
    // (event thread only).
    std::set<uint64_t> m_openLoops;

    // Recursive, so that an observer may remove itself (or add another) from a callback.
    std::recursive_mutex m_observerMutex;
    std::vector<RtpManagerObserver*> m_observers;

    RtpManagerPlayLog m_playLog;
};
