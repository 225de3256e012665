#pragma once

#include "RtpInfo.h"
#include "RtpManager.h"
#include "RtpManagerObserver.h"
#include "RtpManagerScheduler.h"
#include "RtpManagerSip.h"
#include "RtpSessionDouble.h"
#include "RtpSessionFakeReader.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

// What the manager asked of its SIP side and scheduler, in order, in a log that outlives them
// (the manager deletes both).
class RtpManagerCallLog
{
public:
    void add(const QString& call)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls.append(call);
    }
    QStringList calls()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_calls;
    }
    int indexOf(const QString& call)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_calls.indexOf(call);
    }
    void clear()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls.clear();
    }

private:
    std::mutex m_mutex;
    QStringList m_calls;
};

// The SIP side for manager tests: records the calls; registration states and calls on channels
// are what the test sets. A channel's call offers a fake reader (tag 64) that the "call" owns.
class RtpManagerFakeSip : public RtpManagerSip
{
public:
    struct State
    {
        RtpManagerCallLog log;
        std::mutex mutex;
        int port = 0;
        std::map<int, int> registration;        // channel id -> state
        std::set<int> callChannels;              // channels with a call
        std::atomic<int> devicesAlive{0};

        void setCall(int id, bool present)
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (present)
                callChannels.insert(id);
            else
                callChannels.erase(id);
        }
    };

    explicit RtpManagerFakeSip(std::shared_ptr<State> state) : m_state(std::move(state)) {}

    int init(int port, int transport) override
    {
        m_state->log.add(QStringLiteral("init %1 %2").arg(port).arg(transport));
        std::lock_guard<std::mutex> lock(m_state->mutex);
        m_state->port = port;
        return 0;
    }
    void uninit() override
    {
        m_state->log.add(QStringLiteral("uninit"));
        std::lock_guard<std::mutex> lock(m_state->mutex);
        m_state->port = 0;
    }
    int restart(int port) override
    {
        m_state->log.add(QStringLiteral("restart %1").arg(port));
        std::lock_guard<std::mutex> lock(m_state->mutex);
        m_state->port = port;
        return 0;
    }
    void unregisterAll() override { m_state->log.add(QStringLiteral("unregisterAll")); }
    int port() override
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        return m_state->port;
    }
    bool addChannel(const RtpInfo& info) override
    {
        m_state->log.add(QStringLiteral("add %1").arg(info.id));
        return info.sip.status != 0 && info.id > 0;
    }
    bool removeChannel(const RtpInfo& info) override
    {
        m_state->log.add(QStringLiteral("remove %1").arg(info.id));
        return true;
    }
    int channelState(int id) override
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        auto it = m_state->registration.find(id);
        return it == m_state->registration.end() ? 0 : it->second;
    }
    // The texts themselves are the SIP agent's; here they name the state.
    QString statusText(int id) override
    {
        const int state = channelState(id);
        return state ? QStringLiteral("state %1").arg(state) : QString();
    }
    int findCallSource(const RtpInfo& info, std::shared_ptr<RTPAudioReader>* source) override
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        if (!m_state->callChannels.count(info.id))
            return -1;
        ++m_state->devicesAlive;
        std::weak_ptr<State> state = m_state;
        auto made = std::shared_ptr<RtpSessionFakeReader>(new RtpSessionFakeReader(64), [state](RtpSessionFakeReader* r) {
            if (auto alive = state.lock())
                --alive->devicesAlive;
            delete r;
        });
        made->setPayloadType(0);
        *source = made;
        return 0;
    }
    void endCalls(const RtpInfo& info) override { m_state->log.add(QStringLiteral("endCalls %1").arg(info.id)); }

private:
    std::shared_ptr<State> m_state;
};

// The scheduler for manager tests: records what the manager hands it.
class RtpManagerFakeScheduler : public RtpManagerScheduler
{
public:
    explicit RtpManagerFakeScheduler(std::shared_ptr<RtpManagerCallLog> log) : m_log(std::move(log)) {}
    ~RtpManagerFakeScheduler() override { m_log->add(QStringLiteral("deleted")); }

