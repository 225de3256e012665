#include "RDHttpBinaryResponse.h"

#include "RDData.h"
#include "RDHttpConnection.h"

RDHttpBinaryResponse::RDHttpBinaryResponse()
{
    setHeader("Access-Control-Allow-Origin", "*");
    setHeader("Access-Control-Allow-Headers", "Content-Type,X-Requested-With");
}

RDHttpBinaryResponse::~RDHttpBinaryResponse()
{
    delete m_body;
}

void RDHttpBinaryResponse::clear()
{
    RDHttpResponse::clear();
    setBody(nullptr);
}

void RDHttpBinaryResponse::setBody(RDData* body)
{
    if (body != m_body)
        delete m_body;
    m_body = body;
}

void RDHttpBinaryResponse::send(RDHttpConnection* connection)
{
    if (!connection)
        return;
    connection->writeAll(head());
    char piece[1024];
    while (m_body && connection->isConnected() && !m_body->isEmpty()) {
        // A store that is not ended yet but has nothing to give would otherwise spin here.
        const int n = m_body->read(piece, sizeof(piece));
        if (n <= 0)
            break;
        connection->writeAll(piece, n);
    }
}
