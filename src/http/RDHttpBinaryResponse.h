#pragma once

#include "RDHttpResponse.h"

class RDData;

// A response whose body is read from a data store in pieces of up to 1024 bytes.
class RDHttpBinaryResponse : public RDHttpResponse
{
public:
    RDHttpBinaryResponse();
    ~RDHttpBinaryResponse() override;
    RDHttpBinaryResponse(const RDHttpBinaryResponse&) = delete;
    RDHttpBinaryResponse& operator=(const RDHttpBinaryResponse&) = delete;

    void clear() override;
    // The head, then the store's bytes until it is empty or delivers nothing more.
    void send(RDHttpConnection* connection) override;

    // Takes ownership; null sends the head only.
    void setBody(RDData* body);
    RDData* body() const { return m_body; }

private:
    RDData* m_body = nullptr;
};