    bool startScheduling() override
    {
        m_log->add(QStringLiteral("start"));
        return true;
    }
    void stopScheduling() override { m_log->add(QStringLiteral("stop")); }
    void addRtpInfos(const QVector<RtpInfo>& infos) override
    {
        m_log->add(QStringLiteral("addAll %1").arg(infos.size()));
    }
    void updateRtpInfo(const RtpInfo& info) override { m_log->add(QStringLiteral("update %1").arg(info.id)); }
    void removeRtpInfo(const RtpInfo& info) override { m_log->add(QStringLiteral("remove %1").arg(info.id)); }

private:
    std::shared_ptr<RtpManagerCallLog> m_log;
};

// A session whose remote-app source, like its other sources, comes from the test's factory.
class RtpManagerTestSession : public RtpSessionDouble
{
public:
    explicit RtpManagerTestSession(Factory factory) : RtpSessionDouble(factory), m_talkFactory(std::move(factory)) {}
    ~RtpManagerTestSession() override { stopAll(0); }

protected:
    RTPAudioReader* createTalkSource(const std::shared_ptr<VexaClient>&) override
    {
        return m_talkFactory ? m_talkFactory(RtpInfo::kSourceSdk, rtpInfo()) : nullptr;
    }
    // The SIP call comes from the manager's SIP side, as in the application.
    int findSipSource(const RtpInfo& info, std::shared_ptr<RTPAudioReader>* source) override
    {
        return RtpInfoSession::findSipSource(info, source);
    }
    void endSipCalls(const RtpInfo& info) override { RtpInfoSession::endSipCalls(info); }

private:
    Factory m_talkFactory;
};

// The manager with the test's SIP side and scheduler, and sessions whose sources come from a
// factory (none: the application's sessions and sources).
class RtpManagerTestManager : public RtpManager
{
public:
    std::shared_ptr<RtpManagerFakeSip::State> sip = std::make_shared<RtpManagerFakeSip::State>();
    std::shared_ptr<RtpManagerCallLog> scheduler = std::make_shared<RtpManagerCallLog>();
    RtpSessionDouble::Factory factory;

    using RtpManager::init;
    using RtpManager::shutdown;

protected:
    RtpInfoSession* createSession() override
    {
        return factory ? new RtpManagerTestSession(factory) : RtpManager::createSession();
    }
    std::unique_ptr<RtpManagerSip> createSip() override { return std::make_unique<RtpManagerFakeSip>(sip); }
    RtpManagerScheduler* createScheduler() override { return new RtpManagerFakeScheduler(scheduler); }
};

// Hears the manager: every notice with its channel id and thread, in order.
class RtpManagerRecorder : public RtpManagerObserver
{
public:
    struct Notice
    {
        char kind; // 'S' started, 'C' changed, 'P' stopped
        int id;
        int startedSource;
        std::thread::id thread;
    };

    // Called after each notice is recorded, on the notifying thread.
    std::function<void(char kind, const RtpInfo& info)> during;

    void onRtpStarted(const RtpInfo& info) override { record('S', info); }
    void onRtpStopped(const RtpInfo& info) override { record('P', info); }
    void onRtpInfoChanged(const RtpInfo& info) override { record('C', info); }

    std::vector<Notice> notices()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_notices;
    }
    // The kinds heard for one channel, e.g. "SCCP".
    std::string sequence(int id)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::string kinds;
        for (const Notice& notice : m_notices) {
            if (notice.id == id)
                kinds += notice.kind;
        }
        return kinds;
    }
    int count(char kind, int id)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        int n = 0;
        for (const Notice& notice : m_notices)
            n += notice.kind == kind && notice.id == id;
        return n;
    }
    // The threads that notified.
    std::set<std::thread::id> threads()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::set<std::thread::id> ids;
        for (const Notice& notice : m_notices)
            ids.insert(notice.thread);
        return ids;
    }
    // Whether the channel's notices so far are runs of started, changes, stopped, with at most
    // one run still open at the end.
    bool wellOrdered(int id, bool mayEndOpen = false)
    {
        const std::string kinds = sequence(id);
        bool open = false;
        for (char kind : kinds) {
            if (kind == 'S') {
                if (open)
                    return false;
                open = true;
            } else if (kind == 'C') {
                if (!open)
                    return false;
            } else if (kind == 'P') {
                if (!open)
                    return false;
                open = false;
            }
        }
        return mayEndOpen || !open;
    }

private:
    void record(char kind, const RtpInfo& info)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_notices.push_back(Notice{kind, info.id, info.startedSource, std::this_thread::get_id()});
        }
        if (during)
            during(kind, info);
    }

    std::mutex m_mutex;
    std::vector<Notice> m_notices;
};
