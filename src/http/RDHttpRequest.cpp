#include "RDHttpRequest.h"

#include "RDDecimal.h"
#include "RDString.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace {

// A plain run of decimal digits (blanks and tabs around it allowed); saturates at INT64_MAX, so
// an absurd length is refused as too large rather than as malformed.
bool parseLength(std::string text, int64_t* length)
{
    const size_t first = text.find_first_not_of(" \t");
    const size_t last = text.find_last_not_of(" \t");
    if (first == std::string::npos)
        return false;
    text = text.substr(first, last - first + 1);
    long long value = 0;
    if (!parseDecimal(text, 0, INT64_MAX, &value)) {
        if (text.find_first_not_of("0123456789") != std::string::npos)
            return false;
        value = INT64_MAX;
    }
    *length = value;
    return true;
}

} // namespace

bool RDHttpHeaderLess::operator()(const std::string& a, const std::string& b) const
{
    return lessIgnoreCase(a, b);
}

void RDHttpRequest::clear()
{
    m_method.clear();
    m_target.clear();
    m_path.clear();
    m_query.clear();
    m_version.clear();
    m_headers.clear();
    m_contentLength = 0;
}

RDHttpParseStatus RDHttpRequest::parseHead(const std::string& head)
{
    // RFC 9112 2.2: a line ends with LF and a CR before it is dropped; any other CR is taken
    // as a blank.
    std::vector<std::string> lines = splitString(head, "\n");
    for (std::string& line : lines) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::replace(line.begin(), line.end(), '\r', ' ');
    }
    const std::string& requestLine = lines.front();
    const size_t blank1 = requestLine.find(' ');
    const size_t blank2 = blank1 == std::string::npos ? std::string::npos : requestLine.find(' ', blank1 + 1);
    if (blank2 == std::string::npos)
        return RDHttpParseStatus::MalformedRequestLine;
    std::string method = requestLine.substr(0, blank1);
    std::string target = requestLine.substr(blank1 + 1, blank2 - blank1 - 1);
    std::string version = requestLine.substr(blank2 + 1);
    if (method.empty() || target.empty() || version.empty())
        return RDHttpParseStatus::MalformedRequestLine;

    RDHttpHeaderMap headers;
    bool haveLength = false;
    int64_t contentLength = 0;
    for (size_t i = 1; i < lines.size(); ++i) {
        const size_t colon = lines[i].find(':');
        if (colon == std::string::npos)
            continue;
        std::string name = lines[i].substr(0, colon);
        std::string value = lines[i].substr(colon + 1);
        trim(name);
        trim(value);
        if (compareIgnoreCase(name, "Content-Length") == 0) {
            int64_t length = 0;
            if (!parseLength(value, &length) || (haveLength && length != contentLength))
                return RDHttpParseStatus::MalformedContentLength;
            haveLength = true;
            contentLength = length;
        }
        headers[name] = value;
    }
    // RFC 9112 6.1: a server that does not understand a transfer coding answers 501.
    if (headers.find("Transfer-Encoding") != headers.end())
        return RDHttpParseStatus::TransferCoding;

    const size_t question = target.find('?');
    m_method = std::move(method);
    m_path = urlDecode(target.substr(0, question));
    m_query = question == std::string::npos ? std::string() : target.substr(question + 1);
    m_target = std::move(target);
    m_version = std::move(version);
    m_headers = std::move(headers);
    m_contentLength = contentLength;
    return RDHttpParseStatus::Ok;
}

bool RDHttpRequest::isComplete() const
{
    if (m_method.empty() || m_contentLength < 0)
        return false;
    return m_contentLength == 0 || bodySize() == m_contentLength;
}

std::string RDHttpRequest::header(const std::string& name) const
{
    const auto it = m_headers.find(name);
    return it == m_headers.end() ? std::string() : it->second;
}

bool RDHttpRequest::hasHeader(const std::string& name) const
{
    return m_headers.find(name) != m_headers.end();
}

std::string RDHttpRequest::toString() const
{
    std::string text = m_method + " " + m_target + " " + m_version + "\r\n";
    for (const auto& entry : m_headers)
        text += entry.first + ": " + (isCredentialHeader(entry.first) ? std::string(kHiddenValue) : entry.second) + "\r\n";
    text += "\r\n";
    return text;
}

std::map<std::string, std::string> parseUrlQuery(const std::string& text)
{
    std::map<std::string, std::string> result;
    const size_t question = text.find('?');
    const std::string query = question == std::string::npos ? text : text.substr(question + 1);
    if (query.empty())
        return result;
    for (const std::string& item : splitString(query, "&")) {
        const std::vector<std::string> parts = splitString(item, "=", 3);
        if (parts.size() < 2)
            continue;
        result[urlDecode(parts[0])] = urlDecode(parts[1]);
    }
    return result;
}
