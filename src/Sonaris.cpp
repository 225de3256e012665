#include "Sonaris.h"

#include "QBreakpadHandler.h"
#include "RDHttpBaseRequest.h"
#include "RDHttpConnection.h"
#include "RDHttpStreamServer.h"
#include "RDHttpTextResponse.h"
#include "RDLanguage.h"
#include "RDLog.h"
#include "RTPSipManager.h"
#include "RtpManager.h"
#include "RtpPortManager.h"
#include "SonarisHttpApi.h"
#include "SonarisPrompt.h"
#include "SonarisSettings.h"
#include "TUTKServer.h"
#include "VDB.h"
#include "VexaBuffer.h"
#include "VexaDiscovery.h"
#include "VexaCode.h"
#include "VexaCodeInfo.h"
#include "VexaServer.h"
#include "WSServer.h"
#include "ZAVeze.h"
#include "ZvDB.h"
#include "ZvAPI.h"
#include "ZvDBLog.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <algorithm>
#include <csignal>

namespace {

Sonaris* g_instance = nullptr;

const char* const kConnectionName = "Sonaris";
const char* const kLogDateFormat = "yyyyMMddHHmmss";
const char* const kCaptureDriverName = "npcap";
const char* const kCaptureDriverInstaller = "winpcap/npcap-1.75.exe";
// The WebSocket API listens on every interface.
const char* const kApiHost = "0.0.0.0";

QString appPath(const char* relative)
{
    return Sonaris::applicationDir() + QLatin1Char('/') + QLatin1String(relative);
}

bool makeFolder(const QString& path)
{
    return QFileInfo(path).isDir() || QDir().mkpath(path);
}

} // namespace

Sonaris* Sonaris::createInstance()
{
    if (!g_instance)
        g_instance = new Sonaris();
    return g_instance;
}

Sonaris* Sonaris::instance()
{
    return g_instance;
}

void Sonaris::destroyInstance()
{
    delete g_instance;
    g_instance = nullptr;
}

Sonaris::Sonaris()
    : m_instanceLock(kApplicationName)
{
    // Before the first database opens, so that every connection of the run finds its files
    // in the same application directory.
    VDB::setDataRoot(applicationDir());
    m_db = std::make_unique<ZvDB>(false);
    m_db->open(QLatin1String(kConnectionName));
    ZvDB::addObserver(this);
}

Sonaris::~Sonaris()
{
    shutdown();
    ZvDB::removeObserver(this);
    m_db.reset();
}

QString Sonaris::applicationDir()
{
    const QByteArray overridden = qgetenv(kAppDirVariable);
    if (!overridden.isEmpty())
        return QDir::cleanPath(QDir(QString::fromLocal8Bit(overridden)).absolutePath());
    return QCoreApplication::applicationDirPath();
}

int Sonaris::init(int argc, char** argv)
{
    Q_UNUSED(argc);
    Q_UNUSED(argv);
    QCoreApplication::setOrganizationName(QLatin1String(kOrganizationName));
    QCoreApplication::setApplicationName(QLatin1String(kApplicationName));
    QCoreApplication::setApplicationVersion(QLatin1String(kVersion));
    // Sockets report a closed peer as an error instead of ending the process.
    std::signal(SIGPIPE, SIG_IGN);
    installCrashHandler();
    if (!takeInstanceLock())
        return -1;
    checkCaptureDriver();
    purgeOldLogs();
    RDLOG("%s %s starts in %s", kApplicationName, kVersion,
          qUtf8Printable(applicationDir()));
    initLanguage();
    initDatabases();

    m_deviceTool = std::make_unique<ZAVeze>();
    m_deviceTool->setNetwork(network());
    m_deviceTool->start();

    m_discovery = std::make_unique<VexaDiscovery>([this]() { return discoveryInfo(); });
    const RDSystemNetwork adapter = network();
    m_discovery->setAddress(adapter.ip().toStdString(), adapter.netmask().toStdString());
    m_discovery->start();

    // The remote servers, made with this object as observer and listed with addRemoteServer,
    // P2P first; not started: only the steps at the end start them.
    m_p2pServer = std::make_unique<TUTKServer>();
    m_p2pServer->addObserver(this);
    addRemoteServer(m_p2pServer.get());
    m_wsServer = std::make_unique<WSServer>();
    m_wsServer->addObserver(this);
    addRemoteServer(m_wsServer.get());

    // The HTTP server exists from here on, so that the channel manager's streams always find
    // it; it is started last.
    m_httpServer = std::make_shared<RDHttpStreamServer>();
    configureHttpServer();

    updateAuth(authEnable() != 0, authUsername(), authPassword());

    RtpEngineHost::setInstance(this);
    m_hostRegistered = true;
    RtpPortManager::createInstance();
    m_portManagerMade = true;
    // The SIP agent stands above the channel engine: the engine is handed what makes it.
    RtpManager::createInstance(
        [](RtpManagerQueue* queue) { return std::make_unique<RTPSipManager>(queue); });
    m_managerMade = true;
    ZvAPI::createInstance(RtpManager::instance(), [this] { return installationId(); });
    m_apiMade = true;
    RtpManager::instance()->addObserver(this);
    m_observing = true;
    m_serving = true;

    // Everything a request needs exists: the servers may start.
    m_httpServer->start();
    updateVexaCode(vexaCodeEnable() != 0, vexaCode());
    updateApiServer(apiEnable() != 0, apiPort());
    RDLOG("Start-up done");
    return 0;
}

