// Requests of remote apps are network input: any bytes, with authentication on or off and the
// client logged in or not, get exactly one reply that is a JSON object, and only a matching
// login logs a client in. (No channel manager: channel methods answer without one.)
#include "ZvAPI.h"

#include "../VexaSDK/FakeVexaServer.h"
#include "RDJsonParser.h"

#include <QByteArray>
#include <QJsonObject>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool quiet = [] {
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        return true;
    }();
    (void)quiet;
    if (size < 1 || size > (1 << 16))
        return 0;
    // First byte: bit 0 auth on, bit 1 logged in already.
    FakeVexaServer server;
    server.setAuth(data[0] & 1, "admin", "0192023a7bbd73250516f069df18b500");
    auto client = server.connect();
    client->setAuthorized((data[0] & 2) != 0);
    ZvAPI api(nullptr, [] { return QStringLiteral("uid"); });
    api.handleRequest(&server, client, QByteArray(reinterpret_cast<const char*>(data + 1), int(size - 1)));

    const auto replies = client->messages();
    if (replies.size() != 1)
        std::abort();
    if (RDJsonParser::parseObject(QByteArray::fromStdString(replies.front()), nullptr) != RDJsonParser::Status::Ok)
        std::abort();
    QJsonObject request;
    RDJsonParser::parseObject(reinterpret_cast<const char*>(data + 1), size - 1, &request);
    if (!(data[0] & 2) && client->isAuthorized()
        && request.value(QStringLiteral("password")).toString() != QLatin1String("0192023a7bbd73250516f069df18b500"))
        std::abort();
    return 0;
}
