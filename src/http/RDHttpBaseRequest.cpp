#include "RDHttpBaseRequest.h"

#include "RDData.h"

RDHttpBaseRequest::~RDHttpBaseRequest()
{
    delete m_body;
}

void RDHttpBaseRequest::setBody(RDData* body)
{
    if (body != m_body)
        delete m_body;
    m_body = body;
}

int64_t RDHttpBaseRequest::bodySize() const
{
    return m_body ? m_body->size() : 0;
}
