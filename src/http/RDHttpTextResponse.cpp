#include "RDHttpTextResponse.h"

#include "RDHttpConnection.h"

RDHttpTextResponse::RDHttpTextResponse()
{
    setHeader("Access-Control-Allow-Origin", "*");
    setHeader("Access-Control-Allow-Headers", "Content-Type,X-Requested-With");
}

void RDHttpTextResponse::clear()
{
    RDHttpResponse::clear();
    m_body.clear();
    m_contentType.clear();
}

void RDHttpTextResponse::send(RDHttpConnection* connection)
{
    // One write: a head and body sent apart meet the peer's delayed ACK on keep-alive
    // connections and cost about 40 ms per reply.
    if (connection)
        connection->writeAll(toString());
}

void RDHttpTextResponse::setContent(const std::string& body, const std::string& contentType)
{
    m_body = body;
    m_contentType = contentType;
    setHeader("Content-Length", std::to_string(body.size()));
    setHeader("Content-Type", contentType);
}

void RDHttpTextResponse::setJson(const std::string& body)
{
    setContent(body, "application/json;charset=UTF-8");
}

void RDHttpTextResponse::setText(const std::string& body)
{
    setContent(body, "text;charset=UTF-8");
}

std::string RDHttpTextResponse::toString() const
{
    return head() + m_body;
}