void Sonaris::shutdown()
{
    if (m_observing) {
        if (RtpManager* manager = RtpManager::instance())
            manager->removeObserver(this);
        m_observing = false;
    }
    m_serving = false;

    // First the servers, so that no request is in flight once what serves it goes away.
    if (m_wsServer) {
        m_wsServer->stop();
        removeRemoteServer(m_wsServer.get());
        m_wsServer.reset();
    }
    if (m_p2pServer) {
        m_p2pServer->stop();
        removeRemoteServer(m_p2pServer.get());
        m_p2pServer.reset();
    }
    if (m_discovery) {
        m_discovery->stop();
        m_discovery.reset();
    }
    if (m_httpServer)
        m_httpServer->stop();

    if (m_apiMade) {
        ZvAPI::destroyInstance();
        m_apiMade = false;
    }
    if (m_managerMade) {
        RtpManager::destroyInstance();
        m_managerMade = false;
    }
    if (m_portManagerMade) {
        RtpPortManager::destroyInstance();
        m_portManagerMade = false;
    }
    if (m_hostRegistered) {
        RtpEngineHost::setInstance(nullptr);
        m_hostRegistered = false;
    }

    m_httpServer.reset();
    if (m_deviceTool) {
        m_deviceTool->stop();
        m_deviceTool.reset();
    }
    if (m_loggerOpen) {
        RDLOG("Shutdown done");
        RDLog::instance()->close();
        m_loggerOpen = false;
    }
    if (m_lockHeld) {
        m_instanceLock.unlock();
        m_lockHeld = false;
    }
}

void Sonaris::installCrashHandler()
{
    QBreakpadHandler::instance()->setDumpPath(appPath("crash"));
}

bool Sonaris::takeInstanceLock()
{
    if (m_lockHeld)
        return true;
    if (!m_instanceLock.lock()) {
        SonarisPrompt::show(SonarisPrompt::kWarning, RDLanguage::translate(QStringLiteral("Program already running")),
                            RDLanguage::translate(QStringLiteral("OK")), RDLanguage::translate(QStringLiteral("Cancel")));
        return false;
    }
    m_lockHeld = true;
    return true;
}

void Sonaris::checkCaptureDriver()
{
    if (RDSystemNetwork::isInstalled(QLatin1String(kCaptureDriverName)))
        return;
    const int answer =
        SonarisPrompt::show(SonarisPrompt::kInformation, RDLanguage::translate(QStringLiteral("Please install npcap first")),
                            RDLanguage::translate(QStringLiteral("Install")), RDLanguage::translate(QStringLiteral("Cancel")));
    if (answer != SonarisPrompt::kYes)
        return;
    const QString installer = appPath(kCaptureDriverInstaller);
    if (!QFileInfo(installer).isFile()) {
        qWarning("No driver installer at %s", qUtf8Printable(installer));
        return;
    }
    // The operator asked for it: wait for the installer as long as it runs.
    const int code = QProcess::execute(installer, QStringList());
    qWarning("%s ended with %d", qUtf8Printable(installer), code);
}

