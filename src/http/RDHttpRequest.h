#pragma once

#include "RDHttpParseStatus.h"

#include <cstdint>
#include <map>
#include <string>

// Header names are matched without regard to letter case (RFC 9110), so that a client writing
// "content-length" frames its body the same way as one writing "Content-Length".
struct RDHttpHeaderLess
{
    bool operator()(const std::string& a, const std::string& b) const;
};
using RDHttpHeaderMap = std::map<std::string, std::string, RDHttpHeaderLess>;

// The head of one HTTP/1.1 request.
class RDHttpRequest
{
public:
    RDHttpRequest() = default;
    virtual ~RDHttpRequest() = default;

    // Empties every field.
    virtual void clear();

    // Fills the fields from the head text (request line and header lines, each ended by CR LF
    // or a bare LF, without the empty line). Anything but Ok leaves the fields unchanged: a request line that
    // is not "method target version", a Content-Length that is not a plain decimal number (or is
    // given twice with different values), a Transfer-Encoding header.
    RDHttpParseStatus parseHead(const std::string& head);
    // parseHead(head) == Ok, for callers that only need to know whether it read.
    bool parse(const std::string& head) { return parseHead(head) == RDHttpParseStatus::Ok; }
    // The method is set and the body holds exactly the announced length.
    bool isComplete() const;

    const std::string& method() const { return m_method; }
    // The request target exactly as sent, query included.
    const std::string& target() const { return m_target; }
    // The target's path without the query, URL-decoded once.
    const std::string& path() const { return m_path; }
    // The raw query (what follows the first '?'), not decoded; for parseUrlQuery.
    const std::string& query() const { return m_query; }
    const std::string& version() const { return m_version; }
    const RDHttpHeaderMap& headers() const { return m_headers; }
    // The header's value (name in any letter case), empty when absent.
    std::string header(const std::string& name) const;
    bool hasHeader(const std::string& name) const;
    // Content-Length; 0 when absent. A number too large for 64 bits reads as INT64_MAX.
    int64_t contentLength() const { return m_contentLength; }

    // Request line and headers for the log; credentials are masked. The body is not included.
    std::string toString() const;

protected:
    virtual int64_t bodySize() const { return 0; }

private:
    std::string m_method;
    std::string m_target;
    std::string m_path;
    std::string m_query;
    std::string m_version;
    RDHttpHeaderMap m_headers;
    int64_t m_contentLength = 0;
};

// Key/value pairs of a URL query: the text after the first '?' (the whole text when it has
// none), items split on '&' and each on '='; keys and values are URL-decoded once, items
// without '=' are skipped, and a repeated key keeps its last value. Pass the raw target or
// query (RDHttpRequest::target or query), never an already decoded path.
std::map<std::string, std::string> parseUrlQuery(const std::string& text);
