#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A raw SIP peer for tests: one UDP socket on a loopback address, datagrams written and read as
// text, so a test sees exactly what the stack puts on the wire and when.
class SipTestPeer
{
public:
    struct Datagram
    {
        std::string text;
        int64_t atMs = 0; // monotonic arrival time
    };

    explicit SipTestPeer(const char* ip = "127.0.0.2", int port = 0);
    ~SipTestPeer();
    SipTestPeer(const SipTestPeer&) = delete;
    SipTestPeer& operator=(const SipTestPeer&) = delete;

    bool isOpen() const { return m_fd >= 0; }
    int port() const { return m_port; }
    const std::string& ip() const { return m_ip; }

    bool send(const std::string& text, int toPort, const char* toIp = "127.0.0.1");
    // The next datagram within timeoutMs; empty text when none came.
    Datagram receive(int timeoutMs);
    // The next datagram whose first line starts with prefix ("SIP/2.0 200", "BYE "); others
    // that arrive meanwhile go to skipped.
    Datagram receiveStarting(const std::string& prefix, int timeoutMs, std::vector<Datagram>* skipped = nullptr);
    // Every datagram arriving within ms.
    std::vector<Datagram> collect(int ms);

    static std::string firstLine(const std::string& message);
    // Value of the first header of that name (case-insensitive; compact form not recognised).
    static std::string header(const std::string& message, const std::string& name);
    // A ;name=value parameter of a header value; false when absent (a bare ;name gives "").
    static bool headerParam(const std::string& headerValue, const std::string& name, std::string* value = nullptr);
    // An answer to a request the stack sent: its Via, From, To (with a tag), Call-ID and CSeq.
    static std::string answerTo(const std::string& request, int status, const std::string& reason,
                                const std::string& extraHeaders = std::string());
    static int64_t nowMs();
    // A free UDP port on ip at the time of the call.
    static int freePort(const char* ip);
    // Whether some process has UDP ip:port bound now.
    static bool isBound(const char* ip, int port);
    // Bytes waiting to be read by the UDP socket bound to ip:port (0.0.0.0 for any address);
    // -1 when there is none.
    static long receiveQueue(const char* ip, int port);
    // Waits until another process has bound UDP ip:port; false on time-out.
    static bool waitBound(const char* ip, int port, int timeoutMs);

private:
    int m_fd = -1;
    int m_port = 0;
    std::string m_ip;
};
