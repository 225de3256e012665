#pragma once

#include <string>

// The opening handshake of a WebSocket connection, server side (RFC 6455 4.2). Parsing is a
// pure function of the bytes received so far; the client turns the status into its answer in
// one place (httpStatus, response).
class WSHandshake
{
public:
    enum class Status
    {
        Ok,
        Incomplete,      // no blank line yet: read more
        TooLarge,        // no blank line within kMaxRequestBytes
        TimedOut,        // the caller's own: no whole request within its time
        MalformedHead,   // not an HTTP request head (RFC 9112 3)
        NotGet,          // RFC 6455 4.2.1 item 1
        NotUpgrade,      // Upgrade lacks "websocket" or Connection lacks "upgrade" (4.2.1 items 3, 4)
        MissingKey,      // no Sec-WebSocket-Key (4.2.1 item 5)
    };

    // A request head (request line and headers, blank line included) is at most this long;
    // real clients send well under 1 KiB.
    static constexpr int kMaxRequestBytes = 8 * 1024;
    // Appended to the client's key before hashing (RFC 6455 1.3).
    static constexpr const char* kKeyGuid = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";

    // Reads the head at the start of data (length bytes). On Ok, headLength() is the head's size
    // with its blank line: the bytes after it are already frames. Anything but Ok leaves the
    // fields unchanged.
    Status parse(const char* data, int length);

    const std::string& key() const { return m_key; }
    int headLength() const { return m_headLength; }

    // base64(SHA-1(key + kKeyGuid)) (RFC 6455 4.2.2 item 5.4).
    static std::string acceptKey(const std::string& key);
    // The 101 answer for the key.
    static std::string acceptResponse(const std::string& key);
    // The HTTP status a refused handshake is answered with (0 for Ok and Incomplete).
    static int httpStatus(Status status);
    // The whole refusal answer (status line, Connection: close, no body).
    static std::string refusalResponse(Status status);
    static const char* describe(Status status);

private:
    std::string m_key;
    int m_headLength = 0;
};
