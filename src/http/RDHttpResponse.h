#pragma once

#include <map>
#include <string>

class RDHttpConnection;

// A response: status line and headers (written in ascending byte order of their names), sent
// once through a connection by the subclass's send.
class RDHttpResponse
{
public:
    RDHttpResponse() = default;
    virtual ~RDHttpResponse() = default;

    // Empties version and reason, sets status 0 and drops the headers.
    virtual void clear();
    virtual void send(RDHttpConnection* connection) = 0;

    // Sets the status and its standard reason phrase ("OK" for codes without one).
    void setStatus(int code);
    int status() const { return m_status; }
    const std::string& reason() const { return m_reason; }
    const std::string& version() const { return m_version; }

    // Inserts or replaces; CR and LF in either text become blanks so that a value cannot
    // start a header line of its own.
    void setHeader(const std::string& name, const std::string& value);
    void setContentType(const std::string& value);
    std::string header(const std::string& name) const;
    const std::map<std::string, std::string>& headers() const { return m_headers; }

    // Status line, header lines and the empty line.
    std::string head() const;

    static const char* reasonPhrase(int code);

private:
    std::string m_version = "HTTP/1.1";
    int m_status = 200;
    std::string m_reason = "OK";
    std::map<std::string, std::string> m_headers;
};
