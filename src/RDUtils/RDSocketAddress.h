#pragma once

#include <string>

struct sockaddr_in;

// An IPv4 host text (dotted quad or name) and a port in host byte order.
class RDSocketAddress
{
public:
    RDSocketAddress() = default;
    RDSocketAddress(const std::string& host, int port);
    RDSocketAddress(const RDSocketAddress& other) = default;
    RDSocketAddress& operator=(const RDSocketAddress& other);
    ~RDSocketAddress() = default;

    const std::string& host() const { return m_host; }
    int port() const { return m_port; }
    void setHost(const std::string& host) { m_host = host; }
    void setPort(int port) { m_port = port; }
    void clear();
    bool isEmpty() const { return m_host.empty() && m_port == 0; }
    // "host:port", for log lines.
    std::string toString() const;

    // Takes the numeric address and port of a received or accepted peer.
    void setSockAddr(const sockaddr_in& address);
    // Fills an IPv4 socket address from a dotted-quad host and the port; an empty host means
    // 0.0.0.0. -1 (and nothing filled) for any other host text or a port outside 0..65535.
    int toSockAddr(sockaddr_in* address) const;

    static bool isValidPort(int port) { return port >= 0 && port <= 65535; }
    // Exactly four decimal numbers of 0 to 255 with one dot between them; nothing before or
    // after. (The C library's parsers also take signs, octal, hex and short forms such as
    // "127.1"; none of those count as an address here.)
    static bool isDottedQuad(const std::string& host);
    static bool parseDottedQuad(const std::string& host, unsigned int* networkOrder);
    // Turns host into a dotted quad: kept when it already is one, else looked up as a name and
    // replaced by the text of its first IPv4 address. -1 when the name has no IPv4 address,
    // the look-up fails, or the text is a numeric form that is not a dotted quad.
    static int resolve(std::string& host);
    // The host as a dotted quad for binding or connecting: empty stays "0.0.0.0" when
    // emptyMeansAny, else the text is resolved. -1 on failure.
    static int numericHost(const std::string& host, bool emptyMeansAny, std::string* numeric);

private:
    std::string m_host;
    int m_port = 0;
};
