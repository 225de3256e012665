#include "ZvAPI.h"

#include "RDJson.h"
#include "RDJsonParser.h"
#include "RDLog.h"
#include "RtpInfo.h"
#include "RtpManager.h"
#include "Sonaris.h"
#include "VexaClient.h"
#include "VexaServer.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {

ZvAPI* g_instance = nullptr;
std::atomic<ZvAPI::RequestHook> g_requestHook{nullptr};

const char* const kDeviceType = "Zv";
const char* const kMasked = "***";

enum Method
{
    kGetDeviceInfo,
    kAuth,
    kLogin,
    kGetRtp,
    kGetRtpById,
    kStartRtp,
    kStopRtp,
    kStartTalkRtp,
    kStopTalkRtp,
    kStartListenRtp,
    kStopListenRtp,
    kUnknownMethod
};

// Method names are compared without regard to case; keys are not.
const struct
{
    Method method;
    const char* name;
} kMethods[] = {
    {kGetDeviceInfo, "GetDeviceInfo"}, {kAuth, "Auth"},
    {kLogin, "Login"},                 {kGetRtp, "GetRtp"},
    {kGetRtpById, "GetRtpById"},       {kStartRtp, "StartRtp"},
    {kStopRtp, "StopRtp"},             {kStartTalkRtp, "StartTalkRtp"},
    {kStopTalkRtp, "StopTalkRtp"},     {kStartListenRtp, "StartListenRtp"},
    {kStopListenRtp, "StopListenRtp"},
};

Method methodOf(const QString& name)
{
    for (const auto& entry : kMethods) {
        if (name.compare(QLatin1String(entry.name), Qt::CaseInsensitive) == 0)
            return entry.method;
    }
    return kUnknownMethod;
}

// The trigger a start or stop is logged with when the request names none.
int defaultTrigger(int method)
{
    return method == kStopRtp ? RtpInfo::kTriggerApiStop : RtpInfo::kTriggerApi;
}

std::string utf8(const QJsonValue& value)
{
    return RDJson::toString(value).toUtf8().toStdString();
}

} // namespace

ZvAPI* ZvAPI::createInstance(RtpManager* manager, InstallationId installationId)
{
    if (!g_instance)
        g_instance = new ZvAPI(manager, std::move(installationId));
    return g_instance;
}

ZvAPI* ZvAPI::instance()
{
    return g_instance;
}

void ZvAPI::destroyInstance()
{
    delete g_instance;
    g_instance = nullptr;
}

void ZvAPI::setRequestHook(RequestHook hook)
{
    g_requestHook.store(hook);
}

ZvAPI::ZvAPI(RtpManager* manager, InstallationId installationId)
    : m_manager(manager)
    , m_installationId(std::move(installationId))
{
}

QByteArray ZvAPI::maskedText(const QJsonObject& object)
{
    const QJsonValue masked = RDJson::maskPasswords(object, QLatin1String(kMasked));
    return QJsonDocument(masked.toObject()).toJson(QJsonDocument::Compact);
}

void ZvAPI::handleRequest(VexaServer* server, const std::shared_ptr<VexaClient>& client, const QByteArray& bytes)
{
    if (!server || !client)
        return;
    QJsonObject request;
    if (RDJsonParser::parseObject(bytes, &request) != RDJsonParser::Status::Ok) {
        // The text itself stays out of the log: it may be anything, credentials included.
        RDLOG("A request of %d bytes is not a JSON object", bytes.size());
        sendJson(client.get(), QJsonObject{{QStringLiteral("error"), QStringLiteral("invalid json format")}});
        return;
    }
    RDLOG("Read CMD %s", maskedText(request).constData());
    sendJson(client.get(), dispatch(server, client, request));
}

void ZvAPI::sendJson(VexaClient* client, const QJsonObject& reply)
{
    if (!client)
        return;
    const QByteArray text = QJsonDocument(reply).toJson(QJsonDocument::Compact);
    RDLOG("Send CMD %s", maskedText(reply).constData());
    client->send(text.constData(), text.size());
}

void ZvAPI::notify(VexaServer* server, const QString& method, const RtpInfo& info)
{
    if (!server)
        return;
    const uint32_t id = m_counter.fetch_add(1) + 1;
    const QJsonObject message{{QStringLiteral("id"), double(id)},
                              {QStringLiteral("method"), method},
                              {QStringLiteral("rtpId"), info.id}};
    const QByteArray text = QJsonDocument(message).toJson(QJsonDocument::Compact);
    server->sendToAll(text.constData(), text.size());
}