void Sonaris::purgeOldLogs()
{
    const QString folder = appPath("log");
    makeFolder(folder);
    purgeLogFolder(folder, QDate::currentDate());
    RDLog::instance()->init(folder.toStdString(), kLogFileBytes, kLogFolderBytes);
    m_loggerOpen = true;
}

int Sonaris::purgeLogFolder(const QString& folder, const QDate& today)
{
    int removed = 0;
    const QFileInfoList files = QDir(folder).entryInfoList({QStringLiteral("*.log")}, QDir::Files);
    for (const QFileInfo& file : files) {
        // A roll-over within a second gives the name a "-N" suffix; its date is the same.
        if (!RDLog::isLogFileName(file.fileName().toStdString()))
            continue;
        const QDateTime stamp = QDateTime::fromString(file.fileName().left(14), QLatin1String(kLogDateFormat));
        if (!stamp.isValid() || stamp.date().daysTo(today) <= kLogKeepDays)
            continue;
        if (QFile::remove(file.absoluteFilePath())) {
            qDebug().noquote() << "remove" << file.fileName();
            ++removed;
        }
    }
    return removed;
}

void Sonaris::initLanguage()
{
    const QString folder = appPath("language");
    RDLanguage::setLanguagePath(folder);
    QString name = language();
    if (name.isEmpty())
        name = QLatin1String(SonarisSettings::kDefaultLanguage);
    // The windows show English either way, so only the log can tell a missing table apart.
    if (RDLanguage::initLanguage(name))
        RDLOG("Language %s from %s", qUtf8Printable(name), qUtf8Printable(folder));
    else
        RDLOG("Language %s: no readable table in %s, the texts show in English", qUtf8Printable(name),
              qUtf8Printable(folder));
}

void Sonaris::initDatabases()
{
    {
        ZvDB db;
        db.checkUpgrade();
        db.initDefaults();
    }
    {
        ZvDBLog log;
        log.checkUpgrade();
    }
}

void Sonaris::configureHttpServer()
{
    RDHttpServerConfigure configure = m_httpServer->configure();
    configure.port = httpPort();
    configure.maxClients = kHttpMaxClients;
    m_httpServer->setConfigure(configure);
    m_httpServer->setObserver(this);
}

int Sonaris::restartHttpServer()
{
    if (!m_httpServer)
        return -1;
    m_httpServer->stop();
    configureHttpServer();
    return m_httpServer->start();
}

void Sonaris::stopHttpServer()
{
    if (m_httpServer)
        m_httpServer->stop();
}

bool Sonaris::updateApiServer(bool enable, int port)
{
    if (!m_wsServer)
        return false;
    // A server that listens on that port already keeps its clients; one whose port was busy at
    // its last start is not listening and tries again.
    if (enable && m_wsServer->isListening() && m_wsServer->address().port() == port)
        return true;
    m_wsServer->stop();
    if (!enable)
        return false;
    m_wsServer->setAddress(RDSocketAddress(kApiHost, port));
    return m_wsServer->start();
}

VexaDiscoveryInfo Sonaris::discoveryInfo()
{
    VexaDiscoveryInfo info;
    info.apiEnable = apiEnable() != 0;
    info.apiPort = apiPort();
    info.ip = network().ip();
    info.vexaCodeEnable = vexaCodeEnable() != 0;
    info.vexaCode = vexaCode();
    info.uid = installationId();
    info.name = QCoreApplication::applicationName();
    info.version = QLatin1String(kVersion);
    return info;
}

bool Sonaris::updateVexaCode(bool enable, const QString& code)
{
    if (!m_p2pServer)
        return false;
    m_p2pServer->stop();
    if (!enable)
        return false;
    VexaCodeInfo info;
    if (!VexaCode::decode(code, info) || info.payload.isEmpty()) {
        RDLOG("The connection code carries no P2P UID: the P2P server stays stopped");
        return false;
    }
    RDLOG("tutkCode = %s", info.payload.toUtf8().constData());
    m_p2pServer->setUid(info.payload);
    return m_p2pServer->start();
}

