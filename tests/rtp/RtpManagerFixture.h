#pragma once

#include "RtpEngineHostDouble.h"
#include "RtpManager.h"
#include "RtpManagerTestDoubles.h"
#include "RtpPortManager.h"
#include "RtpSessionFakeSources.h"
#include "RtpSessionReceiver.h"
#include "TestSupport.h"
#include "VDB.h"
#include "ZvDB.h"
#include "ZvDBLog.h"
#include "RtpPortManagerScope.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <functional>

// A channel manager over real databases in a data root of the test's own, with the test's SIP
// side and scheduler, sending to a loopback receiver; the action log is read back with the
// sqlite3 command.
class RtpManagerFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        VDB::setDataRoot(m_dir.path());
        {
            ZvDB db;
            ASSERT_TRUE(db.isOpen());
            db.checkUpgrade();
        }
        {
            ZvDBLog log;
            ASSERT_TRUE(log.isOpen());
            log.checkUpgrade();
        }
        if (!RtpPortManager::instance()) {
            RtpPortManager::createInstance();
            RtpPortManagerScope::spread();
        }
        ASSERT_TRUE(receiver.start());
    }

    void TearDown() override
    {
        RtpManager::destroyInstance();
        manager = nullptr;
        RtpPortManager::destroyInstance();
        receiver.stop();
        VDB::setDataRoot(QString());
    }

    // Starts the manager (its sessions' sources from factory, or the real ones).
    RtpManagerTestManager* startManager(RtpSessionDouble::Factory factory = RtpSessionDouble::Factory())
    {
        auto* made = new RtpManagerTestManager;
        made->factory = std::move(factory);
        sip = made->sip;
        schedulerLog = made->scheduler;
        manager = made;
        EXPECT_EQ(RtpManager::createInstance(made), made);
        made->addObserver(&recorder);
        return made;
    }

    // A stored channel sending PCMU to the receiver.
    RtpInfo storeChannel(const QString& name, int source = RtpInfo::kSourcePlaylist)
    {
        RtpInfo info;
        info.name = name;
        info.address = QStringLiteral("127.0.0.1:%1").arg(receiver.port());
        info.codec = 0;
        info.volume = 80;
        info.source = source;
        ZvDB db;
        info.id = db.insertZvRtp(ZvDB::toZvRtp(info));
        EXPECT_GT(info.id, 0);
        return info;
    }

    QString logFile() const { return m_dir.path() + QStringLiteral("/database/zvlog.db"); }
    QString channelFile() const { return m_dir.path() + QStringLiteral("/database/zv.db"); }
    QString folder() const { return m_dir.path(); }

    // Every action-log row as "rtpId,action,source,type", oldest first, read by sqlite3.
    QStringList logRows()
    {
        const TestSupport::Result result = TestSupport::run(
            QStringLiteral("sqlite3"),
            {QStringLiteral("-cmd"), QStringLiteral(".timeout 10000"), logFile(),
             QStringLiteral("select rtpId||','||action||','||source||','||type from alog order by id;")},
            20000);
        EXPECT_EQ(result.exitCode, 0) << result.err.constData();
        return QString::fromUtf8(result.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    // The rows of one channel, without its id.
    QStringList logRows(int id)
    {
        QStringList rows;
        const QString prefix = QStringLiteral("%1,").arg(id);
        for (const QString& row : logRows()) {
            if (row.startsWith(prefix))
                rows.append(row.mid(prefix.size()));
        }
        return rows;
    }

    static bool waitUntil(const std::function<bool()>& condition, int timeoutMs)
    {
        return RtpSessionFakeSources::waitUntil(condition, timeoutMs);
    }
    static void sleepMs(int ms) { RtpSessionFakeSources::sleepMs(ms); }
    // Waits until the observers have heard nothing new for quietMs and condition holds.
    bool waitQuiet(const std::function<bool()>& condition, int timeoutMs, int quietMs = 500)
    {
        size_t heard = recorder.notices().size();
        auto since = std::chrono::steady_clock::now();
        return waitUntil(
            [&] {
                const size_t now = recorder.notices().size();
                if (now != heard) {
                    heard = now;
                    since = std::chrono::steady_clock::now();
                    return false;
                }
                return std::chrono::steady_clock::now() - since > std::chrono::milliseconds(quietMs) && condition();
            },
            timeoutMs);
    }

    RtpEngineHostDouble host;
    RtpSessionReceiver receiver;
    RtpManagerRecorder recorder;
    RtpManagerTestManager* manager = nullptr;
    std::shared_ptr<RtpManagerFakeSip::State> sip;
    std::shared_ptr<RtpManagerCallLog> schedulerLog;

private:
    QTemporaryDir m_dir;
};