QJsonObject ZvAPI::dispatch(VexaServer* server, const std::shared_ptr<VexaClient>& client, const QJsonObject& request)
{
    QJsonObject reply;
    const auto methodValue = request.constFind(QStringLiteral("method"));
    if (methodValue == request.constEnd()) {
        reply.insert(QStringLiteral("result"), kResultBadRequest);
        return reply;
    }
    const auto id = request.constFind(QStringLiteral("id"));
    if (id != request.constEnd())
        reply.insert(QStringLiteral("id"), id.value());
    reply.insert(QStringLiteral("method"), methodValue.value());

    const Method method = methodOf(methodValue.value().toString());
    if (method == kGetDeviceInfo) {
        getDeviceInfo(server, client.get(), request, reply);
        return reply;
    }
    if (!client->isAuthorized() && server->isAuthEnabled()) {
        const bool isLogin = method == kAuth || method == kLogin;
        reply.insert(QStringLiteral("result"), isLogin ? login(server, client.get(), request) : kResultUnauthorized);
        return reply;
    }
    switch (method) {
    case kAuth:
    case kLogin:
        reply.insert(QStringLiteral("result"), kResultOk);
        break;
    case kUnknownMethod:
        reply.insert(QStringLiteral("result"), kResultUnknownMethod);
        break;
    default:
        channelMethod(method, client, request, reply);
        break;
    }
    return reply;
}

void ZvAPI::getDeviceInfo(VexaServer* server, VexaClient* client, const QJsonObject& request, QJsonObject& reply)
{
    if (request.contains(QStringLiteral("username")) && request.contains(QStringLiteral("password")))
        login(server, client, request);
    reply.insert(QStringLiteral("uid"), m_installationId ? m_installationId() : QString());
    reply.insert(QStringLiteral("name"), QLatin1String(Sonaris::kApplicationName));
    reply.insert(QStringLiteral("type"), QLatin1String(kDeviceType));
    reply.insert(QStringLiteral("version"), QLatin1String(Sonaris::kVersion));
    if (!client->isAuthorized())
        reply.insert(QStringLiteral("auth"), server->isAuthEnabled());
    reply.insert(QStringLiteral("result"), kResultOk);
}

int ZvAPI::login(VexaServer* server, VexaClient* client, const QJsonObject& request)
{
    // A later failing check does not undo an earlier login.
    if (server->checkAuth(utf8(request.value(QStringLiteral("username"))),
                          utf8(request.value(QStringLiteral("password"))))) {
        client->setAuthorized(true);
    } else if (!client->isAuthorized() && server->isAuthEnabled()
               && client->countFailedLogin() == kMaxFailedLogins) {
        // Answered at once, guesses would cost nothing: the connection ends after this reply, so
        // a guesser pays a reconnect (and a handshake) for every few, and the log gets one line
        // per connection instead of two per guess.
        RDLOG("%d failed logins on one connection: it is closed", kMaxFailedLogins);
        client->requestClose();
    }
    return client->isAuthorized() ? kResultOk : kResultUnauthorized;
}

bool ZvAPI::requestedChannel(const QJsonObject& request, RtpInfo& info)
{
    int id = RDJson::toInt(request.value(QStringLiteral("rtpId")));
    if (id <= 0) {
        const QJsonValue rtp = request.value(QStringLiteral("rtp"));
        // Only the object's id counts: the stored record is started, never one made up by the
        // app (an address or source of its choosing).
        if (!rtp.isObject())
            return false;
        id = RtpInfo::fromJson(rtp.toObject()).id;
    }
    if (id <= 0)
        return false;
    m_manager->getRtpInfo(id, info);
    return info.isValid() && info.id == id;
}

void ZvAPI::channelMethod(int method, const std::shared_ptr<VexaClient>& client, const QJsonObject& request,
                          QJsonObject& reply)
{
    if (!m_manager) {
        reply.insert(QStringLiteral("result"), kResultBadRequest);
        return;
    }
    if (RequestHook hook = g_requestHook.load())
        hook(request);
    if (method == kGetRtp) {
        reply.insert(QStringLiteral("result"), kResultOk);
        reply.insert(QStringLiteral("rtps"), RtpInfo::toJsonArray(m_manager->getRtpInfos()));
        return;
    }
    const int rtpId = RDJson::toInt(request.value(QStringLiteral("rtpId")));
    int result = kResultBadRequest;
    RtpInfo info;
    switch (method) {
    case kGetRtpById:
        if (rtpId > 0 && requestedChannel(request, info)) {
            reply.insert(QStringLiteral("rtp"), info.toJson());
            result = kResultOk;
        }
        break;
    case kStartRtp:
    case kStopRtp:
        if (requestedChannel(request, info)) {
            const int trigger = RDJson::toInt(request.value(QStringLiteral("type")), defaultTrigger(method));
            if (method == kStartRtp) {
                result = m_manager->startRtpInfo(info, info.source, trigger);
            } else {
                // A stored channel that is not running has nothing to stop: no error to the app.
                m_manager->stopRtpInfo(info, RtpInfo::kSourceAll, trigger);
                result = kResultOk;
            }
        }
        break;
    case kStartTalkRtp:
        if (rtpId > 0)
            result = m_manager->startTalkRtp(rtpId, client, true);
        break;
    case kStopTalkRtp:
        if (rtpId > 0)
            result = m_manager->stopTalkRtp(rtpId, client);
        break;
    case kStartListenRtp:
        if (rtpId > 0)
            result = m_manager->startListenRtp(rtpId, client);
        break;
    case kStopListenRtp:
        if (rtpId > 0)
            result = m_manager->stopListenRtp(rtpId, client);
        break;
    default:
        break;
    }
    reply.insert(QStringLiteral("result"), result);
}