void Sonaris::updateAuth(bool enable, const QString& username, const QString& password)
{
    std::lock_guard<std::mutex> lock(m_remoteLock);
    m_authEnable = enable ? 1 : 0;
    m_authUsername = username.toUtf8().toStdString();
    m_authDigest = authDigest(password).toStdString();
    for (VexaServer* server : m_remoteServers)
        server->setAuth(m_authEnable, m_authUsername, m_authDigest);
}

void Sonaris::addRemoteServer(VexaServer* server)
{
    if (!server)
        return;
    std::lock_guard<std::mutex> lock(m_remoteLock);
    if (std::find(m_remoteServers.begin(), m_remoteServers.end(), server) != m_remoteServers.end())
        return;
    server->setAuth(m_authEnable, m_authUsername, m_authDigest);
    m_remoteServers.push_back(server);
}

void Sonaris::removeRemoteServer(VexaServer* server)
{
    std::lock_guard<std::mutex> lock(m_remoteLock);
    m_remoteServers.erase(std::remove(m_remoteServers.begin(), m_remoteServers.end(), server), m_remoteServers.end());
}

std::vector<VexaServer*> Sonaris::remoteServers() const
{
    std::lock_guard<std::mutex> lock(m_remoteLock);
    return m_remoteServers;
}

QString Sonaris::authDigest(const QString& password)
{
    return QString::fromLatin1(QCryptographicHash::hash(password.toUtf8(), QCryptographicHash::Md5).toHex());
}

bool Sonaris::onOwnThread() const
{
    return QThread::currentThread() == thread();
}

int Sonaris::setting(const QString& key, QString& value)
{
    value.clear();
    if (onOwnThread())
        return m_db->getSetting(key, value);
    ZvDB db;
    return db.getSetting(key, value);
}

void Sonaris::setSetting(const QString& key, const QString& value)
{
    if (onOwnThread()) {
        m_db->setSetting(key, value);
        return;
    }
    ZvDB db;
    db.setSetting(key, value);
}

int Sonaris::intSetting(const char* key)
{
    return SonarisSettings::flagValue(textSetting(key));
}

int Sonaris::portSetting(const char* key, int defaultPort)
{
    return SonarisSettings::portValue(textSetting(key), defaultPort);
}

QString Sonaris::textSetting(const char* key)
{
    QString value;
    setting(QLatin1String(key), value);
    return value;
}

void Sonaris::setIntSetting(const char* key, int value)
{
    setSetting(QLatin1String(key), QString::number(value));
}

int Sonaris::apiEnable() { return intSetting(SonarisSettings::kApiEnable); }
int Sonaris::apiPort() { return portSetting(SonarisSettings::kApiPort, SonarisSettings::kDefaultApiPort); }
int Sonaris::authEnable() { return intSetting(SonarisSettings::kAuthEnable); }
QString Sonaris::authPassword() { return textSetting(SonarisSettings::kAuthPassword); }
QString Sonaris::authUsername() { return textSetting(SonarisSettings::kAuthUsername); }
int Sonaris::autoRun() { return intSetting(SonarisSettings::kAutoRun); }
int Sonaris::httpPort() { return portSetting(SonarisSettings::kHttpPort, SonarisSettings::kDefaultHttpPort); }
QString Sonaris::language() { return textSetting(SonarisSettings::kLanguage); }
int Sonaris::sipPort() { return portSetting(SonarisSettings::kSipPort, SonarisSettings::kDefaultSipPort); }
QString Sonaris::vexaCode() { return textSetting(SonarisSettings::kVexaCode); }
int Sonaris::vexaCodeEnable() { return intSetting(SonarisSettings::kVexaCodeEnable); }
QString Sonaris::installationId() { return textSetting(SonarisSettings::kInstallationId); }

RDSystemNetwork Sonaris::network()
{
    return RDSystemNetwork::select(textSetting(SonarisSettings::kNetworkName));
}

