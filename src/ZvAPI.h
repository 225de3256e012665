#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

class RtpInfo;
class RtpManager;
class VexaClient;
class VexaServer;

// The JSON method protocol that remote apps speak over WebSocket text frames and P2P IO-control
// messages: one JSON object per message; a request names a method, and its one reply echoes the
// request's "id" and "method" and carries an integer "result". Besides replies, the channel
// notifications "RtpStarted", "RtpStopped" and "RtpInfoChanged" go to every client of a server.
//
// ZvAPI holds no connection: it is handed each message with the server and client it came from
// (on that client's read thread, under the server's observer lock), answers the client, and
// broadcasts through a server (on the channel manager's event thread). Its only state is the
// notification counter, shared by every server and thread.
//
// Authentication: each client's login state is its `authorized` flag; a login compares the user
// name and the lower-case hex MD5 of the password with the server's (VexaServer::checkAuth).
// While authentication is on, the kMaxFailedLogins-th failed check of a client that has not
// logged in is still answered, and then its connection is closed (VexaClient::requestClose);
// the notifications reach only clients that have logged in (VexaServer::sendToAll).
// Passwords never reach the log: logged messages show every "password" value as "***".
class ZvAPI
{
public:
    enum Result
    {
        kResultOk = 0,
        kResultBadRequest = -10000,   // no "method", or a required key missing, not positive, or
                                      // naming no stored channel
        kResultUnauthorized = -9999,  // authentication on and not logged in, or wrong credentials
        kResultUnknownMethod = -9998
    };
    // Failed credential checks a connection gets: enough for a user who mistypes, while
    // guessing needs a new connection for every few tries.
    static constexpr int kMaxFailedLogins = 5;
    // Where the "uid" of "GetDeviceInfo" comes from (the installation id setting).
    using InstallationId = std::function<QString()>;
    // Called inside every channel method, on the request's thread, while this object and the
    // channel manager are in use and before the manager is called. A test seam: it lets a test
    // hold a request there to prove that shutdown waits for it. Null (the default) does nothing.
    using RequestHook = void (*)(const QJsonObject& request);
    static void setRequestHook(RequestHook hook);

    // The process-wide instance, on the channel manager that outlives it.
    static ZvAPI* createInstance(RtpManager* manager, InstallationId installationId);
    static ZvAPI* instance();
    static void destroyInstance();

    ZvAPI(RtpManager* manager, InstallationId installationId);
    ZvAPI(const ZvAPI&) = delete;
    ZvAPI& operator=(const ZvAPI&) = delete;

    // One received message: exactly one reply goes back to the client. Text that is not a JSON
    // object gets {"error":"invalid json format"}.
    void handleRequest(VexaServer* server, const std::shared_ptr<VexaClient>& client, const QByteArray& bytes);
    // Sends the object as compact JSON through the client's send, and logs it masked.
    void sendJson(VexaClient* client, const QJsonObject& reply);
    // {"id": N, "method": method, "rtpId": the channel's id} to every client of the server, N
    // counting every notification of the run from 1. Not logged.
    void notify(VexaServer* server, const QString& method, const RtpInfo& info);

    // The object as compact JSON, with the value of every "password" key (at any depth)
    // replaced by "***": what the log may show of a message.
    static QByteArray maskedText(const QJsonObject& object);

private:
    QJsonObject dispatch(VexaServer* server, const std::shared_ptr<VexaClient>& client, const QJsonObject& request);
    void getDeviceInfo(VexaServer* server, VexaClient* client, const QJsonObject& request, QJsonObject& reply);
    int login(VexaServer* server, VexaClient* client, const QJsonObject& request);
    void channelMethod(int method, const std::shared_ptr<VexaClient>& client, const QJsonObject& request,
                       QJsonObject& reply);
    // The stored record the request names by "rtpId" (> 0), else by the "id" of its "rtp"
    // object: false when it names no stored channel.
    bool requestedChannel(const QJsonObject& request, RtpInfo& info);

    RtpManager* const m_manager;
    const InstallationId m_installationId;
    // Unsigned, so that a run long enough to pass 2^31 notifications wraps instead of
    // overflowing; apps see the ids as JSON numbers.
    std::atomic<uint32_t> m_counter{0};
};
