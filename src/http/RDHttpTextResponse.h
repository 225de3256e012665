#pragma once

#include "RDHttpResponse.h"

// A response with a text body held in memory, sent with its head in one piece.
class RDHttpTextResponse : public RDHttpResponse
{
public:
    RDHttpTextResponse();
    ~RDHttpTextResponse() override = default;

    void clear() override;
    void send(RDHttpConnection* connection) override;

    // Stores the body and sets Content-Length and Content-Type.
    void setContent(const std::string& body, const std::string& contentType);
    void setJson(const std::string& body);
    void setText(const std::string& body);

    const std::string& body() const { return m_body; }
    const std::string& contentType() const { return m_contentType; }

    // Head and body as they go on the wire.
    std::string toString() const;

private:
    std::string m_body;
    std::string m_contentType;
};
