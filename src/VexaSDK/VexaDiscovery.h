#pragma once

#include "VexaDiscoveryInfo.h"

#include <QByteArray>

#include <atomic>
#include <functional>
#include <memory>
#include <string>

class RDFunctionThread;
class RDThread;
class RDUdpSocket;

// LAN discovery: a remote app broadcasts any JSON object to UDP port 19980; the program answers
// with its connection code, identity and version, broadcast on its subnet to port 19981. The
// thread "Vexa Discovery" owns both sockets.
//
// Replies go out at most once per kReplyIntervalMs: requests inside that window share one
// reply sent at its end, so that a flood of datagrams costs neither a broadcast nor a settings
// read each.
//
// start, stop and setAddress run on the owner's thread (the GUI thread) while the thread is not
// running; the info source is called on the discovery thread.
class VexaDiscovery
{
public:
    static constexpr int kRequestPort = 19980;
    static constexpr int kReplyPort = 19981;
    static constexpr int kDefaultApiPort = 9012;
    static constexpr int kReplyIntervalMs = 100;
    // A UDP datagram holds at most 65,507 bytes; the buffer takes any with a byte to spare, so
    // that none is cut short.
    static constexpr int kReceiveBufferSize = 65536 + 1;

    using InfoSource = std::function<VexaDiscoveryInfo()>;

    explicit VexaDiscovery(InfoSource source, int requestPort = kRequestPort, int replyPort = kReplyPort);
    ~VexaDiscovery();
    VexaDiscovery(const VexaDiscovery&) = delete;
    VexaDiscovery& operator=(const VexaDiscovery&) = delete;

    // The chosen adapter's IPv4 address and netmask as dotted text (either may be empty): the
    // replies go to its subnet's broadcast address and leave from that address.
    void setAddress(const std::string& address, const std::string& netmask);
    const std::string& address() const { return m_address; }

    // Stops a running thread, opens the sockets and starts the thread: false when port
    // requestPort cannot be bound (discovery is then silent).
    bool start();
    void stop();
    bool isRunning() const { return m_thread != nullptr; }
    // Replies sent since start, for tests.
    int replies() const { return m_replies.load(); }

    // The reply as compact JSON: "code" (when one is offered), "name", "result" 0, "type" "Zv",
    // "uid", "version".
    static QByteArray reply(const VexaDiscoveryInfo& info);
    // address | ~netmask; "255.255.255.255" when the address is not a dotted quad. A netmask
    // that is not one counts as /24, as a subnet was always taken to be.
    static std::string broadcastAddress(const std::string& address, const std::string& netmask);
    // True when the datagram is a JSON object, the only thing discovery answers (anything else
    // is logged and dropped). Any thread.
    static bool isRequest(const char* data, int length);

private:
    bool openSockets();
    void closeSockets();
    void run(RDThread* thread);
    void broadcast();

    InfoSource m_source;
    const int m_requestPort;
    const int m_replyPort;
    std::string m_address;
    std::string m_netmask;
    std::string m_destination;
    std::unique_ptr<RDUdpSocket> m_recvSocket;
    std::unique_ptr<RDUdpSocket> m_sendSocket;
    std::unique_ptr<RDFunctionThread> m_thread;
    std::atomic<int> m_replies{0};
};