void Sonaris::setApiEnable(int value) { setIntSetting(SonarisSettings::kApiEnable, value); }
void Sonaris::setApiPort(int value) { setIntSetting(SonarisSettings::kApiPort, value); }
void Sonaris::setAuthEnable(int value) { setIntSetting(SonarisSettings::kAuthEnable, value); }
void Sonaris::setAuthPassword(const QString& value) { setSetting(QLatin1String(SonarisSettings::kAuthPassword), value); }
void Sonaris::setAuthUsername(const QString& value) { setSetting(QLatin1String(SonarisSettings::kAuthUsername), value); }
void Sonaris::setAutoRun(int value) { setIntSetting(SonarisSettings::kAutoRun, value); }
void Sonaris::setHttpPort(int value) { setIntSetting(SonarisSettings::kHttpPort, value); }
void Sonaris::setLanguage(const QString& value) { setSetting(QLatin1String(SonarisSettings::kLanguage), value); }
void Sonaris::setNetworkName(const QString& value) { setSetting(QLatin1String(SonarisSettings::kNetworkName), value); }
void Sonaris::setSipPort(int value) { setIntSetting(SonarisSettings::kSipPort, value); }
void Sonaris::setVexaCode(const QString& value) { setSetting(QLatin1String(SonarisSettings::kVexaCode), value); }
void Sonaris::setVexaCodeEnable(int value) { setIntSetting(SonarisSettings::kVexaCodeEnable, value); }

void Sonaris::notifyRemote(const char* method, const RtpInfo& info)
{
    ZvAPI* api = ZvAPI::instance();
    if (!api)
        return;
    // One copy per server, in list order, so the two servers' copies of one event carry
    // consecutive ids.
    for (VexaServer* server : remoteServers())
        api->notify(server, QLatin1String(method), info);
}

void Sonaris::onRtpStarted(const RtpInfo& info)
{
    notifyRemote("RtpStarted", info);
}

void Sonaris::onRtpStopped(const RtpInfo& info)
{
    notifyRemote("RtpStopped", info);
}

void Sonaris::onRtpInfoChanged(const RtpInfo& info)
{
    notifyRemote("RtpInfoChanged", info);
}

void Sonaris::onClientData(VexaServer* server, const std::shared_ptr<VexaClient>& client, VexaBuffer& buffer)
{
    ZvAPI* api = ZvAPI::instance();
    if (!m_serving.load() || !api || !RtpManager::instance()) {
        RDLOG("A remote request before start-up or during shutdown is dropped");
        return;
    }
    const uint8_t* bytes = buffer.bytes();
    api->handleRequest(server, client, QByteArray(reinterpret_cast<const char*>(bytes), bytes ? buffer.size() : 0));
}

void Sonaris::onRequest(RDHttpStreamServer* server, RDHttpConnection* connection, RDHttpBaseRequest* request)
{
    if (!SonarisHttpApi::handles(request->path())) {
        server->autoHandlerRequest(connection, request);
        return;
    }
    RtpManager* manager = RtpManager::instance();
    RDHttpTextResponse response;
    if (!m_serving.load() || !manager) {
        RDLOG("Http api request before start-up or during shutdown: %s", request->target().c_str());
        response.setStatus(503);
        response.setText(std::string());
        connection->sendResponse(&response);
        return;
    }
    const std::string body = SonarisHttpApi::answer(*manager, request->query());
    RDLOG("Http api %s -> %s", request->target().c_str(), body.c_str());
    response.setJson(body);
    connection->sendResponse(&response);
}

void Sonaris::onImportBegin()
{
    // The channels of the old file, so that the schedules of those the import drops can go.
    m_channelsBeforeImport.clear();
    if (RtpManager* manager = RtpManager::instance())
        m_channelsBeforeImport = manager->getRtpInfos();
    if (m_db && m_db->isOpen())
        m_db->close();
}

void Sonaris::onImportEnd()
{
    if (m_db)
        m_db->open(QLatin1String(kConnectionName));
    RtpManager* manager = RtpManager::instance();
    if (!manager)
        return;
    // What the channel engine holds of the old file follows the new one: every schedule, and
    // every SIP account on the stored SIP port.
    const QVector<RtpInfo> channels = manager->getRtpInfos();
    for (RtpInfo old : m_channelsBeforeImport) {
        const bool kept = std::any_of(channels.begin(), channels.end(),
                                      [&](const RtpInfo& info) { return info.id == old.id; });
        if (!kept) {
            old.schedule.status = 0;
            manager->reloadSchedule(old);
        }
    }
    for (const RtpInfo& info : channels)
        manager->reloadSchedule(info);
    manager->setSipPort(sipPort());
    m_channelsBeforeImport.clear();
}
