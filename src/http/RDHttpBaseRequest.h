#pragma once

#include "RDHttpRequest.h"

class RDData;

// The request a connection produces: the head and the body store it owns.
class RDHttpBaseRequest : public RDHttpRequest
{
public:
    RDHttpBaseRequest() = default;
    ~RDHttpBaseRequest() override;
    RDHttpBaseRequest(const RDHttpBaseRequest&) = delete;
    RDHttpBaseRequest& operator=(const RDHttpBaseRequest&) = delete;

    // The body's unread bytes; null until the connection sets the store.
    RDData* body() const { return m_body; }
    // Takes ownership (a previous store is deleted).
    void setBody(RDData* body);

protected:
    int64_t bodySize() const override;

private:
    RDData* m_body = nullptr;
};
