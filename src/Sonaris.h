#pragma once

#include "RDHttpStreamServerObserver.h"
#include "RDSingleInstance.h"
#include "RDSystemNetwork.h"
#include "RtpEngineHost.h"
#include "RtpInfo.h"
#include "RtpManagerObserver.h"
#include "VexaServerObserver.h"
#include "ZvDBObserver.h"

#include <QDate>
#include <QVector>
#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class RDHttpStreamServer;
class VexaDiscovery;
class TUTKServer;
class VexaServer;
class WSServer;
struct VexaDiscoveryInfo;
class ZAVeze;
class ZvDB;

// The one application object: it starts the program as a whole, owns the long-lived servers,
// keeps the GUI thread's own connection to the channel database, offers the settings, answers
// "/api", and shuts everything down again. It lives on the GUI thread; main drives it:
// createInstance, init, (event loop), shutdown, destroyInstance.
//
// Start-up and shutdown are two fixed sequences of steps. Each step that makes an object is
// undone by shutdown only when the object exists, so a shutdown after a start-up that stopped
// early (a second instance) touches nothing that was never made. The servers answer requests
// only while everything that serves them exists: they start last and stop first.
//
// The owned servers, each made in init and undone in shutdown: LAN discovery (VexaDiscovery),
// the P2P server (TUTKServer, over the loopback stand-in of the vendor's P2P SDK; it runs only
// while an enabled connection code carries a UID) and the WebSocket server (WSServer). The two
// remote servers are made with this object as their observer and listed with addRemoteServer
// (P2P first), which is how they get the credentials and the channel notifications.
class Sonaris : public QObject,
                public RtpManagerObserver,
                public VexaServerObserver,
                public RDHttpStreamServerObserver,
                public ZvDBObserver,
                public RtpEngineHost
{
public:
    static constexpr const char* kOrganizationName = "Quorvel";
    static constexpr const char* kApplicationName = "Quorvel Sonaris";
    static constexpr const char* kVersion = "3.2.9";
    // Overrides the application directory (where "database", "log", "crash", "language" and
    // "winpcap" are looked for), so that tests and a second copy keep their own files.
    static constexpr const char* kAppDirVariable = "SONARIS_APP_DIR";
    // The most HTTP stream listeners at once; more are answered 503. "/api" never waits for them.
    static constexpr int kHttpMaxClients = 20;
    static constexpr int kLogKeepDays = 30;
    // The log folder's share of the disk: a run's file rolls over at kLogFileBytes, and each new
    // file first removes the oldest log files beyond kLogFolderBytes. 256 MiB hold months of
    // ordinary runs, and still the last 8 hours of an app that polls the channel list five
    // times a second.
    static constexpr int kLogFileBytes = 16 * 1024 * 1024;
    static constexpr int64_t kLogFolderBytes = 256 * 1024 * 1024;

    // The process-wide instance: made and initialised on the GUI thread.
    static Sonaris* createInstance();
    // Null before createInstance and after destroyInstance.
    static Sonaris* instance();
    static void destroyInstance();

    ~Sonaris() override;
    Sonaris(const Sonaris&) = delete;
    Sonaris& operator=(const Sonaris&) = delete;

    // The start-up sequence: 0, or -1 when another instance runs (nothing has been started
    // then). The arguments are not used.
    int init(int argc, char** argv);
    // Stops and deletes, in order, what init made. Safe after a failed init and when repeated.
    void shutdown();

    // The folder of the executable, or the one that SONARIS_APP_DIR names.
    static QString applicationDir();

    // Removes the "yyyyMMddHHmmss.log" files (and "yyyyMMddHHmmss-N.log" of roll-overs within
    // a second) of the log folder dated more than 30 days before today, then opens this run's
    // log file there with the size limits above.
    void purgeOldLogs();
    // The removal alone, for a given folder and day: the number of files removed. Files whose
    // names are not such a date are kept.
    static int purgeLogFolder(const QString& folder, const QDate& today);

    // Restart helpers of the options pages (GUI thread). The HTTP server is one object for the
    // whole run: stopping it leaves it in place for the channels' streams, restarting it reads
    // "http port" again.
    int restartHttpServer();
    void stopHttpServer();
    // Applies "api enable"/"api port" to the WebSocket server, and a connection code to the P2P
    // server: whether the server is up afterwards (false without such a server). The P2P server
    // is stopped, then, when enabled and the code decodes to a UID, started under that UID:
    // true once logged in (a failed login is retried in the background, and false returned).
    bool updateApiServer(bool enable, int port);
    bool updateVexaCode(bool enable, const QString& code);
    void updateAuth(bool enable, const QString& username, const QString& password);
    // What remote apps authenticate with: the lower-case hex MD5 of the password's UTF-8 bytes.
    static QString authDigest(const QString& password);

    // The server object (null before init made it and after shutdown).
    std::shared_ptr<RDHttpStreamServer> httpServer() const { return m_httpServer; }
    // The LAN device tool, on the adapter of "network name" (null before init and after
    // shutdown). Its commands run on worker threads; start, stop and setNetwork on this thread.
    ZAVeze* deviceTool() const { return m_deviceTool.get(); }
    // The remote servers (null before init made them and after shutdown).
    TUTKServer* p2pServer() const { return m_p2pServer.get(); }
    WSServer* webSocketServer() const { return m_wsServer.get(); }

    // Settings, from any thread: the GUI thread reads through the object's own connection, any
    // other thread through a connection of its own for the one call.
    int setting(const QString& key, QString& value);
    void setSetting(const QString& key, const QString& value);

    int apiEnable();
    int apiPort();
    int authEnable();
    QString authPassword();
    QString authUsername();
    int autoRun();
    int httpPort();
    QString language();
    RDSystemNetwork network() override;
    int sipPort() override;
    QString vexaCode();
    int vexaCodeEnable();
    QString installationId();

    void setApiEnable(int value);
    void setApiPort(int value);
    void setAuthEnable(int value);
    void setAuthPassword(const QString& value);
    void setAuthUsername(const QString& value);
    void setAutoRun(int value);
    void setHttpPort(int value);
    void setLanguage(const QString& value);
    void setNetworkName(const QString& value);
    void setSipPort(int value);
    void setVexaCode(const QString& value);
    void setVexaCodeEnable(int value);

    // The remote servers that get the credentials and the channel notifications, in the order
    // notifications go out (P2P, then WebSocket). A server added gets the current credentials.
    // GUI thread; a server is removed before it is destroyed.
    void addRemoteServer(VexaServer* server);
    void removeRemoteServer(VexaServer* server);

    // VexaServerObserver: every message of a remote client goes to ZvAPI (the client's read
    // thread, under its server's observer lock); dropped outside start-up and shutdown.
    void onClientData(VexaServer* server, const std::shared_ptr<VexaClient>& client, VexaBuffer& buffer) override;

    // RtpManagerObserver: the notifications to remote apps (event thread of the manager).
    void onRtpStarted(const RtpInfo& info) override;
    void onRtpStopped(const RtpInfo& info) override;
    void onRtpInfoChanged(const RtpInfo& info) override;

    // RDHttpStreamServerObserver: "/api" (a connection thread of the HTTP server).
    void onRequest(RDHttpStreamServer* server, RDHttpConnection* connection, RDHttpBaseRequest* request) override;

    // ZvDBObserver: the import replaces the database file under the object's connection; the
    // channel engine's schedules and SIP accounts then follow the new file.
    void onImportBegin() override;
    void onImportEnd() override;

    // RtpEngineHost: the channels' streams go to the one server.
    std::shared_ptr<RDHttpStreamServer> httpStreamServer() override { return m_httpServer; }

private:
    Sonaris();

    bool onOwnThread() const;
    int intSetting(const char* key);
    int portSetting(const char* key, int defaultPort);
    QString textSetting(const char* key);
    void setIntSetting(const char* key, int value);

    void installCrashHandler();
    bool takeInstanceLock();
    void checkCaptureDriver();
    void initLanguage();
    void initDatabases();
    void configureHttpServer();
    // What LAN discovery answers, from the settings of the moment (discovery thread).
    VexaDiscoveryInfo discoveryInfo();
    std::vector<VexaServer*> remoteServers() const;
    void notifyRemote(const char* method, const RtpInfo& info);

    RDSingleInstance m_instanceLock;
    bool m_lockHeld = false;
    std::unique_ptr<ZvDB> m_db;

    // Owned servers and tools, made by init: discovery, then the P2P server, then the WebSocket
    // server.
    std::unique_ptr<ZAVeze> m_deviceTool;
    std::unique_ptr<TUTKServer> m_p2pServer;
    std::shared_ptr<RDHttpStreamServer> m_httpServer;
    std::unique_ptr<VexaDiscovery> m_discovery;
    std::unique_ptr<WSServer> m_wsServer;

    bool m_loggerOpen = false;
    bool m_hostRegistered = false;
    bool m_portManagerMade = false;
    bool m_managerMade = false;
    bool m_observing = false;
    bool m_apiMade = false;

    // Read by the manager's event thread and the servers' read threads while the GUI thread
    // may change them.
    mutable std::mutex m_remoteLock;
    std::vector<VexaServer*> m_remoteServers;
    int m_authEnable = 0;
    std::string m_authUsername;
    std::string m_authDigest;
    // The stored channels while an import replaces the file (GUI thread).
    QVector<RtpInfo> m_channelsBeforeImport;
    // True while everything a request needs exists (the channel manager and ZvAPI): requests
    // that arrive outside that window are dropped.
    std::atomic<bool> m_serving{false};
};
