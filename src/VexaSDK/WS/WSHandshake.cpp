#include "WSHandshake.h"

#include "RDDigest.h"
#include "RDHttpRequest.h"
#include "RDHttpResponse.h"
#include "RDString.h"

#include <algorithm>
#include <cstring>

namespace {

const char kBlankLine[] = "\r\n\r\n";
constexpr int kBlankLineSize = 4;

// RFC 9110 5.6.1: a comma-separated list; tokens compared without regard to case.
bool listHasToken(const std::string& list, const char* token)
{
    for (const std::string& item : splitString(list, ",")) {
        const size_t first = item.find_first_not_of(" \t");
        const size_t last = item.find_last_not_of(" \t");
        if (first != std::string::npos && equalsIgnoreCase(item.substr(first, last - first + 1).c_str(), token))
            return true;
    }
    return false;
}

} // namespace

WSHandshake::Status WSHandshake::parse(const char* data, int length)
{
    if (!data || length <= 0)
        return Status::Incomplete;
    const int window = std::min(length, kMaxRequestBytes);
    const char* end = std::search(data, data + window, kBlankLine, kBlankLine + kBlankLineSize);
    if (end == data + window)
        return length >= kMaxRequestBytes ? Status::TooLarge : Status::Incomplete;

    RDHttpRequest request;
    if (request.parseHead(std::string(data, end)) != RDHttpParseStatus::Ok)
        return Status::MalformedHead;
    if (request.method() != "GET")
        return Status::NotGet;
    if (!listHasToken(request.header("Upgrade"), "websocket") ||
        !listHasToken(request.header("Connection"), "upgrade"))
        return Status::NotUpgrade;
    std::string key = request.header("Sec-WebSocket-Key");
    if (key.empty())
        return Status::MissingKey;

    m_key = std::move(key);
    m_headLength = static_cast<int>(end - data) + kBlankLineSize;
    return Status::Ok;
}

std::string WSHandshake::acceptKey(const std::string& key)
{
    const std::string text = key + kKeyGuid;
    unsigned char digest[kSha1DigestSize];
    sha1(text.data(), static_cast<int>(text.size()), digest);
    return base64Encode(digest, kSha1DigestSize);
}

std::string WSHandshake::acceptResponse(const std::string& key)
{
    return "HTTP/1.1 101 Switching Protocols\r\n"
           "Upgrade: WebSocket\r\n"
           "Connection: Upgrade\r\n"
           "Sec-WebSocket-Accept: " +
           acceptKey(key) + "\r\n\r\n";
}

int WSHandshake::httpStatus(Status status)
{
    switch (status) {
    case Status::Ok:
    case Status::Incomplete:
        return 0;
    case Status::TooLarge:
        return 431;
    case Status::TimedOut:
        return 408;
    case Status::NotGet:
        return 405;
    case Status::MalformedHead:
    case Status::NotUpgrade:
    case Status::MissingKey:
        return 400;
    }
    return 400;
}

std::string WSHandshake::refusalResponse(Status status)
{
    const int code = httpStatus(status);
    std::string text = "HTTP/1.1 " + std::to_string(code) + " " + RDHttpResponse::reasonPhrase(code) + "\r\n";
    // RFC 6455 4.4: tells a client of another version which one is spoken here.
    if (status == Status::NotUpgrade || status == Status::MissingKey)
        text += "Sec-WebSocket-Version: 13\r\n";
    text += "Connection: close\r\nContent-Length: 0\r\n\r\n";
    return text;
}

const char* WSHandshake::describe(Status status)
{
    switch (status) {
    case Status::Ok:
        return "ok";
    case Status::Incomplete:
        return "incomplete";
    case Status::TooLarge:
        return "request head too large";
    case Status::TimedOut:
        return "request head incomplete in time";
    case Status::MalformedHead:
        return "malformed request head";
    case Status::NotGet:
        return "method is not GET";
    case Status::NotUpgrade:
        return "not a websocket upgrade";
    case Status::MissingKey:
        return "no Sec-WebSocket-Key";
    }
    return "unknown";
}
