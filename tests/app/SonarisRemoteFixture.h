#pragma once

#include "AppRtpReceiver.h"
#include "RtpInfo.h"
#include "RtpManager.h"
#include "Sonaris.h"
#include "TestSupport.h"
#include "VDB.h"
#include "ZvDB.h"

#include "../VexaSDK/FakeVexaServer.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>
#include <vector>

// The application started in this process on a folder of its own (databases, log), with remote
// servers of the test's listed beside (or instead of) its own: their clients' messages go
// through Sonaris to ZvAPI and the real channel manager, and the channel notifications come
// back through them. Channels send PCMU to a loopback receiver; the action log is read with
// sqlite3.
class SonarisRemoteFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SONARIS_REQUIRE_COMMANDS("ffmpeg", "sqlite3");
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(m_runtime.isValid());
        qputenv(Sonaris::kAppDirVariable, m_dir.path().toLocal8Bit());
        m_oldRuntime = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", m_runtime.path().toLocal8Bit());
        sonaris = Sonaris::createInstance();
        {
            ZvDB db;
            db.checkUpgrade();
            db.initDefaults();
        }
        sonaris->setHttpPort(TestSupport::freeTcpPort());
        sonaris->setSipPort(AppRtpReceiver::freeEvenPort());
        ASSERT_EQ(sonaris->init(0, nullptr), 0);
        ASSERT_NE(RtpManager::instance(), nullptr);
        ASSERT_TRUE(receiver.start());
        server.addObserver(sonaris);
        sonaris->addRemoteServer(&server);
    }

    void TearDown() override
    {
        if (Sonaris::instance()) {
            // As the application does with its own servers: stopped first, then unlisted.
            server.stop();
            second.stop();
            sonaris->removeRemoteServer(&server);
            sonaris->removeRemoteServer(&second);
            sonaris->shutdown();
            Sonaris::destroyInstance();
        }
        receiver.stop();
        qunsetenv(Sonaris::kAppDirVariable);
        qputenv("XDG_RUNTIME_DIR", m_oldRuntime);
        VDB::setDataRoot(QString());
    }

    QString path(const QString& relative) const { return m_dir.path() + QLatin1Char('/') + relative; }

    // A stored channel playing a tone of that many seconds (a playlist) or once (a bell) as
    // PCMU to the receiver.
    RtpInfo storeChannel(const QString& name, int source, double seconds)
    {
        const QString tone = path(name + QStringLiteral(".wav"));
        EXPECT_TRUE(TestSupport::makeTone(tone, 440, seconds));
        RtpInfo info;
        info.name = name;
        info.address = QStringLiteral("127.0.0.1:%1").arg(receiver.port());
        info.codec = 0;
        info.volume = 80;
        info.source = source;
        if (source == 32)
            info.bellPath = tone;
        else
            info.playlist = {tone};
        info.id = RtpManager::instance()->addRtpInfo(info);
        EXPECT_GT(info.id, 0);
        return info;
    }

    // Every action-log row as "rtpId,action,source,type", oldest first.
    QStringList logRows()
    {
        const TestSupport::Result result = TestSupport::run(
            QStringLiteral("sqlite3"),
            {QStringLiteral("-cmd"), QStringLiteral(".timeout 10000"), path(QStringLiteral("database/zvlog.db")),
             QStringLiteral("select rtpId||','||action||','||source||','||type from alog order by id;")},
            20000);
        EXPECT_EQ(result.exitCode, 0) << result.err.constData();
        return QString::fromUtf8(result.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    // The text of this run's log files.
    QByteArray logText() const
    {
        QByteArray text;
        const QDir folder(path(QStringLiteral("log")));
        for (const QString& name : folder.entryList({QStringLiteral("*.log")}, QDir::Files)) {
            QFile file(folder.filePath(name));
            if (file.open(QIODevice::ReadOnly))
                text += file.readAll();
        }
        return text;
    }

    // Sends one message as the client's app and returns the reply queued to it (empty when none
    // came); channel notifications queued meanwhile are passed over.
    static std::string ask(const std::shared_ptr<FakeVexaClient>& client, const std::string& message)
    {
        size_t seen = client->messages().size();
        client->deliver(message);
        while (client->waitMessages(seen + 1, 10000)) {
            const std::string text = client->messages()[seen++];
            const QJsonObject object = QJsonDocument::fromJson(QByteArray::fromStdString(text)).object();
            if (!isNotification(object))
                return text;
        }
        return std::string();
    }

    static bool isNotification(const QJsonObject& object)
    {
        const QString method = object.value(QStringLiteral("method")).toString();
        return object.contains(QStringLiteral("rtpId"))
               && (method == QLatin1String("RtpStarted") || method == QLatin1String("RtpStopped")
                   || method == QLatin1String("RtpInfoChanged"));
    }

    static std::string compact(const QJsonValue& value)
    {
        const QJsonDocument document = value.isArray() ? QJsonDocument(value.toArray()) : QJsonDocument(value.toObject());
        return document.toJson(QJsonDocument::Compact).toStdString();
    }

    Sonaris* sonaris = nullptr;
    AppRtpReceiver receiver;
    FakeVexaServer server;
    // A second server for the tests that need two (the P2P and the WebSocket one).
    FakeVexaServer second;

private:
    QTemporaryDir m_dir;
    QTemporaryDir m_runtime;
    QByteArray m_oldRuntime;
};
