// Feeds arbitrary request heads to what the stream server reads from them beyond the request
// parser: the Basic credentials of the Authorization header (split, trimmed, compared) and the
// stream look-up by path.
#include "RDDigest.h"
#include "RDHttpAudioStream.h"
#include "RDHttpRequest.h"
#include "RDHttpStreamServer.h"

#include <QtGlobal>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

namespace {

void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

constexpr size_t kMaxInput = 70 * 1024;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool installed = (qInstallMessageHandler(quiet), true);
    (void)installed;
    static RDHttpStreamServer* server = [] {
        auto* s = new RDHttpStreamServer;
        RDHttpAudioStream stream;
        stream.path = "/stream/7";
        stream.bufferSize = 8192;
        s->addStream(stream);
        return s;
    }();
    const std::string text(reinterpret_cast<const char*>(data), std::min(size, kMaxInput));

    // The raw text as a header value, and as a whole head.
    RDHttpStreamServer::checkBasicAuthorization(text, "user", "pass");
    RDHttpStreamServer::checkBasicAuthorization(text, "", "");
    RDHttpRequest request;
    if (!request.parse(text))
        return 0;
    const std::string authorization = request.header("Authorization");
    const bool pass = RDHttpStreamServer::checkBasicAuthorization(authorization, "user", "pass");
    if (pass && authorization.find(base64Encode(std::string("user:pass"))) == std::string::npos)
        __builtin_trap();
    if (!RDHttpStreamServer::checkBasicAuthorization(authorization, "", ""))
        __builtin_trap();
    const bool found = server->hasStream(request.path());
    if (found && request.path() != "/stream/7")
        __builtin_trap();
    return 0;
}
